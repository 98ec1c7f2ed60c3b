// A stand-in service that records every request's raw bytes and answers
// with a canned response, and an independent reader of what it recorded:
// HTTP headers in order, chunked transfer coding, DIME records.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/loopback_server.h"

namespace testsupport {

struct DimeRecord {
  bool messageBegin = false, messageEnd = false, chunked = false;
  int typeFormat = 0;  // 1: media type, 2: absolute URI
  std::string id, type, data;
};

struct RecordedRequest {
  std::string raw;
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;  // decoded from the transfer coding
  std::vector<DimeRecord> records;  // when the body is DIME
  bool dime = false;
  // The SOAP envelope: the body, or the first DIME record's data.
  const std::string& envelope() const { return dime && !records.empty() ? records[0].data : body; }
  std::vector<std::string> headerValues(const std::string& name) const;
};

// Parses a DIME message; false when it is malformed.
bool parseDime(const std::string& body, std::vector<DimeRecord>& records);

// A SOAP response envelope for an operation with one return part.
std::string soapResponse(const std::string& operation, const std::string& returnPart);

class WireRecorder {
 public:
  // `respond` builds the HTTP response body for a request; by default the
  // operation's response with "-2".
  using Responder = std::function<std::string(const RecordedRequest&)>;
  explicit WireRecorder(Responder respond = nullptr);

  int port() const { return server_.port(); }
  std::string server() const { return "127.0.0.1:" + std::to_string(port()); }
  std::vector<RecordedRequest> requests();

 private:
  void serve(platform::TcpStream& stream);

  Responder respond_;
  std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  // Last: stopped before what its connections use goes away.
  LoopbackServer server_;
};

// The operation a SOAP envelope calls ("login" for <ns1:login>).
std::string operationOf(const std::string& envelope);

}  // namespace testsupport
