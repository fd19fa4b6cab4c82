// The driver catalogue that the host serves at sdkConfigUrl.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace electron_morvane::sim {

struct CatalogueEntry {
  std::string vendorId;
  std::string deviceId;
  std::string name;
  std::string version;
  std::string date;
  std::string url;
  uint32_t fileSize = 0;
  std::string md5;  // 32 hex digits
};

// The entries of a catalogue body, or nothing (and a reason) when the body or any entry is
// malformed.
std::optional<std::vector<CatalogueEntry>> ParseCatalogue(const std::string& body,
                                                          std::string& error);

// The entry with the highest version among those for the adapter.
std::optional<CatalogueEntry> FindNewestEntry(const std::vector<CatalogueEntry>& entries,
                                              const std::string& vendorId,
                                              const std::string& deviceId);

}  // namespace electron_morvane::sim
