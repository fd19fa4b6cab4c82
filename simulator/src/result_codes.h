// The result codes this library reports, named after their status texts.
#pragma once

#include <cstdint>
#include <string>

namespace electron_morvane::sim {

constexpr int32_t kOk = 0;
constexpr int32_t kInvalidParameter = -1000;
constexpr int32_t kArraySizeNotEnough = -1001;
constexpr int32_t kCancelOperation = -1003;
constexpr int32_t kCannotCancel = -1004;
constexpr int32_t kErrorSdkStatus = -1006;
constexpr int32_t kBusinessNoSdkConfig = -2000;
constexpr int32_t kDownloadDriverConfigFail = -2002;
constexpr int32_t kParseDriverConfigFail = -2004;
constexpr int32_t kNoMatchDriver = -2005;
constexpr int32_t kNoGraphicsDevice = -2006;
constexpr int32_t kCurrentDriverNewer = -2007;
constexpr int32_t kFileMd5CheckFail = -2008;
constexpr int32_t kGetDeviceInfoFail = -2009;
constexpr int32_t kDiskSpaceNotEnoughInstall = -2010;
constexpr int32_t kDiskSpaceNotEnoughDownload = -2011;
constexpr int32_t kNotCurrentUpdateDevice = -2014;
constexpr int32_t kNotCurrentCheckDevice = -2015;
constexpr int32_t kCannotRetryCheck = -2013;
constexpr int32_t kAnotherDeviceUpdating = -2016;
constexpr int32_t kTimeout = -3000;
constexpr int32_t kNetError = -3001;

// The outcome of one step of a job: kOk, or a result code with a text for the host.
struct StepResult {
  int32_t code = kOk;
  std::string message;

  bool ok() const { return code == kOk; }
};

}  // namespace electron_morvane::sim
