// The process's environment as the library sees it, for call log entries that show it (a
// scenario's callLog.environment). One twin per platform: environment_posix.cpp,
// environment_win.cpp.
#pragma once

#include <optional>
#include <string>

namespace electron_morvane::scriptable_sdk {

// The variable's value, or nullopt when it is not set.
std::optional<std::string> VariableSeen(const std::string& name);

}  // namespace electron_morvane::scriptable_sdk
