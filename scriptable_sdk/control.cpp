#include <exception>

#include "call_log.h"
#include "callback_firing.h"
#include "library_state.h"
#include "library_threads.h"
#include "scenario.h"
#include "scriptable_control.h"

namespace electron_morvane::scriptable_sdk {

bool LoadScenario(const nlohmann::json& scenario, std::string* error) {
  const PreparedScenario prepared = PrepareScenario(scenario, error);
  if (!prepared) {
    Reset();
    return false;
  }
  LoadScenario(prepared);
  return true;
}

PreparedScenario PrepareScenario(const nlohmann::json& scenario, std::string* error) {
  try {
    return std::make_shared<const Scenario>(ParseScenario(scenario));
  } catch (const std::exception& failure) {
    if (error != nullptr) *error = failure.what();
    return nullptr;
  }
}

void LoadScenario(const PreparedScenario& scenario) {
  JoinLibraryThreads();
  LibraryState::Get().Replace(scenario);
  ClearCallLog();
}

void Reset() {
  static const PreparedScenario unscripted = std::make_shared<const Scenario>();
  LoadScenario(unscripted);
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
