// The test machine's adapters, and driver packages with their catalogue entries.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace electron_morvane::sim_test {

using nlohmann::json;

constexpr const char* kCatalogueUrl = "http://127.0.0.1:9/catalogue.json";
constexpr const char* kPackageUrl = "http://127.0.0.1:9/packages/a.mvpkg";

// The two adapters of the test machine.
struct TestAdapter {
  const char* name;
  const char* vendorId;
  const char* deviceId;
  const char* driverVersion;
  const char* driverDate;
  int32_t vendorType;
};
constexpr TestAdapter kAdapterA{"Test Adapter A", "10DE", "2484", "31.0.15.1000", "2023-01-10", 1};
constexpr TestAdapter kAdapterB{"Test Adapter B",   "1002",       "73BF",
                                "31.0.12029.10015", "2023-03-01", 2};

// A driver as the catalogue and its package describe it.
struct TestDriver {
  std::string vendorId = kAdapterA.vendorId;
  std::string deviceId = kAdapterA.deviceId;
  std::string name = "Test Driver 31.0.15.3623";
  std::string version = "31.0.15.3623";
  std::string date = "2023-06-14";
  std::string payload = std::string("driver bits\0\x01\xff end", 18);
};

std::string Md5Hex(const std::string& bytes);
std::string PackageBytes(const TestDriver& driver);
// The catalogue entry for a driver served as package.
json CatalogueEntry(const TestDriver& driver, const std::string& package,
                    const std::string& url = kPackageUrl);
json AdapterJson(const TestAdapter& adapter);

}  // namespace electron_morvane::sim_test
