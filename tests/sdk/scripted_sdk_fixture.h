// Shared pieces of the SdkWrapper tests: a fixture that gives every test a freshly reset
// scriptable library, and a recorder for the service callbacks.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "scriptable_control.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

using nlohmann::json;

class ScriptedSdkTest : public ::testing::Test {
 protected:
  void SetUp() override { scriptable_sdk::Reset(); }
  void TearDown() override { scriptable_sdk::WaitForLibraryThreads(); }

  static void Script(const json& scenario) {
    std::string error;
    ASSERT_TRUE(scriptable_sdk::LoadScenario(scenario, &error)) << error;
  }

  // Fires from library threads and waits until they are done.
  static void FireAndWait(const json& action) {
    std::string error;
    ASSERT_TRUE(scriptable_sdk::Fire(action, &error)) << error;
    scriptable_sdk::WaitForLibraryThreads();
  }
};

// Records what the four service callbacks receive, from any thread.
class ServiceRecorder {
 public:
  SdkWrapper::SdkInitConfig Config() {
    SdkWrapper::SdkInitConfig config;
    config.logCallback = [this](const SdkWrapper::LogParam& param) {
      const std::lock_guard<std::mutex> lock(mutex_);
      logs_.push_back(param);
      return 0;
    };
    config.downloadCallback = [this](const SdkWrapper::DownloadParam& param) {
      const std::lock_guard<std::mutex> lock(mutex_);
      downloads_.push_back(param);
    };
    config.cancelDownloadCallback = [this](const SdkWrapper::CancelDownloadParam& param) {
      const std::lock_guard<std::mutex> lock(mutex_);
      cancels_.push_back(param);
    };
    config.httpRequestCallback = [this](const SdkWrapper::HttpRequestParam& param) {
      const std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(param);
    };
    return config;
  }

  std::vector<SdkWrapper::LogParam> Logs() { return Locked(logs_); }
  std::vector<SdkWrapper::DownloadParam> Downloads() { return Locked(downloads_); }
  std::vector<SdkWrapper::CancelDownloadParam> Cancels() { return Locked(cancels_); }
  std::vector<SdkWrapper::HttpRequestParam> Requests() { return Locked(requests_); }

 private:
  template <typename T>
  std::vector<T> Locked(const std::vector<T>& items) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return items;
  }

  std::mutex mutex_;
  std::vector<SdkWrapper::LogParam> logs_;
  std::vector<SdkWrapper::DownloadParam> downloads_;
  std::vector<SdkWrapper::CancelDownloadParam> cancels_;
  std::vector<SdkWrapper::HttpRequestParam> requests_;
};

}  // namespace electron_morvane
