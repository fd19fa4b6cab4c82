// Listing the display adapters: the size negotiation with the library and the reading of the
// records it fills; and the version text.
#include <ostream>
#include <string>
#include <vector>

#include "operations/query_methods.h"
#include "protocol/wire_format.h"
#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

// The adapters as the host reads them, one line each.
std::vector<std::string> Lines(const std::vector<SdkWrapper::SdkDisplayDevice>& devices) {
  std::vector<std::string> lines;
  for (const auto& device : devices) lines.push_back(SerializeMessage(ToJson(device)));
  return lines;
}

const json kFirst = {{"name", "Adapter One"},      {"driverVersion", "31.0.15.1"},
                     {"driverDate", "2023-01-02"}, {"vendorId", "10DE"},
                     {"deviceId", "2204"},         {"enable", true},
                     {"problemCode", 0},           {"vendorType", 1}};
const json kSecond = {{"name", "Adapter Two"},      {"driverVersion", "27.20.100.9"},
                      {"driverDate", "2021-07-30"}, {"vendorId", "8086"},
                      {"deviceId", "9A49"},         {"enable", false},
                      {"problemCode", 22},          {"vendorType", 2}};
const json kThird = {{"name", "Adapter Three"},    {"driverVersion", "1.0"},
                     {"driverDate", "2020-01-01"}, {"vendorId", "1002"},
                     {"deviceId", "73BF"},         {"enable", true},
                     {"problemCode", -5},          {"vendorType", 3}};
const std::string kFirstLine =
    R"({"deviceId":"2204","driverDate":"2023-01-02","driverVersion":"31.0.15.1","enable":true,"name":"Adapter One","problemCode":0,"vendorId":"10DE","vendorType":"nvidia"})";
const std::string kSecondLine =
    R"({"deviceId":"9A49","driverDate":"2021-07-30","driverVersion":"27.20.100.9","enable":false,"name":"Adapter Two","problemCode":22,"vendorId":"8086","vendorType":"amd"})";
const std::string kThirdLine =
    R"({"deviceId":"73BF","driverDate":"2020-01-01","driverVersion":"1.0","enable":true,"name":"Adapter Three","problemCode":-5,"vendorId":"1002","vendorType":"intel"})";
const std::string kUnfilledLine =
    R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"unknown"})";

struct NegotiationCase {
  const char* name;
  json displayDevices;
  ResultCode result;
  std::vector<std::uint32_t> lengthsPassed;  // the array length handed over in each call
  std::vector<std::string> devices;
};

void PrintTo(const NegotiationCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::uint32_t> Ascending(std::uint32_t count) {
  std::vector<std::uint32_t> lengths(count);
  for (std::uint32_t i = 0; i < count; ++i) lengths[i] = i;
  return lengths;
}

std::vector<std::string> Unfilled(std::size_t count) {
  return std::vector<std::string>(count, kUnfilledLine);
}

class DisplayDeviceNegotiationTest : public ScriptedSdkTest,
                                     public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(DisplayDeviceNegotiationTest, CallsUntilTheArrayIsBigEnough) {
  const NegotiationCase& c = GetParam();
  Script({{"displayDevices", c.displayDevices}});

  const auto [result, devices] = SdkWrapper::GetDisplayDevice();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(Lines(devices), c.devices);
  const auto calls = scriptable_sdk::CallsOf("Morvane_GetDisplayDevice");
  ASSERT_EQ(calls.size(), c.lengthsPassed.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1));
    EXPECT_EQ(calls[i].at("countIn"), c.lengthsPassed[i]);
    EXPECT_EQ(calls[i].at("devicesNull"), c.lengthsPassed[i] == 0);
    if (c.lengthsPassed[i] != 0) {
      EXPECT_EQ(calls[i].at("recordsZeroFilled"), true);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DisplayDeviceNegotiationTest,
    ::testing::Values(
        NegotiationCase{"GrowsToTwoThenThree",
                        {{"records", {kFirst, kSecond, kThird}},
                         {"answers",
                          {{{"result", -1001}, {"count", 2}},
                           {{"result", -1001}, {"count", 3}},
                           {{"result", 0}}}}},
                        0,
                        {0, 2, 3},
                        {kFirstLine, kSecondLine, kThirdLine}},
        NegotiationCase{"NoAdapterAnswersAtOnce",
                        {{"answers", {{{"result", 0}, {"count", 0}}}}},
                        0,
                        {0},
                        {}},
        NegotiationCase{
            "SuccessFillingOneOfTwoKeepsBoth",
            {{"records", {kFirst, kSecond}},
             {"answers",
              {{{"result", -1001}, {"count", 2}}, {{"result", 0}, {"fill", 1}, {"count", 1}}}}},
            0,
            {0, 2},
            {kFirstLine, kUnfilledLine}},
        NegotiationCase{"TooSmallAskingForNothingEnds",
                        {{"answers", {{{"result", -1001}, {"count", 0}}}}},
                        -1001,
                        {0},
                        {}},
        NegotiationCase{
            "OtherFailureKeepsTheArrayAsPassed",
            {{"records", {kFirst, kSecond}},
             {"answers", {{{"result", -1001}, {"count", 2}}, {{"result", -1004}, {"fill", 0}}}}},
            -1004,
            {0, 2},
            Unfilled(2)},
        NegotiationCase{"EndlessAskingIsCutOff",
                        {{"alwaysTooSmall", true}},
                        -1001,
                        Ascending(SdkWrapper::kMaxDisplayDeviceCalls),
                        Unfilled(SdkWrapper::kMaxDisplayDeviceCalls - 1)}),
    [](const auto& info) { return std::string(info.param.name); });

// Text arrays that the library filled to the last byte are read to their width only: each is
// followed by other fields that an unbounded read would run into.
TEST_F(ScriptedSdkTest, DeviceTextArraysWithoutNulAreReadToTheirWidth) {
  Script({{"displayDevices",
           {{"records",
             {{{"name", std::string(300, 'N')},
               {"driverVersion", "V"},
               {"driverDate", std::string(32, 'D')},
               {"vendorId", "ABCDEFGHIJ"},
               {"deviceId", "12345678"},
               {"enable", true},
               {"problemCode", 0x41414141}}}}}}});

  const auto [result, devices] = SdkWrapper::GetDisplayDevice();

  ASSERT_EQ(result, 0);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].name, std::string(256, 'N'));
  EXPECT_EQ(devices[0].driverVersion, "V");
  EXPECT_EQ(devices[0].driverDate, std::string(32, 'D'));
  EXPECT_EQ(devices[0].vendorId, "ABCDEFGH");
  EXPECT_EQ(devices[0].deviceId, "12345678");
  EXPECT_TRUE(devices[0].enable);
}

struct VersionCase {
  const char* name;
  std::string written;
  ResultCode result;
  std::string expected;
};

void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }

class VersionTest : public ScriptedSdkTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, ReadsTheBufferUpToItsNulOrItsEnd) {
  const VersionCase& c = GetParam();
  Script({{"version", c.written}, {"results", {{"Morvane_GetSDKVersion", c.result}}}});

  const auto [result, version] = SdkWrapper::GetSDKVersion();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(version, c.expected);
  const auto calls = scriptable_sdk::CallsOf("Morvane_GetSDKVersion");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].at("bufferZeroFilled"), true);
}

INSTANTIATE_TEST_SUITE_P(Texts, VersionTest,
                         ::testing::Values(VersionCase{"Terminated", "9.8.7-scripted", 0,
                                                       "9.8.7-scripted"},
                                           VersionCase{"FillingAll32Bytes", std::string(40, '7'), 0,
                                                       std::string(32, '7')},
                                           VersionCase{"GivenWithAFailure", "1.0", -1003, "1.0"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace electron_morvane
