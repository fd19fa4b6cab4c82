// Who serves the pipe: only a host of the bridge's own user may. A server of another user (one
// that took the pipe's name or socket path before the host, say) could read the library's traffic
// and answer in the host's name. The two users come from a lookup, the system's one twin per
// platform (server_user_posix.cpp, server_user_win.cpp); the comparison is written once.
#pragma once

#include <optional>
#include <string>

#include "transport/pipe_platform.h"
#include "transport/system_error.h"

namespace electron_morvane {

// A user as the system tells users apart, as raw bytes: a uid on POSIX, a user SID on Windows
// (two valid SIDs are the same user exactly when their bytes are equal, which is what EqualSid
// compares).
using UserIdentity = std::string;

class UserLookup {
 public:
  virtual ~UserLookup() = default;
  // The user of the process at the other end of the open pipe; nullopt when it cannot be told.
  virtual std::optional<UserIdentity> ServerUser(platform::PipeHandle pipe) const = 0;
  // The bridge's own user; nullopt when it cannot be told.
  virtual std::optional<UserIdentity> OwnUser() const = 0;
};

// 0 when the pipe's server runs as the bridge's own user. Anything else is refused with 5
// (access denied): another user, and a server or own user that cannot be told, since a server
// the bridge cannot identify is no more trusted than one of another user.
SystemError CheckServerIsOwnUser(platform::PipeHandle pipe, const UserLookup& users);

namespace platform {

// The system's answer: SO_PEERCRED and the effective uid on POSIX; on Windows the user of the
// token of the process that serves the pipe (GetNamedPipeServerProcessId) and of this process.
const UserLookup& SystemUsers();

}  // namespace platform
}  // namespace electron_morvane
