// A scenario: what the scriptable library answers and which callbacks it fires, parsed from
// JSON (README.md gives the format).
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "sdk/morvane_sdk.h"

namespace electron_morvane::scriptable_sdk {

// One scripted answer of Morvane_GetDisplayDevice; unset members take their defaults at the call.
struct DeviceAnswer {
  std::int32_t result = MORVANE_OK;
  std::optional<std::uint32_t> count;
  std::optional<std::uint32_t> fill;
};

struct DisplayDevicesScript {
  std::vector<SdkDisplayDeviceRecord> records;
  std::vector<DeviceAnswer> answers;  // the n-th call takes the n-th answer
  bool alwaysTooSmall = false;
};

// Which per-job userData a check or update report carries.
enum class JobUserData { kJob, kNull };

struct LogFire {
  std::string line;
  // Appends the firing thread's number and the line's number within that thread, so a reader
  // can tell lost or reordered lines apart.
  bool numbered = false;
};

struct DownloadFire {
  std::string url;
  std::string path;
  std::int32_t sdkTaskId = 0;
  std::uint64_t sdkData = 0;
};

struct CancelDownloadFire {
  std::int32_t sdkTaskId = 0;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequestFire {
  std::string url;
  std::int32_t method = MORVANE_HTTP_GET;
  std::optional<HeaderList> headers;  // none: a null array
  std::string body;
  std::int32_t sdkTaskId = 0;
  std::uint64_t sdkData = 0;
};

// A check result; unset texts come from the job (vendorId, deviceId) or are empty.
struct CheckReport {
  std::optional<std::string> name;
  std::optional<std::string> vendorId;
  std::optional<std::string> deviceId;
  std::optional<std::string> driverVersion;
  std::optional<std::string> driverDate;
  std::uint32_t fileSize = 0;
  bool needUpdate = false;
  std::int32_t errorCode = 0;
  std::optional<std::string> errorMsg = std::string();  // none: a null pointer
};

struct CheckFire {
  CheckReport report;
  JobUserData userData = JobUserData::kJob;
};

// Reports every check still waiting for its result, in the order started or the reverse.
struct PendingChecksFire {
  CheckReport report;
  bool reverse = false;
};

struct UpdateStep {
  std::uint32_t state = MORVANE_UPDATE_UNKNOWN;
  std::int32_t progress = 0;
  std::int32_t errorCode = 0;
  std::string errorMsg;
};

struct UpdateFire {
  std::optional<std::string> vendorId;  // none: the job's
  std::optional<std::string> deviceId;  // none: the job's
  std::vector<UpdateStep> steps;
  JobUserData userData = JobUserData::kJob;
};

using FireWhat = std::variant<LogFire, DownloadFire, CancelDownloadFire, HttpRequestFire, CheckFire,
                              PendingChecksFire, UpdateFire>;

// What to fire, and how: every one of `threads` threads waits `delayMs`, then fires `count`
// times with `intervalMs` between.
struct Firing {
  FireWhat what;
  std::uint32_t threads = 1;
  std::uint32_t count = 1;
  std::uint32_t delayMs = 0;
  std::uint32_t intervalMs = 0;
};

enum class Timing { kBeforeReturn, kAfterReturn };

struct Action {
  std::string on;                     // the function whose call triggers the action
  std::optional<std::uint64_t> call;  // only the n-th call (from 1); none: every call
  Timing when = Timing::kAfterReturn;
  Firing firing;
};

struct Scenario {
  std::map<std::string, std::int32_t> results;  // by function name; absent: 0
  std::string version = "9.8.7-scripted";
  bool fillDownloadResponse = true;
  bool fillHttpResponse = true;
  // Whether the library keeps the appName text of the record it was given and reads it again at
  // the next Morvane_InitSDK, before it takes the new record (as a library whose threads use the
  // texts they were given may).
  bool keepsAppName = false;
  DisplayDevicesScript displayDevices;
  std::vector<Action> actions;
  // Which calls the call log keeps (none: every call), and whether it keeps the bytes of HTTP
  // bodies. Measurements turn both down so the library's own bookkeeping costs next to nothing.
  std::optional<std::set<std::string>> loggedFunctions;
  bool logBodyBytes = true;
  // Variables whose values (as the library sees them at the call) each call log entry shows.
  std::vector<std::string> loggedVariables;
};

// The names a scenario may use for "results" and "on".
bool IsScriptableFunction(const std::string& name);

// Throw std::invalid_argument naming the offending member.
Scenario ParseScenario(const nlohmann::json& scenario);
Firing ParseFiring(const nlohmann::json& action);

}  // namespace electron_morvane::scriptable_sdk
