#include <openssl/evp.h>

#include "md5.h"

namespace electron_morvane::sim {

struct Md5Hasher::State {
  struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};
  bool ok = false;
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) {
  state_->ok = state_->context != nullptr &&
               EVP_DigestInit_ex(state_->context.get(), EVP_md5(), nullptr) == 1;
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Update(const void* data, std::size_t size) {
  state_->ok = state_->ok && EVP_DigestUpdate(state_->context.get(), data, size) == 1;
  return state_->ok;
}

std::optional<std::string> Md5Hasher::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!state_->ok || EVP_DigestFinal_ex(state_->context.get(), digest, &length) != 1) {
    state_->ok = false;
    return std::nullopt;
  }
  state_->ok = false;
  return ToHex(digest, length);
}

}  // namespace electron_morvane::sim
