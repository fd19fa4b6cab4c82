#pragma once

#include <cstdint>
#include <string>

namespace electron_morvane {

// The driver library's outcome of a call: 0 success, negative failure.
using ResultCode = std::int32_t;

constexpr ResultCode kResultOk = 0;
// A response starts with this code until its handler stores the library's result.
constexpr ResultCode kResultNotStored = -1005;

// The fixed status text of a result code; "unknown" for codes outside the table.
std::string StatusString(ResultCode code);

}  // namespace electron_morvane
