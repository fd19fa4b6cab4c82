#include "bridge/bridge_process.h"

#include "bridge/method_table.h"
#include "protocol/message_router.h"
#include "sdk/callback_gate.h"
#include "transport/main_loop.h"
#include "transport/pipe_client.h"

namespace electron_morvane {

SystemError RunBridge(const std::string& pipePath) {
  PipeClient& pipe = PipeClient::GetInstance();
  pipe.SetPipeName(pipePath);
  const SystemError connectError = pipe.Connect();
  if (connectError != kErrorSuccess) return connectError;

  MessageRouter router;
  RegisterMethodTable(router);
  router.SetSender([&pipe](const std::string& serialized) {
    bool ok = false;
    SystemError error = kErrorSuccess;
    pipe.WriteLine(serialized, ok, error);
  });
  const SystemError exitCode =
      RunMainLoop(pipe, [&router](const std::string& line) { router.Dispatch(line); });
  // The library's threads may still call back while the process tears down: from here on they
  // are turned away before they reach the router, which ends with this function.
  CallbackGate::CloseAndDrain();
  return exitCode;
}

}  // namespace electron_morvane
