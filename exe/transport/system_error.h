// System error codes as the bridge reports them: the Windows codes on every platform, so a host
// sees the same exit codes everywhere.
#pragma once

#include <cstdint>

namespace electron_morvane {

using SystemError = std::uint32_t;

constexpr SystemError kErrorSuccess = 0;
constexpr SystemError kErrorFileNotFound = 2;
constexpr SystemError kErrorPathNotFound = 3;
constexpr SystemError kErrorTooManyOpenFiles = 4;
constexpr SystemError kErrorAccessDenied = 5;
constexpr SystemError kErrorInvalidHandle = 6;
constexpr SystemError kErrorNotEnoughMemory = 8;
constexpr SystemError kErrorWriteProtect = 19;
constexpr SystemError kErrorGenFailure = 31;
constexpr SystemError kErrorInvalidParameter = 87;
constexpr SystemError kErrorBrokenPipe = 109;
constexpr SystemError kErrorDiskFull = 112;
constexpr SystemError kErrorSemTimeout = 121;
constexpr SystemError kErrorFilenameExcedRange = 206;
constexpr SystemError kErrorPipeBusy = 231;
constexpr SystemError kErrorPipeNotConnected = 233;

}  // namespace electron_morvane
