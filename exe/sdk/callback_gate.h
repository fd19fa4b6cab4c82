// The door through which every call from the driver library's threads enters the bridge.
//
// The library's threads are never stopped: they may call back while the process exits and the
// objects the callbacks use are being destroyed. The entry closes the gate when its main loop
// ends; from then on every callback returns at once, and closing waits for those already inside.
#pragma once

namespace electron_morvane {

class CallbackGate {
 public:
  // Admits one callback unless the gate is closed; the pass is held for the whole callback.
  class Pass {
   public:
    Pass();
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    bool Admitted() const { return admitted_; }

   private:
    bool admitted_;
  };

  // Closes the gate for good and returns once no callback is inside. Safe to call again.
  static void CloseAndDrain();
};

}  // namespace electron_morvane
