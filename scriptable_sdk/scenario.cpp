#include "scenario.h"

#include <array>
#include <stdexcept>

#include "byte_text.h"
#include "object_reader.h"

namespace electron_morvane::scriptable_sdk {
namespace {

constexpr std::array<const char*, 11> kFunctions = {
    "Morvane_InitSDK",
    "Morvane_UninitSDK",
    "Morvane_GetSDKVersion",
    "Morvane_GetDisplayDevice",
    "Morvane_CheckDisplayDeviceDriver",
    "Morvane_CancelCheckDisplayDeviceDriver",
    "Morvane_UpdateDisplayDeviceDriver",
    "Morvane_CancelUpdateDisplayDeviceDriver",
    "Morvane_SetDriverDownloadDir",
    "downloadResponse",
    "httpResponse",
};

std::string Indexed(const std::string& where, std::size_t index) {
  return where + "[" + std::to_string(index) + "]";
}

const nlohmann::json& ArrayMember(ObjectReader& reader, const std::string& key) {
  const auto& value = reader.Raw(key);
  if (!value.is_array()) reader.Fail(key, "must be an array");
  return value;
}

SdkDisplayDeviceRecord ParseDeviceRecord(const nlohmann::json& json, const std::string& where) {
  ObjectReader reader(json, where);
  SdkDisplayDeviceRecord record{};
  FillArray(record.name, reader.Text("name", ""));
  FillArray(record.driverVersion, reader.Text("driverVersion", ""));
  FillArray(record.driverDate, reader.Text("driverDate", ""));
  FillArray(record.vendorId, reader.Text("vendorId", ""));
  FillArray(record.deviceId, reader.Text("deviceId", ""));
  record.enable = reader.Bool("enable", false) ? 1 : 0;
  record.problemCode = reader.Int32("problemCode", 0);
  record.vendorType = reader.Int32("vendorType", 0);
  reader.Finish();
  return record;
}

DeviceAnswer ParseDeviceAnswer(const nlohmann::json& json, const std::string& where) {
  ObjectReader reader(json, where);
  DeviceAnswer answer;
  answer.result = reader.Int32("result", MORVANE_OK);
  answer.count = reader.OptionalUInt32("count");
  answer.fill = reader.OptionalUInt32("fill");
  reader.Finish();
  return answer;
}

DisplayDevicesScript ParseDisplayDevices(const nlohmann::json& json, const std::string& where) {
  ObjectReader reader(json, where);
  DisplayDevicesScript script;
  if (reader.Has("records")) {
    const auto& records = ArrayMember(reader, "records");
    for (std::size_t i = 0; i < records.size(); ++i) {
      script.records.push_back(ParseDeviceRecord(records[i], Indexed(reader.Where("records"), i)));
    }
  }
  if (reader.Has("answers")) {
    const auto& answers = ArrayMember(reader, "answers");
    for (std::size_t i = 0; i < answers.size(); ++i) {
      script.answers.push_back(ParseDeviceAnswer(answers[i], Indexed(reader.Where("answers"), i)));
    }
  }
  script.alwaysTooSmall = reader.Bool("alwaysTooSmall", false);
  reader.Finish();
  return script;
}

JobUserData ParseUserData(ObjectReader& reader) {
  const std::string choice = reader.Text("userData", "job");
  if (choice == "job") return JobUserData::kJob;
  if (choice == "null") return JobUserData::kNull;
  reader.Fail("userData", "must be \"job\" or \"null\"");
}

// "errorMsg": a text, or null for a null pointer; absent: the empty text.
std::optional<std::string> ParseNullableText(ObjectReader& reader, const std::string& key) {
  if (!reader.Has(key)) return std::string();
  if (reader.Raw(key).is_null()) return std::nullopt;
  return reader.Text(key, "");
}

CheckReport ParseCheckReport(ObjectReader& reader) {
  CheckReport report;
  if (reader.Has("info")) {
    ObjectReader info(reader.Raw("info"), reader.Where("info"));
    report.name = info.OptionalText("name");
    report.vendorId = info.OptionalText("vendorId");
    report.deviceId = info.OptionalText("deviceId");
    report.driverVersion = info.OptionalText("driverVersion");
    report.driverDate = info.OptionalText("driverDate");
    report.fileSize = info.UInt32("fileSize", 0);
    info.Finish();
  }
  report.needUpdate = reader.Bool("needUpdate", false);
  report.errorCode = reader.Int32("errorCode", 0);
  report.errorMsg = ParseNullableText(reader, "errorMsg");
  return report;
}

UpdateStep ParseUpdateStep(ObjectReader& reader) {
  UpdateStep step;
  step.state = reader.UInt32("state", MORVANE_UPDATE_UNKNOWN);
  step.progress = reader.Int32("progress", 0);
  step.errorCode = reader.Int32("errorCode", 0);
  step.errorMsg = reader.Text("errorMsg", "");
  return step;
}

HeaderList ParseHeaders(ObjectReader& reader) {
  const auto& headers = ArrayMember(reader, "headers");
  HeaderList list;
  for (const auto& pair : headers) {
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string()) {
      reader.Fail("headers", "must hold [name, value] pairs of strings");
    }
    list.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
  }
  return list;
}

std::string ParseBody(ObjectReader& reader) {
  if (reader.Has("body") && reader.Has("bodyHex")) {
    reader.Fail("bodyHex", "cannot be given together with body");
  }
  if (!reader.Has("bodyHex")) return reader.Text("body", "");
  const auto bytes = FromHex(reader.Text("bodyHex", ""));
  if (!bytes) reader.Fail("bodyHex", "must be an even number of hex digits");
  return *bytes;
}

FireWhat ParseFireWhat(ObjectReader& reader) {
  const std::string kind = reader.Text("fire", "");
  if (kind == "log") return LogFire{reader.Text("line", ""), reader.Bool("numbered", false)};
  if (kind == "download") {
    DownloadFire fire;
    fire.url = reader.Text("url", "");
    fire.path = reader.Text("path", "");
    fire.sdkTaskId = reader.Int32("sdkTaskId", 0);
    fire.sdkData = reader.UInt64("sdkData", 0);
    return fire;
  }
  if (kind == "cancelDownload") return CancelDownloadFire{reader.Int32("sdkTaskId", 0)};
  if (kind == "httpRequest") {
    HttpRequestFire fire;
    fire.url = reader.Text("url", "");
    fire.method = reader.Int32("method", MORVANE_HTTP_GET);
    if (reader.Has("headers") && !reader.Raw("headers").is_null()) {
      fire.headers = ParseHeaders(reader);
    }
    fire.body = ParseBody(reader);
    fire.sdkTaskId = reader.Int32("sdkTaskId", 0);
    fire.sdkData = reader.UInt64("sdkData", 0);
    return fire;
  }
  if (kind == "check") {
    CheckFire fire;
    fire.report = ParseCheckReport(reader);
    fire.userData = ParseUserData(reader);
    return fire;
  }
  if (kind == "pendingChecks") {
    PendingChecksFire fire;
    fire.report = ParseCheckReport(reader);
    const std::string order = reader.Text("order", "started");
    if (order != "started" && order != "reverse") {
      reader.Fail("order", "must be \"started\" or \"reverse\"");
    }
    fire.reverse = order == "reverse";
    return fire;
  }
  if (kind == "update") {
    UpdateFire fire;
    fire.vendorId = reader.OptionalText("vendorId");
    fire.deviceId = reader.OptionalText("deviceId");
    fire.userData = ParseUserData(reader);
    if (reader.Has("steps")) {
      const auto& steps = ArrayMember(reader, "steps");
      for (std::size_t i = 0; i < steps.size(); ++i) {
        ObjectReader step(steps[i], Indexed(reader.Where("steps"), i));
        fire.steps.push_back(ParseUpdateStep(step));
        step.Finish();
      }
    } else {
      fire.steps.push_back(ParseUpdateStep(reader));
    }
    return fire;
  }
  reader.Fail("fire",
              "must be one of log, download, cancelDownload, httpRequest, check, pendingChecks, "
              "update");
}

Firing ParseFiringMembers(ObjectReader& reader) {
  Firing firing;
  firing.what = ParseFireWhat(reader);
  firing.threads = reader.UInt32("threads", 1);
  firing.count = reader.UInt32("count", 1);
  firing.delayMs = reader.UInt32("delayMs", 0);
  firing.intervalMs = reader.UInt32("intervalMs", 0);
  return firing;
}

Action ParseAction(const nlohmann::json& json, const std::string& where) {
  ObjectReader reader(json, where);
  Action action;
  action.on = reader.Text("on", "");
  if (!IsScriptableFunction(action.on)) reader.Fail("on", "names no function of the library");
  if (reader.Has("call")) {
    action.call = reader.UInt64("call", 0);
    if (*action.call == 0) reader.Fail("call", "counts from 1");
  }
  const std::string when = reader.Text("when", "after");
  if (when != "before" && when != "after") reader.Fail("when", "must be \"before\" or \"after\"");
  action.when = when == "before" ? Timing::kBeforeReturn : Timing::kAfterReturn;
  action.firing = ParseFiringMembers(reader);
  reader.Finish();
  return action;
}

void ParseCallLog(const nlohmann::json& json, const std::string& where, Scenario& scenario) {
  ObjectReader reader(json, where);
  if (reader.Has("functions")) {
    std::set<std::string> names;
    for (const auto& name : ArrayMember(reader, "functions")) {
      if (!name.is_string() || !IsScriptableFunction(name.get<std::string>())) {
        reader.Fail("functions", "must list functions of the library by name");
      }
      names.insert(name.get<std::string>());
    }
    scenario.loggedFunctions = std::move(names);
  }
  scenario.logBodyBytes = reader.Bool("bodyHex", true);
  if (reader.Has("environment")) {
    for (const auto& name : ArrayMember(reader, "environment")) {
      if (!name.is_string() || name.get<std::string>().empty()) {
        reader.Fail("environment", "must list variable names");
      }
      scenario.loggedVariables.push_back(name.get<std::string>());
    }
  }
  reader.Finish();
}

}  // namespace

bool IsScriptableFunction(const std::string& name) {
  for (const char* function : kFunctions) {
    if (name == function) return true;
  }
  return false;
}

Scenario ParseScenario(const nlohmann::json& json) {
  ObjectReader reader(json, "scenario");
  Scenario scenario;
  if (reader.Has("results")) {
    ObjectReader results(reader.Raw("results"), reader.Where("results"));
    for (const auto& member : reader.Raw("results").items()) {
      if (!IsScriptableFunction(member.key())) {
        results.Fail(member.key(), "names no function of the library");
      }
      scenario.results[member.key()] = results.Int32(member.key(), 0);
    }
  }
  scenario.version = reader.Text("version", scenario.version);
  if (reader.Has("init")) {
    ObjectReader init(reader.Raw("init"), reader.Where("init"));
    scenario.fillDownloadResponse = init.Bool("fillDownloadResponse", true);
    scenario.fillHttpResponse = init.Bool("fillHttpResponse", true);
    scenario.keepsAppName = init.Bool("keepsAppName", false);
    init.Finish();
  }
  if (reader.Has("displayDevices")) {
    scenario.displayDevices =
        ParseDisplayDevices(reader.Raw("displayDevices"), reader.Where("displayDevices"));
  }
  if (reader.Has("actions")) {
    const auto& actions = ArrayMember(reader, "actions");
    for (std::size_t i = 0; i < actions.size(); ++i) {
      scenario.actions.push_back(ParseAction(actions[i], Indexed(reader.Where("actions"), i)));
    }
  }
  if (reader.Has("callLog")) ParseCallLog(reader.Raw("callLog"), reader.Where("callLog"), scenario);
  reader.Finish();
  return scenario;
}

Firing ParseFiring(const nlohmann::json& json) {
  ObjectReader reader(json, "action");
  Firing firing = ParseFiringMembers(reader);
  reader.Finish();
  return firing;
}

}  // namespace electron_morvane::scriptable_sdk
