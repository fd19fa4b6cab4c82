// MD5 digests of downloaded packages. The hashing itself is platform code: OpenSSL on POSIX
// (md5_posix.cpp), Windows CNG on Windows (md5_win.cpp).
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace electron_morvane::sim {

class Md5Hasher {
 public:
  Md5Hasher();
  ~Md5Hasher();
  Md5Hasher(const Md5Hasher&) = delete;
  Md5Hasher& operator=(const Md5Hasher&) = delete;

  // False when the platform's hashing failed; the hasher is then unusable.
  bool Update(const void* data, std::size_t size);

  // The digest as 32 lower-case hex digits, or nothing when hashing failed. Call once.
  std::optional<std::string> FinishHex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The MD5 of a whole file as 32 lower-case hex digits, or nothing when it cannot be read.
std::optional<std::string> Md5HexOfFile(const std::filesystem::path& path);

// Lower-case hex of a digest's bytes.
std::string ToHex(const unsigned char* bytes, std::size_t size);

}  // namespace electron_morvane::sim
