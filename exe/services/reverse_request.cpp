#include "services/reverse_request.h"

#include <atomic>
#include <cstdint>

namespace electron_morvane {

std::string nextRequestId() {
  static std::atomic<std::uint64_t> counter{0};
  return std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

}  // namespace electron_morvane
