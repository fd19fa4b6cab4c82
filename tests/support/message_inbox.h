// The bridge's messages as a test takes them: what arrives while the test waits for one message
// is kept aside, in arrival order, for a later wait.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/bridge_host.h"

namespace electron_morvane::testing {

using MessageFilter = std::function<bool(const nlohmann::json&)>;

// The response or error that answers the host's request with this id.
MessageFilter AnswerTo(const std::string& id);
// An event or reverse request of the method: anything but an answer to the host's own request.
MessageFilter UnaskedOf(const std::string& method);
// An event that carries this id.
MessageFilter EventOf(const std::string& id);

class MessageInbox {
 public:
  // Sees every message as it arrives from the pipe; returns true when it dealt with the message
  // itself, which is then neither handed out nor kept.
  using Handler = std::function<bool(const nlohmann::json&)>;

  explicit MessageInbox(BridgeHost& host, Handler handler = nullptr)
      : host_(host), handler_(std::move(handler)) {}

  // The first kept or arriving message that the filter accepts; fails the current test and
  // returns null when none arrives in time. `what` names the message in that failure.
  nlohmann::json Take(const MessageFilter& wanted, std::chrono::milliseconds timeout,
                      const std::string& what);
  // The same, for a message that may rightly never come: nothing when none arrives in time or
  // the bridge closed its end.
  std::optional<nlohmann::json> TryTake(const MessageFilter& wanted,
                                        std::chrono::milliseconds timeout);
  // Reads until the bridge has been quiet for the given time, keeping what the handler leaves.
  void Drain(std::chrono::milliseconds quiet);
  // True when nothing is kept and nothing arrives within the time.
  bool Quiet(std::chrono::milliseconds duration);

 private:
  BridgeHost& host_;
  Handler handler_;
  std::deque<nlohmann::json> keptAside_;
};

}  // namespace electron_morvane::testing
