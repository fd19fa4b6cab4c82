#include "installed_store.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "adapter_id.h"

namespace electron_morvane::sim {

namespace {

using nlohmann::json;

}  // namespace

std::string InstalledStore::Open(const std::string& configDir) {
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = configDir;
  if (configDir.empty()) return {};
  records_.clear();
  const std::filesystem::path file = folder_ / kFileName;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return {};
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const json document = json::parse(text.str(), nullptr, false);
  if (document.is_discarded() || !document.is_object() || !document.contains("installed") ||
      !document.at("installed").is_array()) {
    return "ignoring unreadable " + file.string();
  }
  for (const json& item : document.at("installed")) {
    if (!item.is_object()) continue;
    const auto textOf = [&item](const char* key) {
      return item.contains(key) && item.at(key).is_string() ? item.at(key).get<std::string>()
                                                            : std::string();
    };
    const std::string vendorId = textOf("vendorId");
    const std::string deviceId = textOf("deviceId");
    const std::string version = textOf("driverVersion");
    if (vendorId.empty() || deviceId.empty() || version.empty()) continue;
    records_[AdapterKey(vendorId, deviceId)] = {
        vendorId, deviceId, {version, textOf("driverDate")}};
  }
  return {};
}

void InstalledStore::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  folder_.clear();
  records_.clear();
}

std::optional<InstalledDriver> InstalledStore::Find(const std::string& vendorId,
                                                    const std::string& deviceId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = records_.find(AdapterKey(vendorId, deviceId));
  if (found == records_.end()) return std::nullopt;
  return found->second.driver;
}

bool InstalledStore::Record(const std::string& vendorId, const std::string& deviceId,
                            const InstalledDriver& driver, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Records updated = records_;
  updated[AdapterKey(vendorId, deviceId)] = {vendorId, deviceId, driver};
  if (!folder_.empty() && !Write(updated, error)) return false;
  records_ = std::move(updated);
  return true;
}

bool InstalledStore::Write(const Records& records, std::string& error) const {
  json installed = json::array();
  for (const auto& [key, entry] : records) {
    installed.push_back({{"vendorId", entry.vendorId},
                         {"deviceId", entry.deviceId},
                         {"driverVersion", entry.driver.driverVersion},
                         {"driverDate", entry.driver.driverDate}});
  }
  std::error_code fsError;
  std::filesystem::create_directories(folder_, fsError);
  if (fsError) {
    error = "cannot create " + folder_.string() + ": " + fsError.message();
    return false;
  }
  // Written beside the file and renamed over it, so a failed write never leaves half a file.
  const std::filesystem::path file = folder_ / kFileName;
  const std::filesystem::path partial = folder_ / (std::string(kFileName) + ".partial");
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << json{{"installed", installed}}.dump(2) << '\n';
    out.close();
    if (!out) {
      error = "cannot write " + partial.string();
      return false;
    }
  }
  std::filesystem::rename(partial, file, fsError);
  if (fsError) {
    error = "cannot replace " + file.string() + ": " + fsError.message();
    return false;
  }
  return true;
}

}  // namespace electron_morvane::sim
