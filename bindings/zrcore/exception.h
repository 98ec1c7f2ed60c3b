// The common library's exception: a message and nothing else.
#pragma once

#include <exception>
#include <string>

namespace ZR {

class CException : public std::exception {
 public:
  explicit CException(std::string message) : message_(std::move(message)) {}
  ~CException() override = default;
  virtual std::string getMessage() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace ZR
