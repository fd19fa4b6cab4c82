// Steps the suites that run the real bridge with the simulated library share: the test machine,
// serving the test driver, init, starting jobs and reading their states.
#pragma once

#include <string>
#include <vector>

#include "packages.h"
#include "sim_bridge.h"

namespace electron_morvane::sim_test {

// The test machine, adapters A and B, with these faults.
json Machine(const json& faults = json::object());
json AdapterParams(const TestAdapter& adapter);
HttpReply CatalogueReply(const json& entry);
// Serves the driver's package and a catalogue holding its entry.
void ServeDriver(SimBridge& bridge, const TestDriver& driver = TestDriver());
// Sends "init" with the test catalogue's URL and these params; returns the response.
json Init(SimBridge& bridge, const json& extra = json::object());
// Starts a job and returns the id its events carry.
std::string Start(SimBridge& bridge, const std::string& method, const TestAdapter& adapter);
// The update states of the events in order, each run of repeats shown once.
std::vector<int> StatesOf(const std::vector<json>& events);

}  // namespace electron_morvane::sim_test
