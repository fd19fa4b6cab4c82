#include "update_job.h"

#include <system_error>
#include <utility>

#include "catalogue_lookup.h"
#include "fatal_faults.h"
#include "package.h"

namespace electron_morvane::sim {

namespace {

constexpr int32_t kStepProgress[] = {0, 25, 50, 75, 100};
// The step at which unpack and install do their work, and fail when told to.
constexpr int32_t kWorkProgress = 25;

UpdateReport Failed(uint32_t state, const StepResult& result) {
  return {state, 0, result.code, result.message};
}

bool FaultAt(const JobEnv& env, UpdateStep step) {
  return env.faults.crashDuringUpdate == step || env.faults.hangDuringUpdate == step;
}

// Crashes, or hangs for good, when the machine puts that fault at this step; returns when it puts
// none there, or when a stop came before the hang.
void ActOnFault(const JobEnv& env, UpdateStep step) {
  if (env.faults.crashDuringUpdate == step) {
    env.logger.Error(env.key() + ": simulated crash during " + NameOf(step));
    CrashWithInvalidAccess();
  }
  if (env.faults.hangDuringUpdate == step && env.control.EnterHang()) {
    env.logger.Error(env.key() + ": simulated hang during " + NameOf(step));
    HangForever();
  }
}

std::string PackageStem(const CatalogueEntry& entry, const Adapter& adapter) {
  return adapter.vendorId + "-" + adapter.deviceId + "-" + entry.version;
}

StepResult Download(const JobEnv& env, const CatalogueEntry& entry,
                    const std::filesystem::path& file, const UpdateSink& report) {
  std::error_code error;
  std::filesystem::create_directories(env.downloadDir, error);
  if (error) {
    return {kDiskSpaceNotEnoughDownload, "cannot create the download folder " +
                                             env.downloadDir.string() + ": " + error.message()};
  }
  std::filesystem::remove(file, error);

  const std::optional<int32_t> taskId = env.link.StartDownload(entry.url, file.string());
  if (!taskId) return {kNetError, "init was given no download callback"};
  bool firstEvent = true;
  for (;;) {
    DownloadEvent event;
    switch (env.link.NextDownloadEvent(*taskId, env.control, env.timeout(), event)) {
      case WaitEnd::kStopped:
        env.link.EndDownload(*taskId, true);
        return {kCancelOperation, StopMessage(env.control.Stop())};
      case WaitEnd::kTimedOut:
      case WaitEnd::kNoService:
        env.link.EndDownload(*taskId, true);
        return {kTimeout,
                "no download progress within " + std::to_string(env.faults.httpTimeoutMs) + " ms"};
      case WaitEnd::kDone:
        break;
    }
    if (!event.isFinish) {
      env.logger.Debug(env.key() + ": download progress " + std::to_string(event.progress));
      report({MORVANE_UPDATE_DOWNLOAD, event.progress, kOk, ""});
    }
    // The pause lets the host see the report before the fault; a stop during it is seen at the
    // next wait.
    if (std::exchange(firstEvent, false) && FaultAt(env, UpdateStep::kDownload) &&
        env.control.Sleep(env.stepDelay())) {
      ActOnFault(env, UpdateStep::kDownload);
    }
    if (!event.isFinish) continue;
    env.link.EndDownload(*taskId, false);
    if (event.result != kOk) {
      return {event.result, event.errorMsg.empty() ? "the download failed" : event.errorMsg};
    }
    if (event.httpStatusCode != 0 && (event.httpStatusCode < 200 || event.httpStatusCode > 299)) {
      return {kNetError, "the download got HTTP status " + std::to_string(event.httpStatusCode)};
    }
    return {};
  }
}

// Runs the five progress steps of unpack or install, reporting each in state; work runs at its
// step, where a fault the machine puts at this step happens, and may fail it.
template <typename Work>
StepResult ProgressSteps(const JobEnv& env, UpdateStep step, uint32_t state,
                         const UpdateSink& report, Work work) {
  for (const int32_t progress : kStepProgress) {
    if (!env.control.Sleep(env.stepDelay())) {
      return {kCancelOperation, StopMessage(env.control.Stop())};
    }
    if (progress == kWorkProgress) {
      ActOnFault(env, step);
      if (StepResult result = work(); !result.ok()) return result;
    }
    report({state, progress, kOk, ""});
  }
  return {};
}

}  // namespace

UpdateReport RunUpdate(const JobEnv& env, const UpdateSink& report) {
  report({MORVANE_UPDATE_DOWNLOAD, 0, kOk, ""});
  const CatalogueLookup lookup = LookUpDriver(env);
  if (!lookup.result.ok()) return Failed(MORVANE_UPDATE_DOWNLOAD_ERROR, lookup.result);
  const CatalogueEntry& entry = *lookup.entry;

  const std::string stem = PackageStem(entry, env.adapter);
  const std::filesystem::path file = env.downloadDir / (stem + ".mvpkg");
  env.logger.Info(env.key() + ": downloading driver " + entry.version + " to " + file.string());
  if (StepResult result = Download(env, entry, file, report); !result.ok()) {
    return Failed(MORVANE_UPDATE_DOWNLOAD_ERROR, result);
  }
  if (env.control.Stop() != StopReason::kNone) {
    return Failed(MORVANE_UPDATE_DOWNLOAD_ERROR,
                  {kCancelOperation, StopMessage(env.control.Stop())});
  }
  if (StepResult result = VerifyDownload(file, entry); !result.ok()) {
    return Failed(MORVANE_UPDATE_DOWNLOAD_ERROR, result);
  }
  env.logger.Info(env.key() + ": downloaded and verified " + file.string());
  report({MORVANE_UPDATE_DOWNLOAD_SUCCESS, 100, kOk, ""});

  const std::filesystem::path folder = env.downloadDir / stem;
  const StepResult unpacked =
      ProgressSteps(env, UpdateStep::kUnzip, MORVANE_UPDATE_UNZIP, report, [&]() -> StepResult {
        if (env.faults.unzipFail) return {env.faults.unzipFailCode, "simulated unpack failure"};
        return UnpackPackage(file, entry, folder);
      });
  if (!unpacked.ok()) return Failed(MORVANE_UPDATE_UNZIP_ERROR, unpacked);
  env.logger.Info(env.key() + ": unpacked to " + folder.string());
  report({MORVANE_UPDATE_UNZIP_SUCCESS, 100, kOk, ""});

  // From here on a cancel is refused; a cancel that came first ends the job as an unpack step.
  if (!env.control.EnterUncancellable()) {
    return Failed(MORVANE_UPDATE_UNZIP_ERROR, {kCancelOperation, StopMessage(env.control.Stop())});
  }
  const StepResult installed =
      ProgressSteps(env, UpdateStep::kInstall, MORVANE_UPDATE_INSTALL, report, [&]() -> StepResult {
        if (env.faults.installFail)
          return {env.faults.installFailCode, "simulated install failure"};
        return {};
      });
  if (!installed.ok()) return Failed(MORVANE_UPDATE_INSTALL_ERROR, installed);
  std::string error;
  if (!env.store.Record(env.adapter.vendorId, env.adapter.deviceId, {entry.version, entry.date},
                        error)) {
    return Failed(MORVANE_UPDATE_INSTALL_ERROR, {kDiskSpaceNotEnoughInstall, error});
  }
  env.logger.Info(env.key() + ": installed driver " + entry.version);
  report({MORVANE_UPDATE_INSTALL_SUCCESS, 100, kOk, ""});
  return {MORVANE_UPDATE_FINISH, 100, kOk, ""};
}

}  // namespace electron_morvane::sim
