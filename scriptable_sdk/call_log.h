// The record of every call the bridge made into the library: kept in memory for in-process
// tests, and appended as one compact JSON line per call to the file named by MORVANE_CALL_LOG,
// flushed at once so that a test in another process can poll it.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

namespace electron_morvane::scriptable_sdk {

void AppendToCallLog(const nlohmann::json& entry);
std::vector<nlohmann::json> CallLogEntries();
// Empties the in-memory log; the file keeps its lines.
void ClearCallLog();

}  // namespace electron_morvane::scriptable_sdk
