#include "sdk/callback_gate.h"

#include <chrono>
#include <thread>

namespace electron_morvane {
namespace {

// Bit 31 marks the gate closed; the low bits count the callbacks inside.
constexpr unsigned kClosedBit = 1u << 31;
std::atomic<unsigned> gateState{0};

}  // namespace

CallbackGate::Pass::Pass() {
  unsigned state = gateState.load(std::memory_order_acquire);
  do {
    if (state & kClosedBit) {
      entered_ = false;
      return;
    }
  } while (!gateState.compare_exchange_weak(state, state + 1, std::memory_order_acq_rel));
  entered_ = true;
}

CallbackGate::Pass::~Pass() {
  if (entered_) gateState.fetch_sub(1, std::memory_order_acq_rel);
}

void CallbackGate::CloseAndDrain() {
  gateState.fetch_or(kClosedBit, std::memory_order_acq_rel);
  while ((gateState.load(std::memory_order_acquire) & ~kClosedBit) != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool CallbackGate::IsClosed() {
  return (gateState.load(std::memory_order_acquire) & kClosedBit) != 0;
}

void CallbackGate::Reopen() { gateState.fetch_and(~kClosedBit, std::memory_order_acq_rel); }

}  // namespace electron_morvane
