#include "support/message_inbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace electron_morvane::testing {

using nlohmann::json;

namespace {

bool IsAnswer(const json& message) {
  const std::string type = message.value("type", "");
  return type == "response" || type == "error";
}

}  // namespace

MessageFilter AnswerTo(const std::string& id) {
  return [id](const json& message) { return IsAnswer(message) && message.value("id", "") == id; };
}

MessageFilter UnaskedOf(const std::string& method) {
  return [method](const json& message) {
    return !IsAnswer(message) && message.value("method", "") == method;
  };
}

MessageFilter EventOf(const std::string& id) {
  return [id](const json& message) {
    return message.value("type", "") == "event" && message.value("id", "") == id;
  };
}

json MessageInbox::Take(const MessageFilter& wanted, std::chrono::milliseconds timeout,
                        const std::string& what) {
  std::optional<json> message = TryTake(wanted, timeout);
  if (!message) {
    ADD_FAILURE() << "no " << what << " from the bridge";
    return nullptr;
  }
  return std::move(*message);
}

std::optional<json> MessageInbox::TryTake(const MessageFilter& wanted,
                                          std::chrono::milliseconds timeout) {
  const auto kept = std::find_if(keptAside_.begin(), keptAside_.end(), wanted);
  if (kept != keptAside_.end()) {
    json message = std::move(*kept);
    keptAside_.erase(kept);
    return message;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const std::optional<std::string> line = host_.ReadLine(std::max(left, 0ms));
    if (!line) return std::nullopt;
    json message = json::parse(*line, nullptr, false);
    if (message.is_discarded() || !message.is_object()) {
      ADD_FAILURE() << "not a JSON object: " << *line;
      continue;
    }
    if (handler_ && handler_(message)) continue;
    if (wanted(message)) return message;
    keptAside_.push_back(std::move(message));
  }
}

void MessageInbox::Drain(std::chrono::milliseconds quiet) {
  for (;;) {
    const std::optional<std::string> line = host_.ReadLine(quiet);
    if (!line) return;
    json message = json::parse(*line, nullptr, false);
    if (message.is_discarded() || !message.is_object()) {
      ADD_FAILURE() << "not a JSON object: " << *line;
      continue;
    }
    if (!handler_ || !handler_(message)) keptAside_.push_back(std::move(message));
  }
}

bool MessageInbox::Quiet(std::chrono::milliseconds duration) {
  return keptAside_.empty() && host_.Quiet(duration);
}

}  // namespace electron_morvane::testing
