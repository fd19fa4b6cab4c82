#include "package.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "adapter_id.h"
#include "md5.h"

namespace electron_morvane::sim {

namespace {

using nlohmann::json;

bool ManifestText(const json& manifest, const char* key, std::string& value) {
  if (!manifest.contains(key) || !manifest.at(key).is_string()) return false;
  value = manifest.at(key).get<std::string>();
  return true;
}

StepResult CompareManifest(const json& manifest, const CatalogueEntry& entry) {
  std::string vendorId, deviceId, name, version, date;
  if (!manifest.is_object() || !ManifestText(manifest, "vendorId", vendorId) ||
      !ManifestText(manifest, "deviceId", deviceId) || !ManifestText(manifest, "name", name) ||
      !ManifestText(manifest, "version", version) || !ManifestText(manifest, "date", date)) {
    return {kParseDriverConfigFail, "the package manifest lacks a member"};
  }
  if (!SameId(vendorId, entry.vendorId) || !SameId(deviceId, entry.deviceId)) {
    return {kNoMatchDriver, "the package is for adapter " + AdapterKey(vendorId, deviceId)};
  }
  if (name != entry.name || version != entry.version || date != entry.date) {
    return {kNoMatchDriver, "the package holds driver " + version + " (" + date +
                                "), not the catalogue's " + entry.version + " (" + entry.date +
                                ")"};
  }
  return {};
}

bool WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

StepResult VerifyDownload(const std::filesystem::path& file, const CatalogueEntry& entry) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error) return {kFileMd5CheckFail, "the downloaded file cannot be read: " + error.message()};
  if (size != entry.fileSize) {
    return {kFileMd5CheckFail, "the downloaded file has " + std::to_string(size) +
                                   " bytes, the catalogue says " + std::to_string(entry.fileSize)};
  }
  const std::optional<std::string> md5 = Md5HexOfFile(file);
  if (!md5) return {kFileMd5CheckFail, "the downloaded file cannot be hashed"};
  if (!SameId(*md5, entry.md5)) {
    return {kFileMd5CheckFail, "MD5 " + *md5 + " does not match the catalogue's " + entry.md5};
  }
  return {};
}

StepResult UnpackPackage(const std::filesystem::path& file, const CatalogueEntry& entry,
                         const std::filesystem::path& folder) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {kParseDriverConfigFail, "the package cannot be opened"};
  std::string header;
  if (!std::getline(in, header) || header != kPackageHeader) {
    return {kParseDriverConfigFail, "the file is not a driver package"};
  }
  std::string manifestLine;
  if (!std::getline(in, manifestLine) || in.eof()) {
    return {kParseDriverConfigFail, "the package has no manifest line"};
  }
  const json manifest = json::parse(manifestLine, nullptr, false);
  if (manifest.is_discarded()) {
    return {kParseDriverConfigFail, "the package manifest is not JSON"};
  }
  if (StepResult match = CompareManifest(manifest, entry); !match.ok()) return match;

  const std::string payload((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    return {kDiskSpaceNotEnoughInstall,
            "cannot create " + folder.string() + ": " + error.message()};
  }
  if (!WriteFile(folder / "manifest.json", manifestLine) ||
      !WriteFile(folder / "payload.bin", payload)) {
    return {kDiskSpaceNotEnoughInstall, "cannot write the unpacked files to " + folder.string()};
  }
  return {};
}

}  // namespace electron_morvane::sim
