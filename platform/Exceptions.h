#pragma once
// The exception family. Every failure of ours carries a text: server replies
// and platform texts are bytes as received; our own texts are UTF-8.

#include <exception>
#include <string>

namespace pelicore {

class Exception : public std::exception {
 public:
  explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// A value outside the range its destination can hold.
class ERangeError : public Exception {
 public:
  using Exception::Exception;
  ERangeError() : Exception("Range check error") {}
};

// Text that is not a whole number: "'%s' は整数ではありません".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A stream or file that could not be opened, created, read or written.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// The text of any exception, for showing it: Message() of ours, what() of the
// standard library's, a fixed text for anything else.
std::string ExceptionText(std::exception_ptr E);

}  // namespace pelicore
