#include "response_functions.h"

#include <cstring>

#include "byte_text.h"
#include "scripted_call.h"

namespace electron_morvane::scriptable_sdk {
namespace {

void DescribeErrorText(const char* errorMsg, nlohmann::json& entry) {
  entry["errorMsg"] = TextOrNull(errorMsg);
  entry["errorMsgLength"] = errorMsg == nullptr ? 0 : std::strlen(errorMsg);
}

}  // namespace

std::int32_t LoggedDownloadResponse(std::int32_t sdkTaskId, std::int32_t progress,
                                    std::uint8_t isFinish, std::int32_t result,
                                    std::int32_t httpStatusCode, const char* errorMsg,
                                    std::uint64_t sdkData) {
  ScriptedCall call("downloadResponse");
  auto& entry = call.Entry();
  entry["sdkTaskId"] = sdkTaskId;
  entry["progress"] = progress;
  entry["isFinish"] = isFinish;
  entry["result"] = result;
  entry["httpStatusCode"] = httpStatusCode;
  DescribeErrorText(errorMsg, entry);
  entry["sdkData"] = ToDecimal(sdkData);
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

std::int32_t LoggedHttpResponse(std::int32_t sdkTaskId, std::int32_t result,
                                std::int32_t httpStatusCode, const char* errorMsg,
                                const SdkHeaderPair* headers, std::uint32_t headerCount,
                                const char* body, std::uint32_t bodyLength, std::uint64_t sdkData) {
  ScriptedCall call("httpResponse");
  auto& entry = call.Entry();
  entry["sdkTaskId"] = sdkTaskId;
  entry["result"] = result;
  entry["httpStatusCode"] = httpStatusCode;
  DescribeErrorText(errorMsg, entry);
  entry["headersNull"] = headers == nullptr;
  entry["headerCount"] = headerCount;
  auto pairs = nlohmann::json::array();
  if (headers != nullptr) {
    for (std::uint32_t i = 0; i < headerCount; ++i) {
      pairs.push_back({TextOrNull(headers[i].name), TextOrNull(headers[i].value)});
    }
  }
  entry["headers"] = pairs;
  entry["bodyNull"] = body == nullptr;
  entry["bodyLength"] = bodyLength;
  if (body != nullptr) {
    if (call.LogsBodyBytes()) entry["bodyHex"] = ToHex(body, bodyLength);
    // The bridge promises a NUL after the last counted byte.
    entry["bodyTerminated"] = body[bodyLength] == '\0';
  }
  entry["sdkData"] = ToDecimal(sdkData);
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

}  // namespace electron_morvane::scriptable_sdk
