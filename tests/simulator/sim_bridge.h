// The real bridge process with the simulated library beside it, and a host that serves the
// library's reverse requests ("httpRequest", "downloadFile") from what the test arranged.
#pragma once

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host_plans.h"
#include "support/bridge_host.h"
#include "support/message_inbox.h"
#include "support/temp_folder.h"

namespace electron_morvane::sim_test {

using nlohmann::json;
using namespace std::chrono_literals;

class SimBridge {
 public:
  // Starts the bridge with the machine written to a file named by MORVANE_SIM_MACHINE. When the
  // machine asks for a crash, AddressSanitizer leaves SIGSEGV alone: the bridge dies of it.
  // The bridge keeps every update's callback for good; keptByBridge names further functions
  // whose allocations the bridge keeps on purpose, which leak checks are to pass over.
  explicit SimBridge(const json& machine, const std::vector<std::string>& keptByBridge = {});

  testing::BridgeHost& Host() { return *host_; }
  std::string Folder(const std::string& name) const { return files_.File(name); }

  void ServeHttp(const std::string& url, HttpReply reply) { httpReplies_[url] = std::move(reply); }
  void ServeDownload(const std::string& url, DownloadPlan plan) {
    downloadPlans_[url] = std::move(plan);
  }

  // Sends a request and returns its response, serving reverse requests meanwhile.
  json Call(const std::string& method, const json& params = nullptr);
  // Sends a request and returns its id.
  std::string Send(const std::string& method, const json& params = nullptr);
  // The next message the filter accepts, serving reverse requests meanwhile; nothing when none
  // comes in time or the bridge closed its end.
  std::optional<json> TryNext(const testing::MessageFilter& wanted,
                              std::chrono::milliseconds timeout);
  // The next event of the request with this id.
  json NextEvent(const std::string& id, std::chrono::milliseconds timeout = 15s);
  // The update events of the request with this id, up to the one that ends the job.
  std::vector<json> UpdateEvents(const std::string& id);
  // Serves reverse requests until the bridge has been quiet for the given time.
  void Drain(std::chrono::milliseconds quiet = 300ms);

  // Params of the reverse requests seen so far, by method.
  const std::vector<json>& Seen(const std::string& method) { return seen_[method]; }
  std::vector<std::string> LogLines();

 private:
  // True when the message was a reverse request, now served.
  bool Serve(const json& message);
  void AnswerHttp(const json& params);
  void AnswerDownload(const json& params);
  void SendEvent(const std::string& method, const json& params);

  testing::TempFolder files_;
  std::optional<testing::BridgeHost> host_;
  // Serves reverse requests as they arrive and keeps the rest.
  std::optional<testing::MessageInbox> inbox_;
  std::map<std::string, HttpReply> httpReplies_;
  std::map<std::string, DownloadPlan> downloadPlans_;
  std::map<std::string, std::vector<json>> seen_;
  int nextId_ = 1;
};

// The params of an "init" request.
json InitParams(const json& extra = json::object());

}  // namespace electron_morvane::sim_test
