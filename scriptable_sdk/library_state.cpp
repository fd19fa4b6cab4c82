#include "library_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace electron_morvane::scriptable_sdk {
namespace {

// A test that names a scenario file it cannot have must fail loudly, not run unscripted.
Scenario LoadScenarioFile(const char* path) {
  try {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot be opened");
    std::stringstream text;
    text << file.rdbuf();
    return ParseScenario(nlohmann::json::parse(text.str()));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scriptable driver library: scenario file %s: %s\n", path, error.what());
    std::abort();
  }
}

}  // namespace

LibraryState& LibraryState::Get() {
  static NoDestructor<LibraryState> state;
  return state.get();
}

LibraryState::LibraryState() : scenario_(std::make_shared<const Scenario>()) {
  const char* path = std::getenv("MORVANE_SCRIPT");
  if (path != nullptr && *path != '\0') {
    scenario_ = std::make_shared<const Scenario>(LoadScenarioFile(path));
  }
}

void LibraryState::Replace(std::shared_ptr<const Scenario> scenario) {
  const std::lock_guard<std::mutex> lock(mutex_);
  scenario_ = std::move(scenario);
  callCounts_.clear();
  InstallCallbacks(InstalledCallbacks{});
  pendingChecks_.clear();
  updateJobs_.clear();
}

CallPlan LibraryState::BeginCall(const std::string& function) {
  const std::lock_guard<std::mutex> lock(mutex_);
  CallPlan plan;
  plan.number = ++callCounts_[function];
  const auto result = scenario_->results.find(function);
  if (result != scenario_->results.end()) plan.result = result->second;
  for (const Action& action : scenario_->actions) {
    if (action.on == function && (!action.call || *action.call == plan.number)) {
      plan.actions.push_back(action);
    }
  }
  plan.logged = !scenario_->loggedFunctions || scenario_->loggedFunctions->count(function) != 0;
  plan.logBodyBytes = scenario_->logBodyBytes;
  plan.loggedVariables = scenario_->loggedVariables;
  return plan;
}

std::shared_ptr<const Scenario> LibraryState::CurrentScenario() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return scenario_;
}

void LibraryState::InstallCallbacks(const InstalledCallbacks& callbacks) {
  log_.store(callbacks.log, std::memory_order_relaxed);
  download_.store(callbacks.download, std::memory_order_relaxed);
  cancelDownload_.store(callbacks.cancelDownload, std::memory_order_relaxed);
  httpRequest_.store(callbacks.httpRequest, std::memory_order_relaxed);
}

InstalledCallbacks LibraryState::Callbacks() const {
  return InstalledCallbacks{log_.load(std::memory_order_relaxed),
                            download_.load(std::memory_order_relaxed),
                            cancelDownload_.load(std::memory_order_relaxed),
                            httpRequest_.load(std::memory_order_relaxed)};
}

template <typename Job>
typename std::vector<Job>::iterator LibraryState::Find(std::vector<Job>& jobs,
                                                       const JobQuery& query) {
  const auto matches = [&](const Job& job) {
    if (query.userData != nullptr) return job.userData == query.userData;
    return (!query.vendorId || job.vendorId == *query.vendorId) &&
           (!query.deviceId || job.deviceId == *query.deviceId);
  };
  const auto latest = std::find_if(jobs.rbegin(), jobs.rend(), matches);
  return latest == jobs.rend() ? jobs.end() : std::prev(latest.base());
}

void LibraryState::AddCheckJob(const CheckJob& job) {
  const std::lock_guard<std::mutex> lock(mutex_);
  pendingChecks_.push_back(job);
  everyUserData_.push_back(job.userData);
}

std::optional<CheckJob> LibraryState::ClaimCheckJob(const JobQuery& query) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = Find(pendingChecks_, query);
  if (found == pendingChecks_.end()) return std::nullopt;
  CheckJob job = *found;
  pendingChecks_.erase(found);
  return job;
}

std::optional<CheckJob> LibraryState::PeekCheckJob(const JobQuery& query) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = Find(pendingChecks_, query);
  if (found == pendingChecks_.end()) return std::nullopt;
  return *found;
}

std::vector<CheckJob> LibraryState::ClaimAllCheckJobs() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<CheckJob> jobs;
  jobs.swap(pendingChecks_);
  return jobs;
}

void LibraryState::AddUpdateJob(const UpdateJob& job) {
  const std::lock_guard<std::mutex> lock(mutex_);
  updateJobs_.push_back(job);
  everyUserData_.push_back(job.userData);
}

std::optional<UpdateJob> LibraryState::FindUpdateJob(const JobQuery& query) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = Find(updateJobs_, query);
  if (found == updateJobs_.end()) return std::nullopt;
  return *found;
}

}  // namespace electron_morvane::scriptable_sdk
