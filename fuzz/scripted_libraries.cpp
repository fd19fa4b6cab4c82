#include "scripted_libraries.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace electron_morvane::fuzz {
namespace {

using nlohmann::json;

// Texts the bridge must write safely: quotes, control bytes, non-ASCII, invalid UTF-8.
const std::string kAwkward = "a \"b\" \\ c\td\n\x01 caf\xc3\xa9 \xe2\x82\xac \xff\xfe\xc0\xaf end";

// As long as a fixed array or longer, so the library leaves no NUL in it.
std::string Filling(std::size_t length) {
  std::string text;
  while (text.size() < length) text += "\xce\xa9x\xff";
  return text.substr(0, length);
}

// Header lists are [name, value] pairs, repeats allowed: an array, never an object.
json Pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  json list = json::array();
  for (const auto& [name, value] : pairs) list.push_back(json::array({name, value}));
  return list;
}

json Before(json action) {
  action["when"] = "before";
  return action;
}

// The library answers ok to everything and fires nothing.
json Quiet() { return json::object(); }

// Every service callback once init has installed them, and more from the response functions.
json Services() {
  return {{"actions",
           {Before({{"on", "Morvane_InitSDK"}, {"fire", "log"}, {"line", kAwkward}}),
            Before({{"on", "Morvane_InitSDK"},
                    {"fire", "download"},
                    {"url", "http://127.0.0.1:8080/packages/nv.mvpkg"},
                    {"path", kAwkward},
                    {"sdkTaskId", 2},
                    {"sdkData", "18446744073709551615"}}),
            Before({{"on", "Morvane_InitSDK"}, {"fire", "cancelDownload"}, {"sdkTaskId", -1}}),
            Before({{"on", "Morvane_InitSDK"},
                    {"fire", "httpRequest"},
                    {"url", "http://127.0.0.1:8080/catalogue.json"},
                    {"method", 1},
                    {"headers", Pairs({{"Accept", "application/json"},
                                       {"Accept", "text/plain"},
                                       {"X-Text", kAwkward}})},
                    {"bodyHex", "7b2200ff0a7dc3"},
                    {"sdkTaskId", 1},
                    {"sdkData", 7}}),
            Before({{"on", "Morvane_InitSDK"}, {"fire", "httpRequest"}, {"method", 7}}),
            Before({{"on", "Morvane_SetDriverDownloadDir"}, {"fire", "log"}, {"line", ""}}),
            Before({{"on", "downloadResponse"}, {"fire", "log"}, {"line", "download answered"}}),
            Before({{"on", "httpResponse"},
                    {"fire", "download"},
                    {"url", "http://127.0.0.1:8080/packages/amd.mvpkg"},
                    {"sdkTaskId", 3}})}}};
}

// Checks reported during the call, with full arrays, a null error text, a skipped userData,
// and all waiting checks on a cancel.
json Checks() {
  return {{"results", {{"Morvane_CancelCheckDisplayDeviceDriver", -1004}}},
          {"actions",
           {Before({{"on", "Morvane_CheckDisplayDeviceDriver"},
                    {"call", 1},
                    {"fire", "check"},
                    {"needUpdate", true},
                    {"info",
                     {{"name", Filling(300)},
                      {"vendorId", "10DE10DE10"},
                      {"deviceId", "\xe2\x82\xac" "2484"},
                      {"driverVersion", Filling(40)},
                      {"driverDate", "2023-06-14"},
                      {"fileSize", 4294967295u}}},
                    {"errorCode", -2005},
                    {"errorMsg", kAwkward}}),
            Before({{"on", "Morvane_CheckDisplayDeviceDriver"},
                    {"call", 2},
                    {"fire", "check"},
                    {"userData", "null"}}),
            Before({{"on", "Morvane_CheckDisplayDeviceDriver"},
                    {"call", 3},
                    {"fire", "check"},
                    {"errorCode", -2147483647 - 1},
                    {"errorMsg", nullptr}}),
            Before({{"on", "Morvane_CancelCheckDisplayDeviceDriver"},
                    {"fire", "pendingChecks"},
                    {"order", "reverse"},
                    {"errorCode", -1003},
                    {"errorMsg", "cancelled"}}),
            Before({{"on", "Morvane_GetSDKVersion"}, {"fire", "check"}})}}};
}

// Updates through every state and past the table, an error text that fills its array, a
// skipped userData, reports on a cancel and on a call of another function.
json Updates() {
  json steps = json::array();
  for (unsigned state = 0; state <= 11; ++state) {
    steps.push_back({{"state", state}, {"progress", state * 10}});
  }
  steps.push_back({{"state", 4294967295u},
                   {"progress", -1},
                   {"errorCode", -2147483647 - 1},
                   {"errorMsg", Filling(300)}});
  return {{"actions",
           {Before({{"on", "Morvane_UpdateDisplayDeviceDriver"},
                    {"call", 1},
                    {"fire", "update"},
                    {"steps", steps}}),
            Before({{"on", "Morvane_UpdateDisplayDeviceDriver"},
                    {"call", 2},
                    {"fire", "update"},
                    {"userData", "null"},
                    {"state", 1}}),
            Before({{"on", "Morvane_CancelUpdateDisplayDeviceDriver"},
                    {"fire", "update"},
                    {"state", 2},
                    {"errorCode", -2012},
                    {"errorMsg", kAwkward}}),
            Before({{"on", "Morvane_GetDisplayDevice"},
                    {"fire", "update"},
                    {"vendorId", ""},
                    {"deviceId", kAwkward},
                    {"state", 7},
                    {"progress", 50}})}}};
}

// Adapters with full and awkward texts, every vendor type, asked for in steps.
json Devices() {
  json records = json::array();
  records.push_back({{"name", Filling(300)},
                     {"driverVersion", Filling(40)},
                     {"driverDate", "2023-01-10"},
                     {"vendorId", "10DE"},
                     {"deviceId", "2484"},
                     {"enable", true},
                     {"problemCode", 43},
                     {"vendorType", 1}});
  records.push_back({{"name", kAwkward},
                     {"vendorId", "1002XXXXXX"},
                     {"deviceId", "73BF"},
                     {"problemCode", -1},
                     {"vendorType", 2}});
  for (int vendorType : {3, 4, 0, -7, 2147483647}) records.push_back({{"vendorType", vendorType}});
  return {{"version", "1.4.0-" + Filling(40)},
          {"displayDevices",
           {{"records", records},
            {"answers",
             {{{"result", -1001}, {"count", 2}},
              {{"result", -1001}, {"count", 7}},
              {{"result", 0}, {"fill", 3}}}}}}};
}

// A library that keeps saying the array is too small, so a listing ends at the bridge's cap on
// calls, and has no version text. It asks for one record each time, which costs the same calls
// as asking for ever more and keeps the input fast; the answers cover two listings.
json TooSmall() {
  json answers = json::array();
  for (int call = 0; call < 128; ++call) answers.push_back({{"result", -1001}, {"count", 1}});
  return {{"version", ""},
          {"displayDevices", {{"records", json::array({{{"name", "one"}}})}, {"answers", answers}}}};
}

// Every function fails, with known codes and codes outside the table; HTTP answers find no
// response function.
json Failures() {
  return {{"results",
           {{"Morvane_InitSDK", -2000},
            {"Morvane_GetSDKVersion", 12345},
            {"Morvane_GetDisplayDevice", -2006},
            {"Morvane_CheckDisplayDeviceDriver", -2015},
            {"Morvane_CancelCheckDisplayDeviceDriver", -2147483647 - 1},
            {"Morvane_UpdateDisplayDeviceDriver", -2016},
            {"Morvane_CancelUpdateDisplayDeviceDriver", -2014},
            {"Morvane_SetDriverDownloadDir", -2011},
            {"downloadResponse", -3001}}},
          {"init", {{"fillDownloadResponse", true}, {"fillHttpResponse", false}}}};
}

// Callbacks from the library's own threads, two at once for log lines. Each thread costs far more
// than a call under the sanitizers, so only job reports and log lines come from threads.
json LibraryThreads() {
  return {{"actions",
           {{{"on", "Morvane_InitSDK"}, {"fire", "log"}, {"line", "tick"}, {"threads", 2},
             {"count", 3}},
            {{"on", "Morvane_CheckDisplayDeviceDriver"}, {"fire", "check"}, {"needUpdate", true}},
            {{"on", "Morvane_UpdateDisplayDeviceDriver"},
             {"fire", "update"},
             {"steps", {{{"state", 1}}, {{"state", 1}, {"progress", 100}}, {{"state", 3}},
                        {{"state", 10}}}}},
            {{"on", "Morvane_SetDriverDownloadDir"}, {"fire", "pendingChecks"}}}}};
}

// Reports tied to the n-th call and to adapters named by a cancel; a listing that asks for
// nothing; no download response function.
json ByCall() {
  return {{"displayDevices",
           {{"records", json::array({{{"name", "one"}, {"vendorType", 1}}})},
            {"answers", {{{"result", -1001}, {"count", 0}}}}}},
          {"init", {{"fillDownloadResponse", false}}},
          {"actions",
           {Before({{"on", "Morvane_CheckDisplayDeviceDriver"},
                    {"call", 2},
                    {"fire", "pendingChecks"}}),
            Before({{"on", "Morvane_UpdateDisplayDeviceDriver"},
                    {"call", 1},
                    {"fire", "update"},
                    {"state", 10},
                    {"progress", 100}}),
            Before({{"on", "Morvane_CancelUpdateDisplayDeviceDriver"},
                    {"call", 1},
                    {"fire", "update"},
                    {"vendorId", "other"},
                    {"state", 8},
                    {"errorCode", -2008}}),
            Before({{"on", "Morvane_CancelCheckDisplayDeviceDriver"},
                    {"fire", "check"},
                    {"info", {{"vendorId", ""}, {"deviceId", ""}}}})}}};
}

const std::vector<json>& Scenarios() {
  static const std::vector<json> scenarios = {Quiet(),    Services(), Checks(),
                                              Updates(),  Devices(),  TooSmall(),
                                              Failures(), LibraryThreads(), ByCall()};
  return scenarios;
}

scriptable_sdk::PreparedScenario PrepareOrDie(json scenario) {
  scenario["callLog"] = {{"functions", {"Morvane_InitSDK"}}};
  std::string error;
  scriptable_sdk::PreparedScenario prepared = scriptable_sdk::PrepareScenario(scenario, &error);
  if (!prepared) {
    std::fprintf(stderr, "protocol_fuzzer: the library rejects a scenario: %s\n", error.c_str());
    std::abort();
  }
  return prepared;
}

std::size_t IndexFor(std::uint8_t selector) {
  return static_cast<std::uint8_t>(selector - '0') % Scenarios().size();
}

}  // namespace

const scriptable_sdk::PreparedScenario& PreparedScenarioFor(std::uint8_t selector) {
  static const std::vector<scriptable_sdk::PreparedScenario> prepared = [] {
    std::vector<scriptable_sdk::PreparedScenario> all;
    for (const json& scenario : Scenarios()) all.push_back(PrepareOrDie(scenario));
    return all;
  }();
  return prepared[IndexFor(selector)];
}

const scriptable_sdk::PreparedScenario& ForgettingScenario() {
  static const scriptable_sdk::PreparedScenario forgetting =
      PrepareOrDie({{"init", {{"fillDownloadResponse", false}, {"fillHttpResponse", false}}}});
  return forgetting;
}

}  // namespace electron_morvane::fuzz
