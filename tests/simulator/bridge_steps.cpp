#include "bridge_steps.h"

#include <gtest/gtest.h>

namespace electron_morvane::sim_test {

json Machine(const json& faults) {
  return {{"adapters", {AdapterJson(kAdapterA), AdapterJson(kAdapterB)}}, {"faults", faults}};
}

json AdapterParams(const TestAdapter& adapter) {
  return {{"vendorId", adapter.vendorId}, {"deviceId", adapter.deviceId}};
}

HttpReply CatalogueReply(const json& entry) {
  return {true, 0, 200, "", json{{"drivers", json::array({entry})}}.dump()};
}

void ServeDriver(SimBridge& bridge, const TestDriver& driver) {
  const std::string package = PackageBytes(driver);
  bridge.ServeHttp(kCatalogueUrl, CatalogueReply(CatalogueEntry(driver, package)));
  DownloadPlan plan;
  plan.bytes = package;
  bridge.ServeDownload(kPackageUrl, plan);
}

json Init(SimBridge& bridge, const json& extra) {
  json params = InitParams({{"sdkConfigUrl", kCatalogueUrl}});
  params.update(extra);
  return bridge.Call("init", params);
}

std::string Start(SimBridge& bridge, const std::string& method, const TestAdapter& adapter) {
  const json response = bridge.Call(method, AdapterParams(adapter));
  EXPECT_EQ(response.at("result").at("status"), 0) << response.dump();
  return response.at("id");
}

std::vector<int> StatesOf(const std::vector<json>& events) {
  std::vector<int> states;
  for (const json& event : events) {
    const int state = event.at("params").at("state");
    if (states.empty() || states.back() != state) states.push_back(state);
  }
  return states;
}

}  // namespace electron_morvane::sim_test
