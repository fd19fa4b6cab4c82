// The door through which every call from the driver library's threads enters the bridge.
//
// The library's threads are never stopped: they may call back while the process exits and the
// objects the callbacks use are being destroyed. The process closes the gate when its main loop
// ends; from then on every callback returns at once, and closing waits for those already inside.
#pragma once

#include <atomic>
#include <functional>

namespace electron_morvane {

class CallbackGate {
 public:
  // Admits one callback unless the gate is closed; the pass is held for the whole callback.
  class Pass {
   public:
    explicit Pass(CallbackGate& gate = Process());
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    bool Admitted() const { return admitted; }

   private:
    CallbackGate& gate;
    bool admitted = false;
  };

  // Called by a callback between counting itself in and looking at the gate; tests stop a
  // callback there. Null (the default) does nothing.
  using Seam = void (*)();

  constexpr CallbackGate() = default;
  CallbackGate(const CallbackGate&) = delete;
  CallbackGate& operator=(const CallbackGate&) = delete;

  // The gate of the library's callbacks. Never destroyed, so late callbacks during exit still
  // find it.
  static CallbackGate& Process();

  // Closes the gate for good and returns once no admitted callback is inside. While it waits it
  // calls unblock now and then: a callback may be blocked on something only the closer can end
  // (a write to a host that stopped reading). Safe to call again.
  void CloseAndDrain(const std::function<void()>& unblock = {});

  void SetSeamForTesting(Seam seam) { seamForTesting.store(seam); }

 private:
  std::atomic<bool> closed{false};
  std::atomic<int> inside{0};
  std::atomic<Seam> seamForTesting{nullptr};
};

}  // namespace electron_morvane
