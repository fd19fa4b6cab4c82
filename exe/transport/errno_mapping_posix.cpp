#include "transport/errno_mapping_posix.h"

#include <cerrno>

namespace electron_morvane {

// Every code here stays below 256, because a POSIX parent sees only the low 8 bits of an exit
// status.
SystemError SystemErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return kErrorSuccess;
    case ENOENT:        // no socket at the path
    case ECONNREFUSED:  // a socket (or other file) that nobody listens on
    case EPROTOTYPE:    // a socket of another kind
      return kErrorFileNotFound;
    case ENOTDIR:
    case ELOOP:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case EBADF:
    case ENOTSOCK:
      return kErrorInvalidHandle;
    case ENOMEM:
    case ENOBUFS:
      return kErrorNotEnoughMemory;
    case EROFS:
      return kErrorWriteProtect;
    case EINVAL:
      return kErrorInvalidParameter;
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
      return kErrorBrokenPipe;
    case ENOSPC:
      return kErrorDiskFull;
    case ETIMEDOUT:
      return kErrorSemTimeout;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EAGAIN:  // the listener's backlog is full
      return kErrorPipeBusy;
    case ENOTCONN:
      return kErrorPipeNotConnected;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace electron_morvane
