#include "library_threads.h"

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "no_destructor.h"

namespace electron_morvane::scriptable_sdk {
namespace {

struct Registry {
  std::mutex mutex;
  std::vector<std::thread> threads;
};

Registry& TheRegistry() {
  static NoDestructor<Registry> registry;
  return registry.get();
}

}  // namespace

void StartLibraryThread(std::function<void()> work) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.threads.emplace_back(std::move(work));
}

void JoinLibraryThreads() {
  Registry& registry = TheRegistry();
  for (;;) {
    std::vector<std::thread> started;
    {
      const std::lock_guard<std::mutex> lock(registry.mutex);
      started.swap(registry.threads);
    }
    if (started.empty()) return;
    for (auto& thread : started) thread.join();
  }
}

}  // namespace electron_morvane::scriptable_sdk
