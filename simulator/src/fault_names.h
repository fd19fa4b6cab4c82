// The names a machine file uses to place a crash or a hang: the steps of an update and the
// library's exported functions.
#pragma once

#include <optional>
#include <string>

namespace electron_morvane::sim {

// Where in an update a crash or hang happens, named as the update states name the steps.
enum class UpdateStep { kDownload, kUnzip, kInstall };

std::optional<UpdateStep> UpdateStepNamed(const std::string& name);
const char* NameOf(UpdateStep step);

// Whether the library exports a function of this name.
bool IsExportName(const std::string& name);

}  // namespace electron_morvane::sim
