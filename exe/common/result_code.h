// The driver library's result codes, which the library's wrapper returns and the protocol writes
// into responses. Plain integers: no JSON, no library.
#pragma once

#include <cstdint>

namespace electron_morvane {

// The driver library's outcome of a call: 0 success, negative failure.
using ResultCode = std::int32_t;

constexpr ResultCode kResultOk = 0;
// A response starts with this code until its handler stores the library's result.
constexpr ResultCode kResultNotStored = -1005;

}  // namespace electron_morvane
