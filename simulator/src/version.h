// Driver versions are dotted numbers: "31.0.15.3623".
#pragma once

#include <string>

namespace electron_morvane::sim {

// True for one or more groups of decimal digits joined by single dots.
bool IsDottedVersion(const std::string& version);

// Negative, zero or positive as a is older than, equal to or newer than b. Groups compare as
// numbers ("1.10" is newer than "1.9"); missing groups count as 0 ("1.0" equals "1"). Both texts
// must be dotted versions.
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace electron_morvane::sim
