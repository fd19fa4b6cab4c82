// Users on POSIX: the uid of the process that listens on the socket, as the socket tells it
// (SO_PEERCRED), and the bridge's effective uid.
#include <sys/socket.h>
#include <unistd.h>

#include "transport/server_user.h"

namespace electron_morvane::platform {
namespace {

UserIdentity IdentityOf(uid_t user) { return std::to_string(user); }

class PosixUsers final : public UserLookup {
 public:
  std::optional<UserIdentity> ServerUser(PipeHandle pipe) const override {
    ucred server{};
    socklen_t size = sizeof(server);
    if (::getsockopt(static_cast<int>(pipe), SOL_SOCKET, SO_PEERCRED, &server, &size) < 0) {
      return std::nullopt;
    }
    return IdentityOf(server.uid);
  }

  std::optional<UserIdentity> OwnUser() const override { return IdentityOf(::geteuid()); }
};

}  // namespace

const UserLookup& SystemUsers() {
  static const PosixUsers users;
  return users;
}

}  // namespace electron_morvane::platform
