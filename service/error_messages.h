// Messages of transport statuses and service result codes, and the mapping
// of the SOAP toolkit's own status numbers onto the transport numbers the
// client reports (the toolkit numbers some conditions differently).
#pragma once

#include <string>

namespace velkan {

class CErrorMessageRegistry {
 public:
  // The one registry of the process, built on first use (thread-safe).
  static const CErrorMessageRegistry& instance();
  // The message of a code; empty when the table lacks it.
  std::string transportMessage(int code) const;
  std::string serviceMessage(int code) const;

 private:
  CErrorMessageRegistry() = default;
};

// Transport status numbers as the client reports them.
enum TransportCode {
  kTransportOk = 0,
  kTransportTypeMismatch = 4,
  kTransportFault = 12,
  kTransportOutOfMemory = 15,
  kTransportNull = 16,
  kTransportTcpError = 20,
  kTransportHttpError = 21,
  kTransportSslError = 22,
  kTransportEof = -1,
};

// The transport code of a toolkit status. Conditions the table has no row
// for keep a code outside it (1000 + the toolkit's number), so they are
// reported without a message rather than with a wrong one.
int toTransportCode(int toolkitStatus);

// Throws the service exception of a result code: CCacheManagerSpaceLimitException
// for -9, CCacheManagerException otherwise; its text is `text`, the code's
// service message and a line end.
[[noreturn]] void throwCacheManagerError(const std::string& text, int code);

}  // namespace velkan
