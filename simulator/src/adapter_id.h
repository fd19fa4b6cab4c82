// Vendor and device ids are hex texts that the host may spell in either case.
#pragma once

#include <string>

namespace electron_morvane::sim {

bool SameId(const std::string& a, const std::string& b);

// "VVVV:DDDD" in upper case: one key per adapter, used in maps and log lines.
std::string AdapterKey(const std::string& vendorId, const std::string& deviceId);

}  // namespace electron_morvane::sim
