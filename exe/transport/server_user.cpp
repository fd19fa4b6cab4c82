#include "transport/server_user.h"

namespace electron_morvane {

SystemError CheckServerIsOwnUser(platform::PipeHandle pipe, const UserLookup& users) {
  const std::optional<UserIdentity> server = users.ServerUser(pipe);
  const std::optional<UserIdentity> own = users.OwnUser();
  // An empty identity names nobody: two of them must not pass as the same user.
  const bool sameUser = server && own && !own->empty() && *server == *own;
  return sameUser ? kErrorSuccess : kErrorAccessDenied;
}

}  // namespace electron_morvane
