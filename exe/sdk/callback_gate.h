// Keeps the driver library's late callbacks away from a process that is tearing down. Every
// trampoline passes the gate; once the main loop has ended the gate closes, waits for the
// callbacks already inside, and turns all later ones away. Its state is constant-initialised and
// trivially destructible, so it outlives every other object of the process.
#pragma once

#include <atomic>

namespace electron_morvane {

class CallbackGate {
 public:
  // Enters the gate for the lifetime of the pass; false when the gate is closed.
  class Pass {
   public:
    Pass();
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    bool entered_;
  };

  // Closes the gate and returns once no callback is inside.
  static void CloseAndDrain();
  static bool IsClosed();
  // Opens the gate again (for tests that run several bridge lifetimes in one process).
  static void Reopen();
};

}  // namespace electron_morvane
