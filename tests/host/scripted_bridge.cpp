#include "scripted_bridge.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace electron_morvane::testing {

json Request(const std::string& id, const std::string& method, const json& params) {
  json request = {{"type", "request"}, {"from", "host"}, {"to", "client"},
                  {"id", id},          {"method", method}};
  if (!params.is_null()) request["params"] = params;
  return request;
}

json HostEvent(const std::string& id, const std::string& method, const json& params) {
  return {{"type", "event"}, {"from", "host"},     {"to", "client"},
          {"id", id},        {"method", method}, {"params", params}};
}

json InitParams(const json& extra) {
  json params = {{"appName", "Bridge Tests"}, {"appId", "tests"},     {"deviceId", "pc-1"},
                 {"clientVersion", "1.2.3"},  {"oversea", false}};
  params.update(extra);
  return params;
}

ScriptedBridge::ScriptedBridge(const json& scenario, BridgeOptions options) {
  const std::string scenarioPath = files_.File("scenario.json");
  std::ofstream(scenarioPath) << scenario.dump();
  callLogPath_ = files_.File("calls.jsonl");
  options.libraryFolder = MORVANE_SCRIPTABLE_DIR;
  options.environment["MORVANE_SCRIPT"] = scenarioPath;
  options.environment["MORVANE_CALL_LOG"] = callLogPath_;
  host_.emplace(options);
  inbox_.emplace(*host_);
}

json ScriptedBridge::Call(const json& request) {
  host_->Send(request);
  const std::string id = request.at("id");
  return inbox_->Take(AnswerTo(id), 10s, "answer to request " + id);
}

void ScriptedBridge::Init(const json& params) {
  const json response = Call(Request("init-1", "init", params));
  ASSERT_EQ(response.at("result").at("status"), 0) << response.dump();
}

json ScriptedBridge::NextOf(const std::string& method, std::chrono::milliseconds timeout) {
  return inbox_->Take(UnaskedOf(method), timeout, "\"" + method + "\" message");
}

bool ScriptedBridge::Quiet(std::chrono::milliseconds duration) {
  return inbox_->Quiet(duration);
}

std::vector<json> ScriptedBridge::CallLog() const {
  std::vector<json> calls;
  std::ifstream log(callLogPath_);
  std::string line;
  while (std::getline(log, line)) {
    if (!line.empty()) calls.push_back(json::parse(line));
  }
  return calls;
}

std::vector<json> ScriptedBridge::CallsOf(const std::string& function) const {
  std::vector<json> calls;
  for (json& call : CallLog()) {
    if (call.at("call") == function) calls.push_back(std::move(call));
  }
  return calls;
}

std::vector<json> ScriptedBridge::WaitForCalls(const std::string& function, std::size_t count,
                                               std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::vector<json> calls = CallsOf(function);
    if (calls.size() >= count || std::chrono::steady_clock::now() >= deadline) {
      EXPECT_GE(calls.size(), count) << "calls of " << function;
      return calls;
    }
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace electron_morvane::testing
