#include <cstdlib>
#include <string>

#include "bridge/bridge_process.h"

int main() {
  const char* pipePath = std::getenv("MORVANE_PIPE");
  return static_cast<int>(electron_morvane::RunBridge(pipePath != nullptr ? pipePath : ""));
}
