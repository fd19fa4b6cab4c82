#include "bridge/bridge_process.h"

#include <string>
#include <utility>

#include "bridge/allocator_tuning.h"
#include "bridge/method_table.h"
#include "protocol/message_router.h"
#include "protocol/message_lines.h"
#include "protocol/wire_texts.h"
#include "sdk/callback_gate.h"
#include "sdk/sdk_wrapper.h"
#include "transport/main_loop.h"
#include "transport/pipe_client.h"

namespace electron_morvane {
namespace {

// A line too long to hold in memory was dropped; the host hears of it if there is memory to say
// so, and the bridge goes on with the next line either way.
void ReportDroppedLine(const MessageOutlet& outlet) noexcept {
  try {
    outlet.SendLine(FatalLine(kLineDroppedNoMemory));
  } catch (...) {
  }
}

}  // namespace

SystemError RunBridge(const std::string& pipePath, const std::string& pipeSecret) {
  PipeClient& pipe = PipeClient::GetInstance();
  pipe.SetPipeName(pipePath);
  const SystemError connectError = pipe.Connect();
  if (connectError != kErrorSuccess) return connectError;
  // The host lets in only the connection that shows its secret first, so nothing may go before
  // it: no library thread exists yet.
  if (!pipeSecret.empty()) {
    const SystemError helloError = pipe.WriteLineNow(HelloLine(pipeSecret));
    if (helloError != kErrorSuccess) return helloError;
  }

  TuneAllocatorForLargeLines();
  // The process's one binding to the library, made here, after the pipe: the runtime ends it
  // before the pipe at exit.
  SdkWrapper::GetInstance();
  MessageRouter router;
  RegisterMethodTable(router);
  router.SetSender([&pipe](std::string serialized) {
    bool ok = false;
    SystemError error = kErrorSuccess;
    pipe.WriteLine(std::move(serialized), ok, error);
  });
  const SystemError exitCode = RunMainLoop(
      pipe, [&router](const std::string& line) { router.Dispatch(line); },
      [&router] { ReportDroppedLine(router); });
  // The library's threads may still call back while the process tears down: from here on they
  // are turned away before they reach the router, which ends with this function. A callback
  // inside may be blocked writing to a host that stopped reading; shutting the pipe down ends
  // that write, so the drain cannot wait forever.
  pipe.Shutdown();
  CallbackGate::Process().CloseAndDrain([&pipe] { pipe.Shutdown(); });
  return exitCode;
}

}  // namespace electron_morvane
