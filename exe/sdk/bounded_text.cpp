#include "sdk/bounded_text.h"

#include <cstring>

namespace electron_morvane {

std::string TextFromArray(const char* array, std::size_t width) {
  const void* nul = std::memchr(array, '\0', width);
  const std::size_t length =
      nul == nullptr ? width : static_cast<std::size_t>(static_cast<const char*>(nul) - array);
  return std::string(array, length);
}

std::string TextOrEmpty(const char* text) { return text == nullptr ? std::string() : text; }

}  // namespace electron_morvane
