// Steering the library from outside the process: a scenario file named by MORVANE_SCRIPT and a
// call log file named by MORVANE_CALL_LOG (CTest sets both for this executable).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

std::vector<json> LogFileLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<json> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(json::parse(line));
  return lines;
}

// Nothing may call into the library before this test: it reads the variables at its first call.
TEST(ScriptableEnvironmentTest, ScenarioFileSteersAndEveryCallIsInTheLogFileAtOnce) {
  const char* script = std::getenv("MORVANE_SCRIPT");
  const char* logPath = std::getenv("MORVANE_CALL_LOG");
  if (script == nullptr || logPath == nullptr) {
    GTEST_SKIP() << "run through ctest, which sets MORVANE_SCRIPT and MORVANE_CALL_LOG";
  }
  std::remove(logPath);

  EXPECT_EQ(SdkWrapper::GetSDKVersion().second, "from-scenario-file");
  ASSERT_EQ(LogFileLines(logPath).size(), 1u);
  // A text that is not UTF-8 still makes a line.
  EXPECT_EQ(SdkWrapper::SetDriverDownloadDir("/drivers/\xff"), -2010);

  const auto lines = LogFileLines(logPath);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["call"], "Morvane_GetSDKVersion");
  EXPECT_EQ(lines[1]["call"], "Morvane_SetDriverDownloadDir");
  EXPECT_EQ(lines[1]["dir"], "/drivers/\xef\xbf\xbd");
  EXPECT_EQ(lines[1]["returned"], -2010);
}

}  // namespace
}  // namespace electron_morvane
