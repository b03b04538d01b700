// The root of every error the system raises, and the general classes that
// the runtime itself raises. Each subsystem derives its own classes from
// Exception; every exception carries the message text a user may see.
#pragma once

#include <exception>
#include <string>

namespace jw {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A text that does not convert to the asked type, or an assignment between
// incompatible persistent objects.
class EConvertError : public Exception {
  using Exception::Exception;
};

// An index outside a list.
class EListError : public Exception {
  using Exception::Exception;
};

class EStreamError : public Exception {
  using Exception::Exception;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};

// An operation the object's current state does not allow.
class EInvalidOperation : public Exception {
  using Exception::Exception;
};

// The silent exception: it unwinds like any other but is never shown.
class EAbort : public Exception {
  using Exception::Exception;
};

// Raised by the dataset framework.
class EDatabaseError : public Exception {
  using Exception::Exception;
};

// Raises EAbort with the host's text "Operation aborted".
[[noreturn]] void Abort();

}  // namespace jw
