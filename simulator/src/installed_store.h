// Driver versions installed by updates: kept in memory and, when init named a configDir, in a
// JSON file there so that the next run sees them.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace electron_morvane::sim {

struct InstalledDriver {
  std::string driverVersion;
  std::string driverDate;
};

class InstalledStore {
 public:
  static constexpr const char* kFileName = "morvane-sim-installed.json";

  // With a folder: the file's records replace those in memory. Without one: the records made so
  // far stay in memory and new ones are not written. Returns a warning text when the file exists
  // but cannot be read, else an empty text.
  std::string Open(const std::string& configDir);

  // Forgets every record and the folder.
  void Clear();

  std::optional<InstalledDriver> Find(const std::string& vendorId,
                                      const std::string& deviceId) const;

  // Records an install, and writes the file when there is a folder. False (and a reason) when the
  // file cannot be written; memory is then left unchanged.
  bool Record(const std::string& vendorId, const std::string& deviceId,
              const InstalledDriver& driver, std::string& error);

 private:
  struct Entry {
    std::string vendorId;  // as first given
    std::string deviceId;
    InstalledDriver driver;
  };
  using Records = std::map<std::string, Entry>;  // by AdapterKey

  bool Write(const Records& records, std::string& error) const;

  mutable std::mutex mutex_;
  std::filesystem::path folder_;
  Records records_;
};

}  // namespace electron_morvane::sim
