#include <fstream>
#include <vector>

#include "md5.h"

namespace electron_morvane::sim {

std::optional<std::string> Md5HexOfFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  Md5Hasher hasher;
  std::vector<char> buffer(64 * 1024);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = file.gcount();
    if (got > 0 && !hasher.Update(buffer.data(), static_cast<std::size_t>(got)))
      return std::nullopt;
  }
  if (file.bad()) return std::nullopt;
  return hasher.FinishHex();
}

std::string ToHex(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return hex;
}

}  // namespace electron_morvane::sim
