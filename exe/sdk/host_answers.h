// The host's answers to the library's downloads and HTTP requests, as the event handlers decode
// them and SdkWrapper hands them to the library's response functions.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "common/result_code.h"

namespace electron_morvane {

struct DownloadProgressParam {
  std::int32_t sdkTaskId = 0;
  std::int32_t progress = 0;
  bool isFinish = false;
  ResultCode result = kResultNotStored;  // no answer has filled it in yet
  std::int32_t httpStatusCode = 0;
  std::string errorMsg;
  std::uint64_t sdkData = 0;
};

struct HttpResponseParam {
  std::int32_t sdkTaskId = 0;
  ResultCode result = kResultNotStored;  // no answer has filled it in yet
  std::int32_t httpStatusCode = 0;
  std::string errorMsg;
  std::map<std::string, std::string> headers;
  std::string body;
  std::uint64_t sdkData = 0;
};

}  // namespace electron_morvane
