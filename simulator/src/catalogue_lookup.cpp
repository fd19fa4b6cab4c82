#include "catalogue_lookup.h"

#include "version.h"

namespace electron_morvane::sim {

namespace {

StepResult Fetch(const JobEnv& env, std::string& body) {
  if (env.catalogueUrl.empty()) return {kBusinessNoSdkConfig, "init was given no sdkConfigUrl"};
  HttpAnswer answer;
  switch (env.link.Get(env.catalogueUrl, env.control, env.timeout(), answer)) {
    case WaitEnd::kStopped:
      return {kCancelOperation, StopMessage(env.control.Stop())};
    case WaitEnd::kTimedOut:
      return {kTimeout, "no answer to the catalogue request within " +
                            std::to_string(env.faults.httpTimeoutMs) + " ms"};
    case WaitEnd::kNoService:
      return {kNetError, "init was given no HTTP request callback"};
    case WaitEnd::kDone:
      break;
  }
  if (answer.result != kOk) {
    return {answer.result, answer.errorMsg.empty()
                               ? "the catalogue request failed"
                               : "the catalogue request failed: " + answer.errorMsg};
  }
  if (answer.httpStatusCode < 200 || answer.httpStatusCode > 299) {
    return {kDownloadDriverConfigFail,
            "the catalogue request got HTTP status " + std::to_string(answer.httpStatusCode)};
  }
  body = std::move(answer.body);
  return {};
}

}  // namespace

CatalogueLookup LookUpDriver(const JobEnv& env) {
  CatalogueLookup lookup;
  std::string body;
  lookup.result = Fetch(env, body);
  if (!lookup.result.ok()) return lookup;

  std::string error;
  const auto entries = ParseCatalogue(body, error);
  if (!entries) {
    lookup.result = {kParseDriverConfigFail, "the catalogue does not parse: " + error};
    return lookup;
  }
  env.logger.Debug(env.key() + ": the catalogue has " + std::to_string(entries->size()) +
                   " drivers");
  lookup.entry = FindNewestEntry(*entries, env.adapter.vendorId, env.adapter.deviceId);
  if (!lookup.entry) {
    lookup.result = {kNoMatchDriver, "the catalogue has no driver for " + env.key()};
  } else if (IsDottedVersion(env.adapter.driverVersion) &&
             CompareVersions(lookup.entry->version, env.adapter.driverVersion) <= 0) {
    lookup.result = {kCurrentDriverNewer, "the installed driver " + env.adapter.driverVersion +
                                              " is as new as the catalogue's " +
                                              lookup.entry->version};
  }
  return lookup;
}

}  // namespace electron_morvane::sim
