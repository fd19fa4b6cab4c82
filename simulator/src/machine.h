// The simulated machine: its display adapters and the faults it is asked to show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fault_names.h"

namespace electron_morvane::sim {

struct Adapter {
  std::string name;
  std::string vendorId;
  std::string deviceId;
  std::string driverVersion;
  std::string driverDate;
  bool enable = true;
  int32_t problemCode = 0;
  int32_t vendorType = 0;
};

struct Faults {
  int32_t stepDelayMs = 0;
  int32_t httpTimeoutMs = 30000;
  bool unzipFail = false;
  int32_t unzipFailCode = -2010;
  bool installFail = false;
  int32_t installFailCode = -2009;
  // The update step at which the job's thread crashes, or hangs for good.
  std::optional<UpdateStep> crashDuringUpdate;
  std::optional<UpdateStep> hangDuringUpdate;
  // The exported function that crashes, or never returns, when called (empty: none).
  std::string crashInCall;
  std::string hangInCall;
};

struct Machine {
  std::vector<Adapter> adapters;
  Faults faults;

  const Adapter* Find(const std::string& vendorId, const std::string& deviceId) const;
};

// Name of the environment variable that points at a machine file.
constexpr const char* kMachineEnvVar = "MORVANE_SIM_MACHINE";

Machine DefaultMachine();

// Parses the JSON text of a machine file; on failure returns nothing and sets error.
std::optional<Machine> ParseMachine(const std::string& text, std::string& error);

struct MachineLoad {
  std::optional<Machine> machine;
  std::string source;  // the file read, or "built-in default"
  std::string error;   // why the file could not be used
};

// The machine named by the environment variable, or the default machine without it.
MachineLoad LoadMachine();

}  // namespace electron_morvane::sim
