#include "sim_fixture.h"

#include <stdlib.h>

#include <fstream>

namespace electron_morvane::sim_test {

namespace {

std::string Field(const char* text, std::size_t size) {
  std::size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return std::string(text, length);
}

template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return Field(text, N);
}

}  // namespace

void CheckJob::Callback(const SdkDriverInfoRecord* info, uint8_t needUpdate, int32_t errorCode,
                        const char* errorMsg, void* userData) {
  static_cast<CheckJob*>(userData)->reports.Add(
      {Field(info->name), Field(info->vendorId), Field(info->deviceId), Field(info->driverVersion),
       Field(info->driverDate), info->fileSize, needUpdate != 0, errorCode, errorMsg});
}

CheckReport CheckJob::Result() const {
  EXPECT_TRUE(reports.WaitForCount(1)) << "the check never reported";
  const auto items = reports.Items();
  return items.empty() ? CheckReport{} : items.front();
}

void UpdateJob::Callback(const char* vendorId, const char* deviceId, uint32_t state,
                         const SdkUpdateStatusRecord* status, void* userData) {
  static_cast<UpdateJob*>(userData)->reports.Add(
      {vendorId, deviceId, state, status->progress, status->errorCode, Field(status->errorMsg)});
}

bool IsFinalState(uint32_t state) {
  return state == MORVANE_UPDATE_DOWNLOAD_ERROR || state == MORVANE_UPDATE_UNZIP_ERROR ||
         state == MORVANE_UPDATE_INSTALL_ERROR || state == MORVANE_UPDATE_FINISH;
}

UpdateReport UpdateJob::Last() const {
  const bool ended = reports.WaitUntil([](const std::vector<UpdateReport>& items) {
    return !items.empty() && IsFinalState(items.back().state);
  });
  EXPECT_TRUE(ended) << "the update never ended";
  const auto items = reports.Items();
  return items.empty() ? UpdateReport{} : items.back();
}

bool UpdateJob::WaitForState(uint32_t state) const {
  return reports.WaitUntil([state](const std::vector<UpdateReport>& items) {
    for (const UpdateReport& report : items) {
      if (report.state == state) return true;
    }
    return false;
  });
}

std::vector<uint32_t> UpdateJob::States() const {
  std::vector<uint32_t> states;
  for (const UpdateReport& report : reports.Items()) {
    if (states.empty() || states.back() != report.state) states.push_back(report.state);
  }
  return states;
}

void SimulatorTest::SetUp() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "morvane-sim-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  host_ = std::make_unique<FakeHost>();
  machine_ = {{"adapters", {AdapterJson(kAdapterA), AdapterJson(kAdapterB)}},
              {"faults", {{"httpTimeoutMs", 10000}}}};
}

void SimulatorTest::TearDown() {
  // Ends every job before the host and the jobs' user data go away.
  Morvane_UninitSDK();
  host_.reset();
  unsetenv("MORVANE_SIM_MACHINE");
  std::error_code error;
  std::filesystem::remove_all(root_, error);
}

std::filesystem::path SimulatorTest::Folder(const std::string& name) const { return root_ / name; }

void SimulatorTest::ServeCatalogue(const json& drivers) {
  host_->ServeHttp(kCatalogueUrl, {true, 0, 200, "", json{{"drivers", drivers}}.dump()});
}

void SimulatorTest::ServeDriver(const TestDriver& driver) {
  const std::string package = PackageBytes(driver);
  ServeCatalogue(json::array({CatalogueEntry(driver, package)}));
  DownloadPlan plan;
  plan.bytes = package;
  host_->ServeDownload(kPackageUrl, plan);
}

int32_t SimulatorTest::Init(const InitOptions& options) {
  const std::filesystem::path machineFile = root_ / "machine.json";
  std::ofstream(machineFile) << machine_.dump();
  setenv("MORVANE_SIM_MACHINE", machineFile.c_str(), 1);

  // The record's texts must outlive the call only as long as the bridge keeps them: until the
  // next init. The library copies what it needs, so these are replaced freely.
  // Tests run in parallel: none may download into the shared default folder.
  const std::string tempDir = options.tempDir.empty() ? Folder("temp").string() : options.tempDir;
  initTexts_ = {"SimTest",         "app-1", "client-device-1", "9.9.9", options.sdkConfigUrl,
                options.configDir, tempDir};
  SdkInitRecord record{};
  record.size = sizeof(SdkInitRecord);
  record.appName = initTexts_[0].c_str();
  record.appId = initTexts_[1].c_str();
  record.deviceId = initTexts_[2].c_str();
  record.clientVersion = initTexts_[3].c_str();
  host_->FillCallbacks(record);
  record.responseTable = &table_;
  record.sdkConfigUrl = options.sdkConfigUrl.empty() ? nullptr : initTexts_[4].c_str();
  record.configDir = options.configDir.empty() ? nullptr : initTexts_[5].c_str();
  record.tempDir = initTexts_[6].c_str();
  record.logMode = options.logMode;
  table_ = {};
  const int32_t result = Morvane_InitSDK(&record, nullptr);
  host_->UseResponses(table_);
  return result;
}

std::vector<SdkDisplayDeviceRecord> SimulatorTest::Devices() {
  uint32_t count = 0;
  EXPECT_EQ(Morvane_GetDisplayDevice(nullptr, &count), MORVANE_ARRAY_SIZE_NOT_ENOUGH);
  std::vector<SdkDisplayDeviceRecord> devices(count);
  EXPECT_EQ(Morvane_GetDisplayDevice(devices.data(), &count), MORVANE_OK);
  EXPECT_EQ(count, devices.size());
  return devices;
}

SdkDisplayDeviceRecord SimulatorTest::Device(const TestAdapter& adapter) {
  for (const SdkDisplayDeviceRecord& device : Devices()) {
    if (Field(device.vendorId) == adapter.vendorId && Field(device.deviceId) == adapter.deviceId) {
      return device;
    }
  }
  ADD_FAILURE() << "no adapter " << adapter.vendorId << ":" << adapter.deviceId;
  return {};
}

int32_t SimulatorTest::StartCheck(const TestAdapter& adapter, CheckJob& job) {
  return Morvane_CheckDisplayDeviceDriver(adapter.vendorId, adapter.deviceId, &CheckJob::Callback,
                                          &job);
}

int32_t SimulatorTest::StartUpdate(const TestAdapter& adapter, UpdateJob& job) {
  return Morvane_UpdateDisplayDeviceDriver(adapter.vendorId, adapter.deviceId,
                                           &UpdateJob::Callback, &job);
}

void SimulatorTest::StartStalledUpdate(UpdateJob& job) {
  ServeDriver(TestDriver());
  host_->ServeDownload(kPackageUrl, StalledDownload());
  ASSERT_EQ(Init(), MORVANE_OK);
  ASSERT_EQ(StartUpdate(kAdapterA, job), MORVANE_OK);
  ASSERT_TRUE(job.reports.WaitUntil([](const std::vector<UpdateReport>& reports) {
    for (const UpdateReport& report : reports) {
      if (report.state == MORVANE_UPDATE_DOWNLOAD && report.progress == 10) return true;
    }
    return false;
  })) << "the download never reported its progress";
}

void SimulatorTest::StartStalledCheck(CheckJob& job) {
  host_->ServeHttp(kCatalogueUrl, NoAnswer());
  ASSERT_EQ(Init(), MORVANE_OK);
  ASSERT_EQ(StartCheck(kAdapterA, job), MORVANE_OK);
  ASSERT_TRUE(host_->httpRequests.WaitForCount(1)) << "the check never asked for the catalogue";
}

void SimulatorTest::AnswerHttp(const HttpRequestSeen& request, const std::string& body,
                               uint64_t sdkData) {
  table_.httpResponse(request.sdkTaskId, MORVANE_OK, 200, "", nullptr, 0, body.data(),
                      static_cast<uint32_t>(body.size()), sdkData);
}

CheckReport SimulatorTest::Check(const TestAdapter& adapter) {
  CheckJob job;
  EXPECT_EQ(StartCheck(adapter, job), MORVANE_OK);
  return job.Result();
}

UpdateReport SimulatorTest::Update(const TestAdapter& adapter, UpdateJob& job) {
  EXPECT_EQ(StartUpdate(adapter, job), MORVANE_OK);
  return job.Last();
}

}  // namespace electron_morvane::sim_test
