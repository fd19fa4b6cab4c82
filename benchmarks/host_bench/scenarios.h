// The scriptable library's scenarios for each figure. All keep the call log down to what the
// figure checks, so the library's own bookkeeping costs next to nothing.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace electron_morvane::bench {

// Every setDriverDownloadDir call fires one httpRequest before it returns; the call log keeps
// httpResponse calls, with the body's bytes only when `bodyBytes`.
nlohmann::json BodyScenario(const std::string& version, bool bodyBytes);
// Each setDriverDownloadDir call starts `threads` library threads that each fire `count`
// numbered log lines. (Not init: the bridge takes log lines only once init has returned.)
nlohmann::json LogScenario(const std::string& version, std::uint32_t threads, std::uint32_t count);
// Nothing fired, nothing logged.
nlohmann::json QuietScenario(const std::string& version);

}  // namespace electron_morvane::bench
