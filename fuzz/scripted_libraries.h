// The driver libraries the fuzzer plays against: scenarios of the scriptable library, one of
// which the first byte of each input picks, so that the library's callbacks and answers take
// part in what the bridge writes.
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

namespace electron_morvane::fuzz {

// The scenario for an input's first byte: '0' picks the first, '1' the second, and so on,
// wrapping around; every byte picks one.
const nlohmann::json& ScenarioFor(std::uint8_t selector);

}  // namespace electron_morvane::fuzz
