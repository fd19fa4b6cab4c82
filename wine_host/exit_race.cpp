// exit_race.exe: the host closes its end of the pipe while library threads log nonstop, and the
// bridge must end every time. Per run it makes a one-instance named pipe, starts the bridge,
// sends init, reads the bridge's lines on even runs and none on odd ones (a host that stopped
// reading), sends one more request on every fourth run, closes its end after 50 to 250 ms, and
// gives the bridge 10 s to exit. A bridge still running then is a hang: it is ended, and the
// whole run fails, as does an exit code other than broken pipe (109).
//   exit_race.exe <bridge.exe> <runs>
// The bridge must sit beside a library that keeps its threads busy (the scriptable library with a
// scenario that logs from several threads): see scripts/test-windows.sh.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "unique_handle.h"

namespace electron_morvane::wine_host {
namespace {

constexpr DWORD kBrokenPipe = 109;
constexpr DWORD kExitLimitMs = 10'000;
constexpr DWORD kConnectLimitMs = 20'000;

// One overlapped transfer on the pipe, waited for: the host's pipe is overlapped so that its
// reading thread and its writes do not hold each other back.
bool Transfer(HANDLE pipe, bool write, char* data, DWORD size, DWORD& moved) {
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Get();
  const BOOL started = write ? WriteFile(pipe, data, size, nullptr, &overlapped)
                             : ReadFile(pipe, data, size, nullptr, &overlapped);
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(pipe, &overlapped, &moved, TRUE) != FALSE;
}

bool Send(HANDLE pipe, std::string text) {
  while (!text.empty()) {
    DWORD moved = 0;
    if (!Transfer(pipe, true, text.data(), static_cast<DWORD>(text.size()), moved)) return false;
    text.erase(0, moved);
  }
  return true;
}

struct Bridge {
  UniqueHandle process;
  UniqueHandle pipe;
};

// The pipe, the bridge started on it, and its connection; false with a line on stderr otherwise.
bool Start(const std::string& bridgeExe, int run, Bridge& bridge) {
  const std::string name = "\\\\.\\pipe\\morvane-exit-race-" +
                           std::to_string(GetCurrentProcessId()) + "-" + std::to_string(run);
  bridge.pipe = UniqueHandle(CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
  if (!bridge.pipe.Valid()) {
    std::fprintf(stderr, "exit_race: CreateNamedPipe failed with %lu\n", GetLastError());
    return false;
  }
  SetEnvironmentVariableA("MORVANE_PIPE", name.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  std::string command = "\"" + bridgeExe + "\"";
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    std::fprintf(stderr, "exit_race: cannot start %s: %lu\n", bridgeExe.c_str(), GetLastError());
    return false;
  }
  bridge.process = UniqueHandle(started.hProcess);
  UniqueHandle thread(started.hThread);
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Get();
  if (ConnectNamedPipe(bridge.pipe.Get(), &overlapped)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) return true;
  if (error == ERROR_IO_PENDING &&
      WaitForSingleObject(overlapped.hEvent, kConnectLimitMs) == WAIT_OBJECT_0) {
    return true;
  }
  std::fprintf(stderr, "exit_race: the bridge did not connect (%lu)\n", error);
  CancelIoEx(bridge.pipe.Get(), &overlapped);
  TerminateProcess(bridge.process.Get(), 1);
  return false;
}

// Reads and drops the bridge's lines, counting them, until the pipe fails. It goes on reading
// while the host closes the pipe, as a host's reading thread does; the close fails its read.
class Reader {
 public:
  explicit Reader(HANDLE pipe) : pipe_(pipe), thread_([this] { Drain(); }) {}
  ~Reader() {
    stop_ = true;
    for (int waited = 0; !done_ && waited < 2000; ++waited) Sleep(1);
    if (done_) thread_.join();
    else thread_.detach();
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Called before the host closes the pipe: no read starts after the close.
  void StopAfterThisRead() { stop_ = true; }
  long long Lines() const { return lines_; }

 private:
  void Drain() {
    static char buffer[1 << 16];
    DWORD moved = 0;
    while (!stop_ && Transfer(pipe_, false, buffer, sizeof(buffer), moved)) {
      lines_ += std::count(buffer, buffer + moved, '\n');
    }
    done_ = true;
  }

  HANDLE pipe_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<long long> lines_{0};
  std::thread thread_;
};

enum class Outcome { kExited109, kOtherCode, kHung };

Outcome RunOnce(const std::string& bridgeExe, int run, std::mt19937& random) {
  Bridge bridge;
  if (!Start(bridgeExe, run, bridge)) std::exit(2);
  const bool reading = run % 2 == 0;
  std::unique_ptr<Reader> reader;
  if (reading) reader = std::make_unique<Reader>(bridge.pipe.Get());
  Send(bridge.pipe.Get(),
       R"({"type":"request","from":"host","to":"client","id":"1","method":"init","params":)"
       R"({"appName":"a","appId":"a","deviceId":"d","clientVersion":"1","oversea":false,)"
       R"("logMode":"all"}})"
       "\n");
  Sleep(std::uniform_int_distribution<DWORD>(50, 250)(random));
  if (run % 4 == 1) {
    // The main thread is then in its reply's write when the host goes.
    Send(bridge.pipe.Get(),
         R"({"type":"request","from":"host","to":"client","id":"2","method":"getSdkVersion"})"
         "\n");
    Sleep(30);
  }
  const std::string how =
      reader ? "reading, " + std::to_string(reader->Lines()) + " lines read" : "not reading";
  if (reader) reader->StopAfterThisRead();
  const ULONGLONG closedAt = GetTickCount64();
  bridge.pipe.Reset();
  const DWORD waited = WaitForSingleObject(bridge.process.Get(), kExitLimitMs);
  const ULONGLONG elapsed = GetTickCount64() - closedAt;
  if (waited != WAIT_OBJECT_0) {
    TerminateProcess(bridge.process.Get(), 1);
    WaitForSingleObject(bridge.process.Get(), kExitLimitMs);
    std::printf("run %d (%s): HANG, still running %lu ms after the host closed\n", run,
                how.c_str(), kExitLimitMs);
    return Outcome::kHung;
  }
  DWORD code = 0;
  GetExitCodeProcess(bridge.process.Get(), &code);
  std::printf("run %d (%s): exit %lu after %llu ms\n", run, how.c_str(), code, elapsed);
  return code == kBrokenPipe ? Outcome::kExited109 : Outcome::kOtherCode;
}

}  // namespace
}  // namespace electron_morvane::wine_host

int main(int argc, char** argv) {
  using namespace electron_morvane::wine_host;
  if (argc != 3) {
    std::fprintf(stderr, "usage: exit_race.exe <bridge.exe> <runs>\n");
    return 2;
  }
  const int runs = std::atoi(argv[2]);
  std::mt19937 random(std::random_device{}());
  int hangs = 0;
  int otherCodes = 0;
  for (int run = 0; run < runs; ++run) {
    switch (RunOnce(argv[1], run, random)) {
      case Outcome::kHung: ++hangs; break;
      case Outcome::kOtherCode: ++otherCodes; break;
      case Outcome::kExited109: break;
    }
    std::fflush(stdout);
  }
  std::printf("exit race: %d runs, %d hangs, %d exit codes other than 109\n", runs, hangs,
              otherCodes);
  return hangs == 0 && otherCodes == 0 ? 0 : 1;
}
