#include "transport/bridge_process.h"

#include <chrono>
#include <thread>

#include "protocol/message_router.h"
#include "sdk/callback_gate.h"
#include "transport/pipe_client.h"

namespace electron_morvane {
namespace {

constexpr std::chrono::milliseconds kIdleWait{10};

}  // namespace

SystemError RunBridge(const std::string& pipePath) {
  PipeClient& pipe = PipeClient::GetInstance();
  pipe.SetPipeName(pipePath);
  const SystemError connectError = pipe.Connect();
  if (connectError != kErrorSuccess) return connectError;

  MessageRouter& router = MessageRouter::GetInstance();
  router.SetSender([](const std::string& serialized) {
    bool ok = false;
    SystemError error = kErrorSuccess;
    PipeClient::GetInstance().WriteLine(serialized, ok, error);
  });
  const SystemError exitCode = RunMainLoop(pipe, router);
  // The library's threads may still call back while the process tears down: from here on they
  // are turned away before they reach objects that are being destroyed.
  CallbackGate::CloseAndDrain();
  return exitCode;
}

SystemError RunMainLoop(PipeClient& pipe, MessageRouter& router) {
  for (;;) {
    bool ok = false;
    SystemError error = kErrorSuccess;
    const std::uint32_t waiting = pipe.Peek(ok, error);
    if (!ok) return error;
    if (waiting == 0) {
      pipe.WaitReadable(kIdleWait);
      continue;
    }
    const std::string line = pipe.ReadLine(ok, error);
    if (!ok) return error;
    if (line.empty() || line == "\n") {
      std::this_thread::sleep_for(kIdleWait);
      continue;
    }
    router.Dispatch(line);
  }
}

}  // namespace electron_morvane
