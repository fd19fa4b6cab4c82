// Checks: the catalogue request through the host and every outcome a check can report.
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace electron_morvane::sim_test {
namespace {

using CheckTest = SimulatorTest;

json Entry(const std::string& version, const std::string& vendorId = kAdapterA.vendorId,
           const std::string& deviceId = kAdapterA.deviceId) {
  TestDriver driver;
  driver.vendorId = vendorId;
  driver.deviceId = deviceId;
  driver.version = version;
  driver.name = "Driver " + version;
  return CatalogueEntry(driver, PackageBytes(driver));
}

HttpReply Catalogue(const std::vector<json>& drivers) {
  return {true, 0, 200, "", json{{"drivers", drivers}}.dump()};
}

HttpReply Body(const std::string& body) { return {true, 0, 200, "", body}; }

struct OutcomeCase {
  const char* what;
  std::string installedVersion;  // adapter A's driver
  HttpReply reply;               // the host's answer to the catalogue request
  int32_t code;
  bool needUpdate;
  std::string reportedVersion;
};

TEST_F(CheckTest, ReportsEachOutcomeExactlyOnce) {
  const std::string installed = kAdapterA.driverVersion;
  json noMd5 = Entry("31.0.15.3623");
  noMd5.erase("md5");
  json negativeSize = Entry("31.0.15.3623");
  negativeSize["fileSize"] = -1;
  json shortMd5 = Entry("31.0.15.3623");
  shortMd5["md5"] = "abc";
  const OutcomeCase cases[] = {
      {"a newer driver", installed, Catalogue({Entry("31.0.15.3623")}), 0, true, "31.0.15.3623"},
      {"groups compare as numbers", "31.0.15.999", Catalogue({Entry("31.0.15.1000")}), 0, true,
       "31.0.15.1000"},
      {"the highest of several entries", installed,
       Catalogue({Entry("31.0.15.3000"), Entry("31.0.15.3623"), Entry("31.0.15.2000")}), 0, true,
       "31.0.15.3623"},
      {"ids in another letter case", installed, Catalogue({Entry("31.0.15.3623", "10de", "2484")}),
       0, true, "31.0.15.3623"},
      {"the same version", "31.0.15.3623", Catalogue({Entry("31.0.15.3623")}), -2007, false,
       "31.0.15.3623"},
      {"an installed newer driver", "31.0.15.4000", Catalogue({Entry("31.0.15.3623")}), -2007,
       false, "31.0.15.3623"},
      {"missing groups count as 0", "31.0.15.3623.0", Catalogue({Entry("31.0.15.3623")}), -2007,
       false, "31.0.15.3623"},
      {"no entry for the adapter", installed, Catalogue({Entry("9.9", "1002", "73BF")}), -2005,
       false, installed},
      {"an empty catalogue", installed, Catalogue({}), -2005, false, installed},
      {"the host's network failure",
       installed,
       {true, -3001, 0, "connection refused", ""},
       -3001,
       false,
       installed},
      {"the host's timeout", installed, {true, -3000, 0, "timed out", ""}, -3000, false, installed},
      {"HTTP 404", installed, {true, 0, 404, "", "not found"}, -2002, false, installed},
      {"HTTP 500", installed, {true, 0, 500, "", ""}, -2002, false, installed},
      {"a body that is not JSON", installed, Body("<html>"), -2004, false, installed},
      {"no drivers array", installed, Body(R"({"items":[]})"), -2004, false, installed},
      {"an entry without md5", installed, Catalogue({noMd5}), -2004, false, installed},
      {"a negative file size", installed, Catalogue({negativeSize}), -2004, false, installed},
      {"an md5 that is not 32 hex digits", installed, Catalogue({shortMd5}), -2004, false,
       installed},
      {"a version that is not dotted numbers", installed, Catalogue({Entry("v31")}), -2004, false,
       installed},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.what);
    json adapter = AdapterJson(kAdapterA);
    adapter["driverVersion"] = c.installedVersion;
    machine_["adapters"] = json::array({adapter});
    host_->ServeHttp(kCatalogueUrl, c.reply);
    ASSERT_EQ(Init(), 0);

    CheckJob job;
    ASSERT_EQ(StartCheck(kAdapterA, job), 0);
    const CheckReport report = job.Result();
    EXPECT_EQ(report.errorCode, c.code) << report.errorMsg;
    EXPECT_EQ(report.needUpdate, c.needUpdate);
    EXPECT_EQ(report.driverVersion, c.reportedVersion);
    EXPECT_EQ(report.vendorId, kAdapterA.vendorId);
    EXPECT_EQ(report.deviceId, kAdapterA.deviceId);
    EXPECT_EQ(report.errorMsg.empty(), c.code == 0);
    // Uninit waits for the job's thread: nothing can report after it.
    ASSERT_EQ(Morvane_UninitSDK(), 0);
    EXPECT_EQ(job.reports.Items().size(), 1u);
  }
}

TEST_F(CheckTest, AsksTheHostForTheCatalogueAndReportsItsEntry) {
  TestDriver driver;
  ServeDriver(driver);
  ASSERT_EQ(Init(), 0);

  const CheckReport report = Check(kAdapterA);
  EXPECT_TRUE(report.needUpdate);
  EXPECT_EQ(report.errorCode, 0);
  EXPECT_EQ(report.name, driver.name);
  EXPECT_EQ(report.driverVersion, driver.version);
  EXPECT_EQ(report.driverDate, driver.date);
  EXPECT_EQ(report.fileSize, PackageBytes(driver).size());

  const std::vector<HttpRequestSeen> requests = host_->httpRequests.Items();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url, kCatalogueUrl);
  EXPECT_EQ(requests[0].method, MORVANE_HTTP_GET);
  EXPECT_TRUE(requests[0].body.empty());
  // A check changes nothing on the machine.
  EXPECT_STREQ(Device(kAdapterA).driverVersion, kAdapterA.driverVersion);
}

TEST_F(CheckTest, NoAnswerWithinTheTimeoutGivesTimeout) {
  SetFault("httpTimeoutMs", 200);
  host_->ServeHttp(kCatalogueUrl, NoAnswer());
  ASSERT_EQ(Init(), 0);

  const CheckReport report = Check(kAdapterA);
  EXPECT_EQ(report.errorCode, -3000);
  EXPECT_FALSE(report.needUpdate);
}

TEST_F(CheckTest, LateAnswerAfterTheTimeoutIsIgnored) {
  SetFault("httpTimeoutMs", 200);
  CheckJob job;
  ASSERT_NO_FATAL_FAILURE(StartStalledCheck(job));
  ASSERT_EQ(job.Result().errorCode, -3000);

  const HttpRequestSeen request = host_->httpRequests.Items().at(0);
  AnswerHttp(request, Catalogue({Entry("31.0.15.3623")}).body, request.sdkData);
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  EXPECT_EQ(job.reports.Items().size(), 1u);
}

TEST_F(CheckTest, AnswerWithAnotherTasksDataIsIgnored) {
  SetFault("httpTimeoutMs", 300);
  CheckJob job;
  ASSERT_NO_FATAL_FAILURE(StartStalledCheck(job));
  const HttpRequestSeen request = host_->httpRequests.Items().at(0);
  AnswerHttp(request, Catalogue({Entry("31.0.15.3623")}).body, request.sdkData + 1);
  // Only the genuine task data counts: without it the check runs into its timeout.
  EXPECT_EQ(job.Result().errorCode, -3000);
}

TEST_F(CheckTest, WithoutCatalogueUrlNothingIsAsked) {
  InitOptions options;
  options.sdkConfigUrl.clear();
  ASSERT_EQ(Init(options), 0);

  EXPECT_EQ(Check(kAdapterA).errorCode, -2000);
  EXPECT_TRUE(host_->httpRequests.Items().empty());
}

}  // namespace
}  // namespace electron_morvane::sim_test
