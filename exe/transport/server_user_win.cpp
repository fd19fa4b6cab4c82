// Users on Windows: the user SID in the token of the process that serves the named pipe
// (GetNamedPipeServerProcessId), and the one in this process's own token.
#include <windows.h>

#include <vector>

#include "transport/server_user.h"

namespace electron_morvane::platform {
namespace {

// A handle that this file opened, closed when it goes.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (Valid()) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

std::optional<UserIdentity> UserOfProcess(HANDLE process) {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &opened)) return std::nullopt;
  const OwnedHandle token(opened);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return std::nullopt;
  // Whole pointers, so the TOKEN_USER at its start is aligned.
  std::vector<void*> buffer((size + sizeof(void*) - 1) / sizeof(void*));
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
    return std::nullopt;
  }
  const PSID sid = static_cast<const TOKEN_USER*>(static_cast<void*>(buffer.data()))->User.Sid;
  if (!IsValidSid(sid)) return std::nullopt;
  return UserIdentity(static_cast<const char*>(sid), GetLengthSid(sid));
}

class WindowsUsers final : public UserLookup {
 public:
  std::optional<UserIdentity> ServerUser(PipeHandle pipe) const override {
    ULONG serverId = 0;
    if (!GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(pipe), &serverId)) {
      return std::nullopt;
    }
    const OwnedHandle server(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId));
    if (!server.Valid()) return std::nullopt;
    return UserOfProcess(server.Get());
  }

  // The current process's pseudo handle needs no closing.
  std::optional<UserIdentity> OwnUser() const override {
    return UserOfProcess(GetCurrentProcess());
  }
};

}  // namespace

const UserLookup& SystemUsers() {
  static const WindowsUsers users;
  return users;
}

}  // namespace electron_morvane::platform
