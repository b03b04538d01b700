#include "platform/os/os_errors.h"

#include <cerrno>

namespace jw {

OsFileError OsFileErrorFromErrno(int error_number) {
  switch (error_number) {
    case 0:
      return OsFileError::None;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return OsFileError::NotFound;
    case EMFILE:
    case ENFILE:
      return OsFileError::TooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return OsFileError::AccessDenied;
    case EBADF:
      return OsFileError::BadHandle;
    case ENOMEM:
      return OsFileError::NoMemory;
    case ENODEV:
    case ENXIO:
      return OsFileError::NoDevice;
    case EXDEV:
      return OsFileError::CrossDevice;
    case EEXIST:
      return OsFileError::Exists;
    default:
      return OsFileError::Other;
  }
}

}  // namespace jw
