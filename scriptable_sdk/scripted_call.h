// One call of a library function as the scenario scripts it: counts the call, gives its scripted
// result, fires its actions and writes its call log entry.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "callback_firing.h"
#include "library_state.h"

namespace electron_morvane::scriptable_sdk {

class ScriptedCall {
 public:
  explicit ScriptedCall(const std::string& function);

  // The call log entry; the function's arguments go in here.
  nlohmann::json& Entry() { return entry_; }
  TriggeringCall& Trigger() { return trigger_; }
  std::uint64_t Number() const { return plan_.number; }
  std::int32_t ScriptedResult() const { return plan_.result; }
  bool LogsBodyBytes() const { return plan_.logBodyBytes; }

  // Runs the actions that fire before the call returns, on the calling thread.
  void FireBeforeReturn();
  // Logs the call with its result, starts the actions that fire after it, and gives the result.
  std::int32_t Finish(std::int32_t result);

 private:
  CallPlan plan_;
  TriggeringCall trigger_;
  nlohmann::json entry_;
};

}  // namespace electron_morvane::scriptable_sdk
