// The exceptions of the cache client. Every one derives from the common
// library's exception (and so from the standard exception class) and
// carries its text, returned by what(); the service exceptions also carry
// a result code.
#pragma once

#include <cstdint>
#include <string>

#include "bindings/zrcore/exception.h"

namespace velkan {

// Shared base: a text and nothing else.
class CTextException : public ZR::CException {
 public:
  explicit CTextException(std::string text) : ZR::CException(std::move(text)) {}
};

// The service answered with an error code (or a transport code).
class CCacheManagerException : public CTextException {
 public:
  CCacheManagerException(std::string text, int32_t code) : CTextException(std::move(text)), code_(code) {}
  virtual int32_t errorCode() const { return code_; }

 private:
  int32_t code_;
};

// The service's store is full; errorCode() is always -9.
class CCacheManagerSpaceLimitException : public CCacheManagerException {
 public:
  explicit CCacheManagerSpaceLimitException(std::string text)
      : CCacheManagerException(std::move(text), kSpaceLimitCode) {}
  int32_t errorCode() const override { return spaceCode_; }
  static constexpr int32_t kSpaceLimitCode = -9;

 private:
  int32_t spaceCode_ = kSpaceLimitCode;
};

class CSoapException : public CTextException {
 public:
  using CTextException::CTextException;
  // The same text, with where the call went and what the transport said,
  // for a person (what() stays the text above).
  CSoapException(std::string text, std::string detail)
      : CTextException(std::move(text)), detail_(std::move(detail)) {}
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

class CFileNotFoundException : public CTextException {
  using CTextException::CTextException;
};

// The agent authentication file that a login sends is not there: no call
// of the run can succeed.
class CAuthenticationFileMissing : public CFileNotFoundException {
  using CFileNotFoundException::CFileNotFoundException;
};

class CVelkanException : public CTextException {
  using CTextException::CTextException;
};

class CUploadLimitException : public CTextException {
  using CTextException::CTextException;
};

}  // namespace velkan
