#include "bridge_child.h"

namespace electron_morvane::wine_host {

std::optional<BridgeChild> BridgeChild::Start(const std::string& program, DWORD& error) {
  UniqueHandle job(CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job.Valid() || !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation,
                                               &limits, sizeof(limits))) {
    error = GetLastError();
    return std::nullopt;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  std::string commandLine = "\"" + program + "\"";
  // Suspended until it is in the job; no handle of this process is inherited, so closing the
  // pipe here is what the bridge sees.
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &started)) {
    error = GetLastError();
    return std::nullopt;
  }
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  if (!AssignProcessToJobObject(job.Get(), process.Get()) ||
      ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
    error = GetLastError();
    TerminateProcess(process.Get(), error);
    return std::nullopt;
  }
  return BridgeChild(std::move(job), std::move(process));
}

DWORD BridgeChild::WaitForExitCode() const {
  WaitForSingleObject(process_.Get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_.Get(), &code);
  return code;
}

}  // namespace electron_morvane::wine_host
