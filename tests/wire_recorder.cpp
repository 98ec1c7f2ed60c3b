#include "tests/wire_recorder.h"

#include <cstdlib>

namespace testsupport {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Reads from the stream into `buffer` until `predicate` holds; false at the end.
template <typename Predicate>
bool readUntil(platform::TcpStream& stream, std::string& buffer, Predicate done) {
  char chunk[65536];
  while (!done()) {
    int64_t n = stream.read(chunk, sizeof chunk, 20000);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

uint32_t bigEndian(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
  return v;
}

size_t padded(size_t n) { return (n + 3) & ~size_t{3}; }

}  // namespace

std::vector<std::string> RecordedRequest::headerValues(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& [key, value] : headers) {
    if (lower(key) == lower(name)) out.push_back(value);
  }
  return out;
}

bool parseDime(const std::string& body, std::vector<DimeRecord>& records) {
  size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < 12) return false;
    DimeRecord r;
    unsigned char flags = static_cast<unsigned char>(body[at]);
    if ((flags >> 3) != 1) return false;  // version 1
    r.messageBegin = flags & 4;
    r.messageEnd = flags & 2;
    r.chunked = flags & 1;
    r.typeFormat = static_cast<unsigned char>(body[at + 1]) >> 4;
    size_t optionsLength = bigEndian(body, at + 2, 2), idLength = bigEndian(body, at + 4, 2);
    size_t typeLength = bigEndian(body, at + 6, 2), dataLength = bigEndian(body, at + 8, 4);
    at += 12;
    size_t need = padded(optionsLength) + padded(idLength) + padded(typeLength) + padded(dataLength);
    if (body.size() - at < need) return false;
    at += padded(optionsLength);
    r.id = body.substr(at, idLength);
    at += padded(idLength);
    r.type = body.substr(at, typeLength);
    at += padded(typeLength);
    r.data = body.substr(at, dataLength);
    at += padded(dataLength);
    records.push_back(r);
  }
  return true;
}

std::string operationOf(const std::string& envelope) {
  size_t start = envelope.find("<ns1:");
  if (start == std::string::npos) return "";
  size_t end = envelope.find_first_of(" >/", start + 5);
  return envelope.substr(start + 5, end - start - 5);
}

std::string soapResponse(const std::string& operation, const std::string& returnPart) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:ns1=\"urn:com.orbek.cachemanager\"><SOAP-ENV:Body><ns1:" +
         operation + "Response>" + returnPart + "</ns1:" + operation + "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

namespace {
// By default every operation answers "-2".
WireRecorder::Responder orDefault(WireRecorder::Responder respond) {
  if (respond) return respond;
  return [](const RecordedRequest& r) {
    std::string op = operationOf(r.envelope());
    return soapResponse(op, "<" + op + "Return>-2</" + op + "Return>");
  };
}
}  // namespace

WireRecorder::WireRecorder(Responder respond)
    : respond_(orDefault(std::move(respond))), server_([this](platform::TcpStream& stream) { serve(stream); }) {}

std::vector<RecordedRequest> WireRecorder::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void WireRecorder::serve(platform::TcpStream& stream) {
  std::string buffer;
  for (;;) {
    RecordedRequest r;
    size_t headEnd = std::string::npos;
    if (!readUntil(stream, buffer, [&] { return (headEnd = buffer.find("\r\n\r\n")) != std::string::npos; })) return;
    std::string head = buffer.substr(0, headEnd);
    size_t lineEnd = head.find("\r\n");
    r.requestLine = head.substr(0, lineEnd);
    for (size_t at = lineEnd; at != std::string::npos && at < head.size();) {
      size_t next = head.find("\r\n", at + 2);
      std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
      size_t colon = line.find(": ");
      if (colon != std::string::npos) r.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
      at = next;
    }
    size_t at = headEnd + 4;
    auto encoding = r.headerValues("Transfer-Encoding");
    if (!encoding.empty() && encoding[0] == "chunked") {
      for (;;) {
        size_t sizeEnd = std::string::npos;
        if (!readUntil(stream, buffer, [&] { return (sizeEnd = buffer.find("\r\n", at)) != std::string::npos; })) return;
        size_t size = std::strtoul(buffer.substr(at, sizeEnd - at).c_str(), nullptr, 16);
        at = sizeEnd + 2;
        if (!readUntil(stream, buffer, [&] { return buffer.size() >= at + size + 2; })) return;
        r.body += buffer.substr(at, size);
        at += size + 2;
        if (size == 0) break;
      }
    } else {
      auto length = r.headerValues("Content-Length");
      size_t size = length.empty() ? 0 : std::strtoul(length[0].c_str(), nullptr, 10);
      if (!readUntil(stream, buffer, [&] { return buffer.size() >= at + size; })) return;
      r.body = buffer.substr(at, size);
      at += size;
    }
    r.raw = buffer.substr(0, at);
    buffer.erase(0, at);
    auto types = r.headerValues("Content-Type");
    r.dime = !types.empty() && types[0] == "application/dime";
    if (r.dime) parseDime(r.body, r.records);
    std::string body = respond_(r);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(r);
    }
    std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + body;
    if (!stream.writeAll(response)) return;
  }
}

}  // namespace testsupport
