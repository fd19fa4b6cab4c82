#include <cstdlib>
#include <string>

#include "bridge/bridge_process.h"
#include "bridge/process_end.h"

int main() {
  const char* pipePath = std::getenv("MORVANE_PIPE");
  electron_morvane::EndProcess(electron_morvane::RunBridge(pipePath != nullptr ? pipePath : ""));
}
