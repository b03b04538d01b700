// The failures of file operations, sorted out of errno into the few kinds
// that callers tell apart (missing, in use, too many open files ...).
#pragma once

namespace jw {

enum class OsFileError {
  None,
  NotFound,      // ENOENT, ENOTDIR, ENAMETOOLONG
  TooManyFiles,  // EMFILE, ENFILE
  AccessDenied,  // EACCES, EPERM, EROFS, ETXTBSY, EBUSY, and a file another opener holds
  BadHandle,     // EBADF
  NoMemory,      // ENOMEM
  NoDevice,      // ENODEV, ENXIO
  CrossDevice,   // EXDEV
  Exists,        // EEXIST: a create that had to make a new file found one
  Other,
};

OsFileError OsFileErrorFromErrno(int error_number);

}  // namespace jw
