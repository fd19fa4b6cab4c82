#include "sdk/callback_gate.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <type_traits>

namespace electron_morvane {
namespace {

// Constant-initialised and never destroyed, so late callbacks during exit still find them.
static_assert(std::is_trivially_destructible_v<std::atomic<bool>>);
static_assert(std::is_trivially_destructible_v<std::atomic<int>>);
std::atomic<bool> gateClosed{false};
std::atomic<int> callbacksInside{0};

}  // namespace

// Both sides use sequentially consistent order: a callback either sees the gate closed, or
// CloseAndDrain sees it counted inside.
CallbackGate::Pass::Pass() {
  callbacksInside.fetch_add(1);
  admitted_ = !gateClosed.load();
  if (!admitted_) callbacksInside.fetch_sub(1);
}

CallbackGate::Pass::~Pass() {
  if (admitted_) callbacksInside.fetch_sub(1);
}

void CallbackGate::CloseAndDrain() {
  gateClosed.store(true);
  while (callbacksInside.load() != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace electron_morvane
