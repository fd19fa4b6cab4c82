// The bridge as the fuzzer drives it: a router with the full method table, a sender that keeps
// every line written (from any thread), and the scriptable library in the driver library's place.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/message_router.h"
#include "scriptable_control.h"

namespace electron_morvane::fuzz {

class BridgeUnderTest {
 public:
  BridgeUnderTest();
  BridgeUnderTest(const BridgeUnderTest&) = delete;
  BridgeUnderTest& operator=(const BridgeUnderTest&) = delete;

  // Brings the bridge and the library back to a fresh process's state, then scripts the
  // library with `scenario`.
  void Restart(const scriptable_sdk::PreparedScenario& scenario);

  // Dispatches one received line (its line feed included) and returns every line written
  // because of it, once the library's threads have ended.
  std::vector<std::string> Dispatch(const std::string& line);

  // Has the library report every check still waiting, as a library may at any time; returns
  // the lines written.
  std::vector<std::string> ReportPendingChecks();

 private:
  std::vector<std::string> TakeWritten();

  MessageRouter router;
  std::mutex writtenMutex;
  std::vector<std::string> written;
};

}  // namespace electron_morvane::fuzz
