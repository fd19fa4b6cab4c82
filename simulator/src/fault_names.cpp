#include "fault_names.h"

#include <utility>

namespace electron_morvane::sim {

namespace {

constexpr std::pair<UpdateStep, const char*> kStepNames[] = {
    {UpdateStep::kDownload, "download"},
    {UpdateStep::kUnzip, "unzip"},
    {UpdateStep::kInstall, "install"},
};

constexpr const char* kExportNames[] = {
    "Morvane_InitSDK",
    "Morvane_UninitSDK",
    "Morvane_GetSDKVersion",
    "Morvane_GetDisplayDevice",
    "Morvane_SetDriverDownloadDir",
    "Morvane_CheckDisplayDeviceDriver",
    "Morvane_CancelCheckDisplayDeviceDriver",
    "Morvane_UpdateDisplayDeviceDriver",
    "Morvane_CancelUpdateDisplayDeviceDriver",
};

}  // namespace

std::optional<UpdateStep> UpdateStepNamed(const std::string& name) {
  for (const auto& [step, stepName] : kStepNames) {
    if (name == stepName) return step;
  }
  return std::nullopt;
}

const char* NameOf(UpdateStep step) {
  for (const auto& [known, stepName] : kStepNames) {
    if (known == step) return stepName;
  }
  return "?";
}

bool IsExportName(const std::string& name) {
  for (const char* exportName : kExportNames) {
    if (name == exportName) return true;
  }
  return false;
}

}  // namespace electron_morvane::sim
