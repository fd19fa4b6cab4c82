// The library's two response functions, which it writes into the bridge's response table. They
// log every call with all its arguments.
#pragma once

#include <cstdint>

#include "sdk/morvane_sdk.h"

namespace electron_morvane::scriptable_sdk {

std::int32_t LoggedDownloadResponse(std::int32_t sdkTaskId, std::int32_t progress,
                                    std::uint8_t isFinish, std::int32_t result,
                                    std::int32_t httpStatusCode, const char* errorMsg,
                                    std::uint64_t sdkData);

std::int32_t LoggedHttpResponse(std::int32_t sdkTaskId, std::int32_t result,
                                std::int32_t httpStatusCode, const char* errorMsg,
                                const SdkHeaderPair* headers, std::uint32_t headerCount,
                                const char* body, std::uint32_t bodyLength, std::uint64_t sdkData);

}  // namespace electron_morvane::scriptable_sdk
