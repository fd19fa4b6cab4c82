#include "scenarios.h"

#include "wire.h"

namespace electron_morvane::bench {

using nlohmann::json;

nlohmann::json BodyScenario(const std::string& version, bool bodyBytes) {
  return {{"version", version},
          {"actions",
           {{{"on", "Morvane_SetDriverDownloadDir"},
             {"when", "before"},
             {"fire", "httpRequest"},
             {"url", "http://127.0.0.1:9/body"},
             {"sdkTaskId", 1},
             {"sdkData", 7}}}},
          {"callLog", {{"functions", {"httpResponse"}}, {"bodyHex", bodyBytes}}}};
}

nlohmann::json LogScenario(const std::string& version, std::uint32_t threads, std::uint32_t count) {
  return {{"version", version},
          {"actions",
           {{{"on", "Morvane_SetDriverDownloadDir"},
             {"fire", "log"},
             {"line", kLogWord},
             {"numbered", true},
             {"threads", threads},
             {"count", count}}}},
          {"callLog", {{"functions", json::array()}}}};
}

nlohmann::json QuietScenario(const std::string& version) {
  return {{"version", version}, {"callLog", {{"functions", json::array()}}}};
}

}  // namespace electron_morvane::bench
