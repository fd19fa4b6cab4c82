#include <windows.h>
// bcrypt.h needs the Windows types declared first.
#include <bcrypt.h>

#include <limits>

#include "md5.h"

namespace electron_morvane::sim {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

struct AlgorithmClose {
  void operator()(BCRYPT_ALG_HANDLE algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};

struct HashDestroy {
  void operator()(BCRYPT_HASH_HANDLE hash) const { BCryptDestroyHash(hash); }
};

}  // namespace

struct Md5Hasher::State {
  std::unique_ptr<void, AlgorithmClose> algorithm;
  std::unique_ptr<void, HashDestroy> hash;
  bool ok = false;
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
    return;
  }
  state_->algorithm.reset(algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return;
  state_->hash.reset(hash);
  state_->ok = true;
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (state_->ok && size > 0) {
    const ULONG chunk = size > std::numeric_limits<ULONG>::max() ? std::numeric_limits<ULONG>::max()
                                                                 : static_cast<ULONG>(size);
    state_->ok = Succeeded(BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(bytes), chunk, 0));
    bytes += chunk;
    size -= chunk;
  }
  return state_->ok;
}

std::optional<std::string> Md5Hasher::FinishHex() {
  unsigned char digest[16];
  if (!state_->ok || !Succeeded(BCryptFinishHash(state_->hash.get(), digest, sizeof(digest), 0))) {
    state_->ok = false;
    return std::nullopt;
  }
  state_->ok = false;
  return ToHex(digest, sizeof(digest));
}

}  // namespace electron_morvane::sim
