// Init, the adapter list and the calls that need no job.
#include <cstring>
#include <fstream>
#include <string>

#include "sim_fixture.h"

namespace electron_morvane::sim_test {
namespace {

using BasicsTest = SimulatorTest;

TEST_F(BasicsTest, InitRefusesBadRecords) {
  struct Case {
    const char* what;
    uint32_t size;
    bool withTable;
  };
  const Case cases[] = {
      {"a record of another size", 120, true},
      {"a record of size 0", 0, true},
      {"no response table", sizeof(SdkInitRecord), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SdkResponseTable table{};
    SdkInitRecord record{};
    record.size = c.size;
    host_->FillCallbacks(record);
    record.responseTable = c.withTable ? &table : nullptr;
    EXPECT_EQ(Morvane_InitSDK(&record, nullptr), -1000);
    // Refused: the library stays uninitialised.
    uint32_t count = 0;
    EXPECT_EQ(Morvane_GetDisplayDevice(nullptr, &count), -1006);
  }
  EXPECT_EQ(Morvane_InitSDK(nullptr, nullptr), -1000);
}

TEST_F(BasicsTest, InitFillsBothResponseSlotsAndLogsWhatItWasGiven) {
  InitOptions options;
  options.configDir = Folder("config").string();
  ASSERT_EQ(Init(options), 0);
  EXPECT_NE(table_.downloadResponse, nullptr);
  EXPECT_NE(table_.httpResponse, nullptr);

  bool describedInit = false;
  for (const std::string& line : host_->logLines.Items()) {
    describedInit = describedInit || (line.find("SimTest") != std::string::npos &&
                                      line.find("client-device-1") != std::string::npos &&
                                      line.find(kCatalogueUrl) != std::string::npos &&
                                      line.find(options.configDir) != std::string::npos);
  }
  EXPECT_TRUE(describedInit);
}

TEST_F(BasicsTest, CallsBeforeInitAreRefused) {
  uint32_t count = 0;
  CheckJob check;
  UpdateJob update;
  EXPECT_EQ(Morvane_GetDisplayDevice(nullptr, &count), -1006);
  EXPECT_EQ(Morvane_CheckDisplayDeviceDriver("10DE", "2484", &CheckJob::Callback, &check), -1006);
  EXPECT_EQ(Morvane_UpdateDisplayDeviceDriver("10DE", "2484", &UpdateJob::Callback, &update),
            -1006);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver("10DE", "2484"), -1006);
  EXPECT_EQ(Morvane_CancelUpdateDisplayDeviceDriver("10DE", "2484"), -1006);
  EXPECT_EQ(Morvane_SetDriverDownloadDir("/tmp"), -1006);
  EXPECT_EQ(Morvane_UninitSDK(), -1006);
}

TEST_F(BasicsTest, VersionFitsItsBuffer) {
  char version[MORVANE_VERSION_BUFFER_SIZE] = {};
  EXPECT_EQ(Morvane_GetSDKVersion(version), 0);
  EXPECT_GT(std::strlen(version), 0u);
  EXPECT_EQ(Morvane_GetSDKVersion(nullptr), -1000);
}

TEST_F(BasicsTest, AdapterListIsNegotiatedWithTheExactCount) {
  ASSERT_EQ(Init(), 0);
  uint32_t count = 0;
  EXPECT_EQ(Morvane_GetDisplayDevice(nullptr, &count), -1001);
  EXPECT_EQ(count, 2u);

  std::vector<SdkDisplayDeviceRecord> devices(3);
  count = 1;
  EXPECT_EQ(Morvane_GetDisplayDevice(devices.data(), &count), -1001);
  EXPECT_EQ(count, 2u);

  count = 3;
  EXPECT_EQ(Morvane_GetDisplayDevice(devices.data(), &count), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(devices[0].name, kAdapterA.name);
  EXPECT_STREQ(devices[0].vendorId, kAdapterA.vendorId);
  EXPECT_STREQ(devices[0].deviceId, kAdapterA.deviceId);
  EXPECT_STREQ(devices[0].driverVersion, kAdapterA.driverVersion);
  EXPECT_STREQ(devices[0].driverDate, kAdapterA.driverDate);
  EXPECT_EQ(devices[0].enable, 1);
  EXPECT_EQ(devices[0].vendorType, kAdapterA.vendorType);
  EXPECT_STREQ(devices[1].vendorId, kAdapterB.vendorId);
  EXPECT_EQ(devices[1].vendorType, kAdapterB.vendorType);
  // Records past the count are left alone.
  EXPECT_EQ(devices[2].name[0], '\0');

  EXPECT_EQ(Morvane_GetDisplayDevice(devices.data(), nullptr), -1000);
}

TEST_F(BasicsTest, MachineFileFieldsReachTheRecords) {
  json adapter = AdapterJson(kAdapterA);
  adapter["name"] = std::string(300, 'n');  // longer than the record's field
  adapter["enable"] = false;
  adapter["problemCode"] = -43;
  adapter["vendorType"] = 4;
  adapter.erase("driverDate");
  machine_["adapters"] = json::array({adapter});
  ASSERT_EQ(Init(), 0);

  const std::vector<SdkDisplayDeviceRecord> devices = Devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(std::string(devices[0].name), std::string(255, 'n'));
  EXPECT_EQ(devices[0].enable, 0);
  EXPECT_EQ(devices[0].problemCode, -43);
  EXPECT_EQ(devices[0].vendorType, 4);
  EXPECT_STREQ(devices[0].driverDate, "");
}

TEST_F(BasicsTest, MachineWithoutAdaptersHasNoGraphicsDevice) {
  machine_["adapters"] = json::array();
  ASSERT_EQ(Init(), 0);
  uint32_t count = 5;
  EXPECT_EQ(Morvane_GetDisplayDevice(nullptr, &count), -2006);
  EXPECT_EQ(count, 0u);
}

TEST_F(BasicsTest, UnusableMachineFileFailsInit) {
  const std::string badMachines[] = {
      "not json",
      R"({"adapters":{}})",
      R"({"adapters":[{"name":"x","vendorId":"10DE","deviceId":"1"}]})",
      R"({"adapters":[],"faults":{"stepDelayMs":"slow"}})",
      R"({"adapters":[],"faults":{"httpTimeoutMs":-1}})",
      R"({"adapters":[],"faults":{"crashDuringUpdate":"unpack"}})",
      R"({"adapters":[],"faults":{"hangDuringUpdate":"Download"}})",
      R"({"adapters":[],"faults":{"crashInCall":"Morvane_GetSdkVersion"}})",
      R"({"adapters":[],"faults":{"hangInCall":"GetDisplayDevice"}})",
      R"({"adapters":[],"faults":{"crashInCall":true}})",
  };
  for (const std::string& text : badMachines) {
    SCOPED_TRACE(text);
    ASSERT_EQ(Init(), 0);  // a good machine first, so the failure is seen replacing it
    const std::filesystem::path file = Folder("bad-machine.json");
    std::ofstream(file) << text;
    setenv("MORVANE_SIM_MACHINE", file.c_str(), 1);
    SdkInitRecord record{};
    record.size = sizeof(SdkInitRecord);
    host_->FillCallbacks(record);
    record.responseTable = &table_;
    record.logMode = MORVANE_LOG_ALL;
    EXPECT_EQ(Morvane_InitSDK(&record, nullptr), -2009);
    uint32_t count = 0;
    EXPECT_EQ(Morvane_GetDisplayDevice(nullptr, &count), -1006);
  }
}

TEST_F(BasicsTest, DefaultMachineHasAdaptersOfDifferentVendors) {
  ASSERT_EQ(Init(), 0);
  unsetenv("MORVANE_SIM_MACHINE");
  SdkInitRecord record{};
  record.size = sizeof(SdkInitRecord);
  host_->FillCallbacks(record);
  record.responseTable = &table_;
  ASSERT_EQ(Morvane_InitSDK(&record, nullptr), 0);

  const std::vector<SdkDisplayDeviceRecord> devices = Devices();
  ASSERT_GE(devices.size(), 2u);
  ASSERT_LE(devices.size(), 3u);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_GT(std::strlen(devices[i].driverVersion), 0u);
    for (std::size_t j = i + 1; j < devices.size(); ++j) {
      EXPECT_STRNE(devices[i].vendorId, devices[j].vendorId);
      EXPECT_NE(devices[i].vendorType, devices[j].vendorType);
    }
  }
}

}  // namespace
}  // namespace electron_morvane::sim_test
