#include "sdk/callback_gate.h"

#include <chrono>
#include <thread>
#include <type_traits>

namespace electron_morvane {
namespace {

static_assert(std::is_trivially_destructible_v<CallbackGate>);
// Constant-initialised (constexpr constructor) and never destroyed.
CallbackGate processGate;

}  // namespace

CallbackGate& CallbackGate::Process() { return processGate; }

// A callback that comes after the close never touches the count, so callbacks arriving nonstop
// cannot keep the drain from seeing zero. One that comes before counts itself in first and only
// then looks at the gate (both sequentially consistent): either it sees the gate closed and
// leaves, or the closer sees it counted and waits for it.
CallbackGate::Pass::Pass(CallbackGate& gate) : gate(gate) {
  if (gate.closed.load()) return;
  gate.inside.fetch_add(1);
  if (const Seam seam = gate.seamForTesting.load()) seam();
  if (gate.closed.load()) {
    gate.inside.fetch_sub(1);
    return;
  }
  admitted = true;
}

CallbackGate::Pass::~Pass() {
  if (admitted) gate.inside.fetch_sub(1);
}

void CallbackGate::CloseAndDrain(const std::function<void()>& unblock) {
  closed.store(true);
  while (inside.load() != 0) {
    if (unblock) unblock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace electron_morvane
