// A test acting as the bridge and host for the simulated library: it writes the machine file,
// serves the catalogue and the driver packages, initialises the library and collects what the
// check and update jobs report.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "fake_host.h"
#include "packages.h"
#include "recorder.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::sim_test {

using nlohmann::json;

struct CheckReport {
  std::string name, vendorId, deviceId, driverVersion, driverDate;
  uint32_t fileSize = 0;
  bool needUpdate = false;
  int32_t errorCode = 0;
  std::string errorMsg;
};

struct UpdateReport {
  std::string vendorId, deviceId;
  uint32_t state = 0;
  int32_t progress = 0;
  int32_t errorCode = 0;
  std::string errorMsg;
};

// The per-job user data of a check: collects its reports.
struct CheckJob {
  static void Callback(const SdkDriverInfoRecord* info, uint8_t needUpdate, int32_t errorCode,
                       const char* errorMsg, void* userData);
  // Waits for the first report; fails the test when none comes.
  CheckReport Result() const;
  Recorder<CheckReport> reports;
};

// The per-job user data of an update: collects its reports.
struct UpdateJob {
  static void Callback(const char* vendorId, const char* deviceId, uint32_t state,
                       const SdkUpdateStatusRecord* status, void* userData);
  // Waits for the report that ends the job (state 2, 5, 8 or 10) and returns it; fails the test
  // when none comes.
  UpdateReport Last() const;
  bool WaitForState(uint32_t state) const;
  // The states in report order, each run of repeats shown once.
  std::vector<uint32_t> States() const;
  Recorder<UpdateReport> reports;
};

bool IsFinalState(uint32_t state);

struct InitOptions {
  std::string sdkConfigUrl = kCatalogueUrl;
  std::string configDir;  // empty: none
  std::string tempDir;    // empty: a folder of the test's own
  int32_t logMode = MORVANE_LOG_ALL;
};

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path Folder(const std::string& name) const;

  // The machine file is written when Init runs.
  json machine_;
  void SetFault(const std::string& name, json value) {
    machine_["faults"][name] = std::move(value);
  }

  void ServeCatalogue(const json& drivers);
  // Serves the driver's package at kPackageUrl and a catalogue holding just its entry.
  void ServeDriver(const TestDriver& driver);

  int32_t Init(const InitOptions& options = {});

  // Every adapter through the -1001 negotiation; fails the test on another result.
  std::vector<SdkDisplayDeviceRecord> Devices();
  SdkDisplayDeviceRecord Device(const TestAdapter& adapter);

  // Starts a job of the adapter; returns what the library's start returned.
  int32_t StartCheck(const TestAdapter& adapter, CheckJob& job);
  int32_t StartUpdate(const TestAdapter& adapter, UpdateJob& job);
  // Serves the test driver with a download that stalls, inits, and starts an update of adapter A
  // that is left waiting in its download once it has reported 10 %.
  void StartStalledUpdate(UpdateJob& job);
  // Inits with a host that never answers the catalogue request, and starts a check of adapter A
  // that is left waiting for that answer once it has asked.
  void StartStalledCheck(CheckJob& job);
  // Answers an HTTP request the library made, as the host would, with this body and task data.
  void AnswerHttp(const HttpRequestSeen& request, const std::string& body, uint64_t sdkData);

  // Runs a check of the adapter to its report.
  CheckReport Check(const TestAdapter& adapter);
  // Runs an update of the adapter to its end.
  UpdateReport Update(const TestAdapter& adapter, UpdateJob& job);

  std::filesystem::path root_;
  std::unique_ptr<FakeHost> host_;
  SdkResponseTable table_{};
  std::vector<std::string> initTexts_;
};

}  // namespace electron_morvane::sim_test
