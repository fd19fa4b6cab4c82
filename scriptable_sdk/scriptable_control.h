// In-process control of the scriptable driver library, for tests that link it directly.
// README.md describes the scenario and action formats and the call log entries.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(MORVANE_SDK_BUILDING)
#define SCRIPTABLE_SDK_API __declspec(dllexport)
#else
#define SCRIPTABLE_SDK_API __declspec(dllimport)
#endif
#else
#define SCRIPTABLE_SDK_API __attribute__((visibility("default")))
#endif

namespace electron_morvane::scriptable_sdk {

// Resets the library (see Reset) and makes `scenario` its script. On a malformed scenario the
// library is only reset, the result is false and `error` (when given) says what is wrong.
SCRIPTABLE_SDK_API bool LoadScenario(const nlohmann::json& scenario, std::string* error = nullptr);

// A scenario checked and parsed once, for callers that load the same few again and again (the
// fuzzer, before every input).
struct Scenario;
using PreparedScenario = std::shared_ptr<const Scenario>;

// Null, with `error` (when given) saying what is wrong, for a malformed scenario.
SCRIPTABLE_SDK_API PreparedScenario PrepareScenario(const nlohmann::json& scenario,
                                                    std::string* error = nullptr);

// Resets the library and makes `scenario` (not null) its script.
SCRIPTABLE_SDK_API void LoadScenario(const PreparedScenario& scenario);

// Waits for the library's threads, then forgets the scenario, the call log, the installed
// callbacks and the jobs it was given: the library is as if freshly loaded with no script.
SCRIPTABLE_SDK_API void Reset();

// Every call the bridge made into the library since the last reset, oldest first.
SCRIPTABLE_SDK_API std::vector<nlohmann::json> CallLog();

// The entries of CallLog() whose "call" is `function`.
SCRIPTABLE_SDK_API std::vector<nlohmann::json> CallsOf(const std::string& function);

// Returns once every thread the library has started so far, and any they started, has ended.
SCRIPTABLE_SDK_API void WaitForLibraryThreads();

// Fires callbacks from threads of the library's own, as an action of a scenario does but at once
// and not tied to a call: `action` is an action object without "on", "call" and "when".
// Returns false (with `error`) when the action is malformed; the threads run on after return.
SCRIPTABLE_SDK_API bool Fire(const nlohmann::json& action, std::string* error = nullptr);

}  // namespace electron_morvane::scriptable_sdk
