#include "sim_bridge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace electron_morvane::sim_test {

namespace {

bool IsFinalState(const json& event) {
  const int state = event.at("params").at("state");
  return state == 2 || state == 5 || state == 8 || state == 10;
}

bool AsksForCrash(const json& machine) {
  const json faults = machine.value("faults", json::object());
  return faults.contains("crashDuringUpdate") || faults.contains("crashInCall");
}

}  // namespace

json InitParams(const json& extra) {
  json params = {{"appName", "Simulator Tests"},
                 {"appId", "sim"},
                 {"deviceId", "pc-1"},
                 {"clientVersion", "1.0.0"},
                 {"oversea", false}};
  params.update(extra);
  return params;
}

SimBridge::SimBridge(const json& machine, const std::vector<std::string>& keptByBridge) {
  const std::string machineFile = files_.File("machine.json");
  std::ofstream(machineFile) << machine.dump();
  testing::BridgeOptions options;
  options.environment["MORVANE_SIM_MACHINE"] = machineFile;

  // What the bridge keeps on purpose is no leak of the library's; LeakSanitizer is told so.
  const std::string suppressions = files_.File("bridge-leaks.supp");
  {
    std::ofstream file(suppressions);
    file << "leak:electron_morvane::SdkWrapper::UpdateDisplayDeviceDriver\n";
    for (const std::string& function : keptByBridge) file << "leak:" << function << "\n";
  }
  const char* lsanOptions = std::getenv("LSAN_OPTIONS");
  options.environment["LSAN_OPTIONS"] =
      std::string(lsanOptions != nullptr ? lsanOptions : "") + ":suppressions=" + suppressions;
  if (AsksForCrash(machine)) {
    // The sanitizers would otherwise catch the crash and end the bridge in their own way.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    options.environment["ASAN_OPTIONS"] =
        std::string(asanOptions != nullptr ? asanOptions : "") + ":handle_segv=0";
    const char* tsanOptions = std::getenv("TSAN_OPTIONS");
    options.environment["TSAN_OPTIONS"] = std::string(tsanOptions != nullptr ? tsanOptions : "") +
                                          " report_thread_leaks=0 handle_segv=0";
  }
  host_.emplace(options);
  inbox_.emplace(*host_, [this](const json& message) { return Serve(message); });
}

json SimBridge::Call(const std::string& method, const json& params) {
  return inbox_->Take(testing::AnswerTo(Send(method, params)), 15s, "answer to " + method);
}

std::string SimBridge::Send(const std::string& method, const json& params) {
  const std::string id = "r" + std::to_string(nextId_++);
  json request = {
      {"type", "request"}, {"from", "host"}, {"to", "client"}, {"id", id}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  host_->Send(request);
  return id;
}

std::optional<json> SimBridge::TryNext(const testing::MessageFilter& wanted,
                                       std::chrono::milliseconds timeout) {
  return inbox_->TryTake(wanted, timeout);
}

json SimBridge::NextEvent(const std::string& id, std::chrono::milliseconds timeout) {
  return inbox_->Take(testing::EventOf(id), timeout, "event of request " + id);
}

std::vector<json> SimBridge::UpdateEvents(const std::string& id) {
  std::vector<json> events;
  for (;;) {
    json event = NextEvent(id);
    if (event.is_null()) return events;
    events.push_back(event);
    if (IsFinalState(event)) return events;
  }
}

void SimBridge::Drain(std::chrono::milliseconds quiet) { inbox_->Drain(quiet); }

std::vector<std::string> SimBridge::LogLines() {
  std::vector<std::string> lines;
  for (const json& params : Seen("log")) lines.push_back(params.at("log").get<std::string>());
  return lines;
}

bool SimBridge::Serve(const json& message) {
  if (message.value("type", "") != "request" || message.value("from", "") != "client") {
    return false;
  }
  const std::string method = message.at("method");
  const json& params = message.at("params");
  seen_[method].push_back(params);
  if (method == "httpRequest") AnswerHttp(params);
  if (method == "downloadFile") AnswerDownload(params);
  return true;
}

void SimBridge::AnswerHttp(const json& params) {
  HttpReply reply{true, -3001, 0, "no such host", ""};
  if (const auto found = httpReplies_.find(params.at("url").get<std::string>()); found != httpReplies_.end()) {
    reply = found->second;
  }
  if (!reply.answer) return;
  SendEvent("httpRequest", {{"sdkTaskId", params.at("sdkTaskId")},
                            {"result", reply.result},
                            {"httpStatusCode", reply.httpStatusCode},
                            {"errorMsg", reply.errorMsg},
                            {"headers", json::object()},
                            {"body", reply.body},
                            {"sdkData", params.at("sdkData")}});
}

void SimBridge::AnswerDownload(const json& params) {
  DownloadPlan plan;
  plan.progress.clear();
  plan.result = -3001;
  plan.errorMsg = "no such file";
  if (const auto found = downloadPlans_.find(params.at("url").get<std::string>());
      found != downloadPlans_.end()) {
    plan = found->second;
  }
  if (plan.result == 0) {
    std::ofstream(params.at("path").get<std::string>(), std::ios::binary | std::ios::trunc) << plan.bytes;
  }
  const auto event = [&](int32_t progress, bool isFinish, int32_t result, int32_t status,
                         const std::string& errorMsg) {
    SendEvent("downloadFile", {{"sdkTaskId", params.at("sdkTaskId")},
                               {"progress", progress},
                               {"isFinish", isFinish},
                               {"result", result},
                               {"httpStatusCode", status},
                               {"errorMsg", errorMsg},
                               {"sdkData", params.at("sdkData")}});
  };
  for (const int32_t progress : plan.progress) event(progress, false, 0, 200, "");
  if (plan.finish) event(100, true, plan.result, plan.httpStatusCode, plan.errorMsg);
}

void SimBridge::SendEvent(const std::string& method, const json& params) {
  host_->Send({{"type", "event"},
               {"from", "host"},
               {"to", "client"},
               {"id", "h" + std::to_string(nextId_++)},
               {"method", method},
               {"params", params}});
}

}  // namespace electron_morvane::sim_test
