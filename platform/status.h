// The outcome of a library operation below the exception surface: a code
// and, on failure, a message that names what failed and why. The layers
// below the client object (the file system layer, the common library's
// files and XML, the file index, the picture codecs, compression) report
// failures this way; exceptions appear only where the client's operations
// throw them.
#pragma once

#include <string>
#include <utility>

namespace platform {

class Status {
 public:
  enum Code {
    kOk = 0,
    kNotFound,     // no such file or entry
    kIoError,      // the system refused or failed a read or write
    kSyntaxError,  // a document that is not well-formed
    kRefused,      // input we do not accept (too large, nested too deep, entities, ...)
    kInvalid,      // a value that makes no sense here
    kExists,       // something is already at the name (an exclusive creation)
  };

  Status() = default;
  static Status ok() { return Status(); }
  static Status notFound(std::string message) { return Status(kNotFound, std::move(message)); }
  static Status ioError(std::string message) { return Status(kIoError, std::move(message)); }
  static Status syntaxError(std::string message) { return Status(kSyntaxError, std::move(message)); }
  static Status refused(std::string message) { return Status(kRefused, std::move(message)); }
  static Status invalid(std::string message) { return Status(kInvalid, std::move(message)); }
  static Status exists(std::string message) { return Status(kExists, std::move(message)); }

  bool isOk() const { return code_ == kOk; }
  explicit operator bool() const { return isOk(); }
  Code code() const { return code_; }
  // Empty on success.
  const std::string& message() const { return message_; }

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = kOk;
  std::string message_;
};

}  // namespace platform
