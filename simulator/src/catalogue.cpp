#include "catalogue.h"

#include <cctype>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "adapter_id.h"
#include "version.h"

namespace electron_morvane::sim {

namespace {

using nlohmann::json;

std::string Text(const json& entry, const char* key) {
  if (!entry.contains(key) || !entry.at(key).is_string()) {
    throw std::invalid_argument(std::string("entry member \"") + key + "\" must be a string");
  }
  return entry.at(key).get<std::string>();
}

bool IsMd5Hex(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

CatalogueEntry ParseEntry(const json& value) {
  if (!value.is_object()) throw std::invalid_argument("each driver must be an object");
  CatalogueEntry entry;
  entry.vendorId = Text(value, "vendorId");
  entry.deviceId = Text(value, "deviceId");
  entry.name = Text(value, "name");
  entry.version = Text(value, "version");
  entry.date = Text(value, "date");
  entry.url = Text(value, "url");
  entry.md5 = Text(value, "md5");
  if (!value.contains("fileSize") || !value.at("fileSize").is_number_unsigned() ||
      value.at("fileSize").get<uint64_t>() > std::numeric_limits<uint32_t>::max()) {
    throw std::invalid_argument("entry member \"fileSize\" must be an unsigned 32-bit integer");
  }
  entry.fileSize = value.at("fileSize").get<uint32_t>();
  if (!IsDottedVersion(entry.version)) {
    throw std::invalid_argument("version \"" + entry.version + "\" is not a dotted number");
  }
  if (!IsMd5Hex(entry.md5)) throw std::invalid_argument("md5 must be 32 hex digits");
  return entry;
}

}  // namespace

std::optional<std::vector<CatalogueEntry>> ParseCatalogue(const std::string& body,
                                                          std::string& error) {
  try {
    const json document = json::parse(body);
    if (!document.is_object() || !document.contains("drivers") ||
        !document.at("drivers").is_array()) {
      throw std::invalid_argument("the catalogue must be an object with a \"drivers\" array");
    }
    std::vector<CatalogueEntry> entries;
    for (const json& value : document.at("drivers")) entries.push_back(ParseEntry(value));
    return entries;
  } catch (const std::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

std::optional<CatalogueEntry> FindNewestEntry(const std::vector<CatalogueEntry>& entries,
                                              const std::string& vendorId,
                                              const std::string& deviceId) {
  std::optional<CatalogueEntry> newest;
  for (const CatalogueEntry& entry : entries) {
    if (!SameId(entry.vendorId, vendorId) || !SameId(entry.deviceId, deviceId)) continue;
    if (!newest || CompareVersions(entry.version, newest->version) > 0) newest = entry;
  }
  return newest;
}

}  // namespace electron_morvane::sim
