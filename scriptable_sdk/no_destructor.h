// Storage for a process-wide object that is never destroyed, so the library's own threads can
// still use it while the process exits.
#pragma once

#include <new>
#include <utility>

namespace electron_morvane::scriptable_sdk {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace electron_morvane::scriptable_sdk
