// What the service's operations share: the connection's service, answers,
// the session check and the listing document.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bindings/zrcore/xml_writer.h"
#include "localservice/cache_store.h"
#include "localservice/connection.h"
#include "localservice/local_service.h"
#include "soapH.h"

namespace localservice::operations {

constexpr int kMaxFileBlock = 1024 * 1024;

inline LocalService& service(struct soap* soap) { return *static_cast<Connection*>(soap->user)->service; }

inline int answer(struct soap* soap, char** out, const std::string& text) {
  *out = soap_strdup(soap, text.c_str());
  return SOAP_OK;
}

inline int answerCode(struct soap* soap, char** out, int code) { return answer(soap, out, std::to_string(code)); }

inline std::string textOf(const char* value) { return value ? value : ""; }

// Runs an operation for a valid session: injected answers first, then the
// key check (-3), then the operation itself with the key's agent.
template <typename Operation>
int serveOperation(struct soap* soap, const char* name, const char* key, char** out, Operation operation) {
  LocalService& s = service(soap);
  if (auto injected = s.injectedAnswer(name)) return answerCode(soap, out, *injected);
  std::optional<std::string> agent = s.agentOf(textOf(key));
  if (!agent) return answerCode(soap, out, kNotAuthorized);
  return operation(*agent);
}

// What a file's metadata says of its origin and its stored copy, as the
// attributes origin-size, origin-modified, encoding, cache-size, picture.
void metadataAttributes(ZR::CXmlWriter& xml, const std::string& metadata);

// <contents path=".."><file path size updated [origin-size origin-modified
// encoding cache-size picture version]/>...</contents>; `fakeSize` >= 0
// is claimed for every file.
std::string contentsDocument(const std::string& folder, const std::vector<CacheStore::StoredFile>& files,
                             int64_t fakeSize);

// Answers up to `length` bytes (at most kMaxFileBlock) of a stored file
// from `offset`, or a fault.
int answerRange(struct soap* soap, const CacheStore::Content& content, int64_t offset, int length,
                struct xsd__base64Binary* out);

}  // namespace localservice::operations
