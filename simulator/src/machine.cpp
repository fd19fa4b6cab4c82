#include "machine.h"

#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "adapter_id.h"

namespace electron_morvane::sim {

namespace {

using nlohmann::json;

std::string RequiredText(const json& object, const char* key) {
  if (!object.contains(key) || !object.at(key).is_string()) {
    throw std::invalid_argument(std::string("\"") + key + "\" must be a string");
  }
  return object.at(key).get<std::string>();
}

template <typename T>
T Optional(const json& object, const char* key, T fallback) {
  if (!object.contains(key)) return fallback;
  const json& value = object.at(key);
  if constexpr (std::is_same_v<T, bool>) {
    if (!value.is_boolean())
      throw std::invalid_argument(std::string("\"") + key + "\" must be a boolean");
    return value.get<bool>();
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!value.is_string())
      throw std::invalid_argument(std::string("\"") + key + "\" must be a string");
    return value.get<std::string>();
  } else {
    const bool fits =
        value.is_number_unsigned()
            ? value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
            : value.is_number_integer() &&
                  value.get<int64_t>() >= std::numeric_limits<int32_t>::min() &&
                  value.get<int64_t>() <= std::numeric_limits<int32_t>::max();
    if (!fits) throw std::invalid_argument(std::string("\"") + key + "\" must be a 32-bit integer");
    return static_cast<T>(value.get<int64_t>());
  }
}

Adapter ParseAdapter(const json& value) {
  if (!value.is_object()) throw std::invalid_argument("each adapter must be an object");
  Adapter adapter;
  adapter.name = RequiredText(value, "name");
  adapter.vendorId = RequiredText(value, "vendorId");
  adapter.deviceId = RequiredText(value, "deviceId");
  adapter.driverVersion = RequiredText(value, "driverVersion");
  adapter.driverDate = Optional<std::string>(value, "driverDate", "");
  adapter.enable = Optional<bool>(value, "enable", true);
  adapter.problemCode = Optional<int32_t>(value, "problemCode", 0);
  adapter.vendorType = Optional<int32_t>(value, "vendorType", 0);
  return adapter;
}

std::optional<UpdateStep> OptionalStep(const json& object, const char* key) {
  if (!object.contains(key)) return std::nullopt;
  const std::string name = Optional<std::string>(object, key, "");
  if (const auto step = UpdateStepNamed(name)) return step;
  throw std::invalid_argument(std::string("\"") + key + "\": no update step \"" + name + "\"");
}

std::string OptionalExportName(const json& object, const char* key) {
  if (!object.contains(key)) return "";
  const std::string name = Optional<std::string>(object, key, "");
  if (!IsExportName(name)) {
    throw std::invalid_argument(std::string("\"") + key + "\": no exported function \"" + name +
                                "\"");
  }
  return name;
}

Faults ParseFaults(const json& value) {
  if (!value.is_object()) throw std::invalid_argument("\"faults\" must be an object");
  Faults faults;
  faults.stepDelayMs = Optional<int32_t>(value, "stepDelayMs", faults.stepDelayMs);
  faults.httpTimeoutMs = Optional<int32_t>(value, "httpTimeoutMs", faults.httpTimeoutMs);
  faults.unzipFail = Optional<bool>(value, "unzipFail", faults.unzipFail);
  faults.unzipFailCode = Optional<int32_t>(value, "unzipFailCode", faults.unzipFailCode);
  faults.installFail = Optional<bool>(value, "installFail", faults.installFail);
  faults.installFailCode = Optional<int32_t>(value, "installFailCode", faults.installFailCode);
  faults.crashDuringUpdate = OptionalStep(value, "crashDuringUpdate");
  faults.hangDuringUpdate = OptionalStep(value, "hangDuringUpdate");
  faults.crashInCall = OptionalExportName(value, "crashInCall");
  faults.hangInCall = OptionalExportName(value, "hangInCall");
  if (faults.stepDelayMs < 0 || faults.httpTimeoutMs < 0) {
    throw std::invalid_argument("delays and timeouts must not be negative");
  }
  return faults;
}

}  // namespace

const Adapter* Machine::Find(const std::string& vendorId, const std::string& deviceId) const {
  for (const Adapter& adapter : adapters) {
    if (SameId(adapter.vendorId, vendorId) && SameId(adapter.deviceId, deviceId)) return &adapter;
  }
  return nullptr;
}

Machine DefaultMachine() {
  Machine machine;
  machine.adapters = {
      {"Simulated Display Adapter A", "10DE", "2484", "31.0.15.1000", "2023-01-10", true, 0, 1},
      {"Simulated Display Adapter B", "1002", "73BF", "31.0.12029.10015", "2023-03-01", true, 0, 2},
      {"Simulated Display Adapter C", "8086", "9A49", "30.0.101.1404", "2022-02-15", true, 0, 3},
  };
  return machine;
}

std::optional<Machine> ParseMachine(const std::string& text, std::string& error) {
  try {
    const json document = json::parse(text);
    if (!document.is_object()) throw std::invalid_argument("the machine must be a JSON object");
    if (!document.contains("adapters") || !document.at("adapters").is_array()) {
      throw std::invalid_argument("\"adapters\" must be an array");
    }
    Machine machine;
    for (const json& value : document.at("adapters"))
      machine.adapters.push_back(ParseAdapter(value));
    if (document.contains("faults")) machine.faults = ParseFaults(document.at("faults"));
    return machine;
  } catch (const std::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

MachineLoad LoadMachine() {
  MachineLoad load;
  const char* path = std::getenv(kMachineEnvVar);
  if (path == nullptr || *path == '\0') {
    load.machine = DefaultMachine();
    load.source = "built-in default";
    return load;
  }
  load.source = path;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    load.error = "cannot read the machine file";
    return load;
  }
  std::ostringstream text;
  text << file.rdbuf();
  load.machine = ParseMachine(text.str(), load.error);
  return load;
}

}  // namespace electron_morvane::sim
