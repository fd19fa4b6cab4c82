#include "scripted_call.h"

#include "call_log.h"
#include "environment.h"

namespace electron_morvane::scriptable_sdk {

ScriptedCall::ScriptedCall(const std::string& function)
    : plan_(LibraryState::Get().BeginCall(function)), entry_{{"call", function}} {}

void ScriptedCall::FireBeforeReturn() {
  for (const Action& action : plan_.actions) {
    if (action.when == Timing::kBeforeReturn) FireAndWait(action.firing, trigger_);
  }
}

std::int32_t ScriptedCall::Finish(std::int32_t result) {
  entry_["returned"] = result;
  if (plan_.logged) {
    for (const std::string& name : plan_.loggedVariables) {
      const std::optional<std::string> value = VariableSeen(name);
      entry_["environment"][name] = value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    }
    AppendToCallLog(entry_);
  }
  for (const Action& action : plan_.actions) {
    if (action.when == Timing::kAfterReturn) FireFromLibraryThreads(action.firing, trigger_);
  }
  return result;
}

}  // namespace electron_morvane::scriptable_sdk
