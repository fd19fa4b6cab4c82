#include "packages.h"

#include <openssl/evp.h>

namespace electron_morvane::sim_test {

std::string Md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return hex;
}

std::string PackageBytes(const TestDriver& driver) {
  const json manifest{{"vendorId", driver.vendorId},
                      {"deviceId", driver.deviceId},
                      {"name", driver.name},
                      {"version", driver.version},
                      {"date", driver.date}};
  return "MORVANE-DRIVER-PACKAGE 1\n" + manifest.dump() + "\n" + driver.payload;
}

json CatalogueEntry(const TestDriver& driver, const std::string& package, const std::string& url) {
  return {{"vendorId", driver.vendorId}, {"deviceId", driver.deviceId}, {"name", driver.name},
          {"version", driver.version},   {"date", driver.date},         {"url", url},
          {"fileSize", package.size()},  {"md5", Md5Hex(package)}};
}

json AdapterJson(const TestAdapter& adapter) {
  return {{"name", adapter.name},
          {"vendorId", adapter.vendorId},
          {"deviceId", adapter.deviceId},
          {"driverVersion", adapter.driverVersion},
          {"driverDate", adapter.driverDate},
          {"enable", true},
          {"problemCode", 0},
          {"vendorType", adapter.vendorType}};
}

}  // namespace electron_morvane::sim_test
