#include <exception>

#include "call_log.h"
#include "callback_firing.h"
#include "library_state.h"
#include "library_threads.h"
#include "scenario.h"
#include "scriptable_control.h"

namespace electron_morvane::scriptable_sdk {

bool LoadScenario(const nlohmann::json& scenario, std::string* error) {
  Reset();
  try {
    LibraryState::Get().Replace(ParseScenario(scenario));
    return true;
  } catch (const std::exception& failure) {
    if (error != nullptr) *error = failure.what();
    return false;
  }
}

void Reset() {
  JoinLibraryThreads();
  LibraryState::Get().Replace(Scenario{});
  ClearCallLog();
}

std::vector<nlohmann::json> CallLog() { return CallLogEntries(); }

std::vector<nlohmann::json> CallsOf(const std::string& function) {
  std::vector<nlohmann::json> calls;
  for (auto& entry : CallLogEntries()) {
    if (entry.at("call") == function) calls.push_back(std::move(entry));
  }
  return calls;
}

void WaitForLibraryThreads() { JoinLibraryThreads(); }

bool Fire(const nlohmann::json& action, std::string* error) {
  try {
    FireFromLibraryThreads(ParseFiring(action), TriggeringCall{});
    return true;
  } catch (const std::exception& failure) {
    if (error != nullptr) *error = failure.what();
    return false;
  }
}

}  // namespace electron_morvane::scriptable_sdk
