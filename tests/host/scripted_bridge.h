// The real bridge process with the scriptable driver library in the library's place: a scenario
// decides what the library answers and fires, and its call log shows what the bridge passed in.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/bridge_host.h"
#include "support/message_inbox.h"

namespace electron_morvane::testing {

using nlohmann::json;

// A request as the host writes it; params left out when null.
json Request(const std::string& id, const std::string& method, const json& params = nullptr);
// An event as the host writes it.
json HostEvent(const std::string& id, const std::string& method, const json& params);
// The params of an "init" request with every required key.
json InitParams(const json& extra = json::object());

class ScriptedBridge {
 public:
  explicit ScriptedBridge(const json& scenario = json::object(), BridgeOptions options = {});

  BridgeHost& Host() { return *host_; }

  void Send(const json& message) { host_->Send(message); }
  void SendLine(const std::string& line) { host_->SendLine(line); }

  // Sends a request and returns the response or error that carries its id; every other message
  // that arrives meanwhile is kept for NextOf().
  json Call(const json& request);
  // "init" with the given params (the default params when none); expects status 0.
  void Init(const json& params = InitParams());
  // The next event or reverse request of the given method, skipping (and keeping) others.
  json NextOf(const std::string& method, std::chrono::milliseconds timeout = 10s);
  // True when no message at all arrives within the time (and none is kept aside).
  bool Quiet(std::chrono::milliseconds duration = 300ms);

  // Every call the bridge made into the library so far.
  std::vector<json> CallLog() const;
  std::vector<json> CallsOf(const std::string& function) const;
  // Waits until the library has seen at least count calls of the function, and returns them.
  std::vector<json> WaitForCalls(const std::string& function, std::size_t count = 1,
                                 std::chrono::milliseconds timeout = 10s) const;

 private:
  TempFolder files_;
  std::string callLogPath_;
  std::optional<BridgeHost> host_;
  std::optional<MessageInbox> inbox_;
};

}  // namespace electron_morvane::testing
