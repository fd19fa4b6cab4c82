#include "transport/reply_first_lock.h"

#include <chrono>

namespace electron_morvane {

void ReplyFirstLock::Lock(bool urgent) {
  if (!urgent) {
    for (;;) {
      if (urgentThere.load() > 0) {
        gate.lock();
        gate.unlock();
      }
      lock.lock();
      if (urgentThere.load() == 0) return;
      // An urgent writer came while this one waited in the queue: it goes first.
      lock.unlock();
    }
  }
  urgentThere.fetch_add(1);
  gate.lock();
  const auto until = std::chrono::steady_clock::now() + urgentSpin;
  do {
    for (int tries = 0; tries < 64; ++tries) {
      if (lock.try_lock()) return;
    }
  } while (std::chrono::steady_clock::now() < until);
  lock.lock();
}

void ReplyFirstLock::Unlock(bool urgent) {
  lock.unlock();
  if (!urgent) return;
  urgentThere.fetch_sub(1);
  gate.unlock();
}

}  // namespace electron_morvane
