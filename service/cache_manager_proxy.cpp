#include "service/cache_manager_proxy.h"

#include <cstring>

#include "bindings/zrcore/string_utils.h"
#include "service/error_messages.h"
#include "service/soap_namespaces.h"
#include "soapH.h"

namespace velkan {
namespace {

// The generated calls take non-const pointers but never write through them.
char* text(const char* value) { return const_cast<char*>(value); }

// The action of every operation is empty: the header reads SOAPAction: "".
constexpr const char* kAction = "";

}  // namespace

CCacheManagerProxy::CCacheManagerProxy() : soap_(soap_new()) { endpoint_[0] = '\0'; }

CCacheManagerProxy::~CCacheManagerProxy() {
  if (!soap_) return;
  soap_destroy(soap_);
  soap_end(soap_);
  soap_free(soap_);
}

void CCacheManagerProxy::setEndpoint(const std::string& endpoint) {
  std::strncpy(endpoint_, endpoint.c_str(), kEndpointSize - 1);
  endpoint_[kEndpointSize - 1] = '\0';
}

std::string CCacheManagerProxy::lastFailureDetail() const {
  if (!soap_ || !soap_->error) return "";
  const char* string = *soap_faultstring(soap_);
  const char* detail = *soap_faultdetail(soap_);
  std::string out = string ? string : "";
  if (detail && *detail) out += std::string(out.empty() ? "" : ": ") + detail;
  return out;
}

int CCacheManagerProxy::finish(int status, const void* result) {
  if (status != SOAP_OK) return toTransportCode(status);
  return result ? kTransportOk : kTransportNull;
}

#define ZR_PROXY_CALL(call, result)           \
  do {                                        \
    if (!soap_) return kTransportOutOfMemory; \
    char* out = nullptr;                      \
    int status = call;                        \
    result = out;                             \
    return finish(status, out);               \
  } while (0)

int CCacheManagerProxy::login(const char* in0, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__login(soap_, endpoint_, kAction, text(in0), &out), r);
}
int CCacheManagerProxy::deleteFile(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__deleteFile(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::logout(const char* in0, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__logout(soap_, endpoint_, kAction, text(in0), &out), r);
}
int CCacheManagerProxy::createFile(const char* in0, const char* in1, const char* in2, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__createFile(soap_, endpoint_, kAction, text(in0), text(in1), text(in2), &out), r);
}
int CCacheManagerProxy::writeFileAttachment(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__writeFileAttachment(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::writeFileBlock(const char* in0, const char* in1, Base64Block in2, int64_t in3, int32_t in4,
                                       const char*& r) {
  xsd__base64Binary block;
  block.__ptr = in2.data;
  block.__size = in2.size;
  ZR_PROXY_CALL(soap_call_ns1__writeFileBlock(soap_, endpoint_, kAction, text(in0), text(in1), block, in3, in4, &out),
                r);
}
int CCacheManagerProxy::finalizeFile(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__finalizeFile(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::finalizeFileWithMetadata(const char* in0, const char* in1, const char* in2, const char*& r) {
  ZR_PROXY_CALL(
      soap_call_ns1__finalizeFileWithMetadata(soap_, endpoint_, kAction, text(in0), text(in1), text(in2), &out), r);
}
int CCacheManagerProxy::deletePolicy(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__deletePolicy(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::getFileAttr(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__getFileAttr(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::getStoreContentsForPath(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__getStoreContentsForPath(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::getStoreMetricsForUser(const char* in0, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__getStoreMetricsForUser(soap_, endpoint_, kAction, text(in0), &out), r);
}
int CCacheManagerProxy::getPoliciesForAgent(const char* in0, int64_t in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__getPoliciesForAgent(soap_, endpoint_, kAction, text(in0), in1, &out), r);
}
int CCacheManagerProxy::getAgentSymLinks(const char* in0, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__getAgentSymLinks(soap_, endpoint_, kAction, text(in0), &out), r);
}
int CCacheManagerProxy::setAgentSymLinks(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__setAgentSymLinks(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::writeGhostFileAttachment(const char* in0, const char* in1, const char*& r) {
  ZR_PROXY_CALL(soap_call_ns1__writeGhostFileAttachment(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}

// The history namespace's table for one call.
class HistoryTable {
 public:
  explicit HistoryTable(struct soap* soap) : soap_(soap) { soap_set_namespaces(soap_, historyNamespaces()); }
  ~HistoryTable() { soap_set_namespaces(soap_, namespaces); }
  HistoryTable(const HistoryTable&) = delete;
  HistoryTable& operator=(const HistoryTable&) = delete;

 private:
  struct soap* soap_;
};

int CCacheManagerProxy::listVersions(const char* in0, const char* in1, const char*& r) {
  HistoryTable table(soap_);
  ZR_PROXY_CALL(soap_call_zh__listVersions(soap_, endpoint_, kAction, text(in0), text(in1), &out), r);
}
int CCacheManagerProxy::listFolderAt(const char* in0, const char* in1, int64_t in2, const char*& r) {
  HistoryTable table(soap_);
  ZR_PROXY_CALL(soap_call_zh__listFolderAt(soap_, endpoint_, kAction, text(in0), text(in1), in2, &out), r);
}

#undef ZR_PROXY_CALL

int CCacheManagerProxy::getVersion(const char* in0, int64_t in1, int64_t in2, int32_t in3, Base64Block& r) {
  if (!soap_) return kTransportOutOfMemory;
  HistoryTable table(soap_);
  xsd__base64Binary out{};
  int status = soap_call_zh__getVersion(soap_, endpoint_, kAction, text(in0), in1, in2, in3, &out);
  r.data = out.__ptr;
  r.size = out.__size;
  return status == SOAP_OK ? kTransportOk : toTransportCode(status);
}

int CCacheManagerProxy::getFile(const char* in0, const char* in1, int32_t in2, int64_t in3, int32_t in4,
                                Base64Block& r) {
  if (!soap_) return kTransportOutOfMemory;
  xsd__base64Binary out{};
  int status = soap_call_ns1__getFile(soap_, endpoint_, kAction, text(in0), text(in1), in2, in3, in4, &out);
  r.data = out.__ptr;
  r.size = out.__size;
  return status == SOAP_OK ? kTransportOk : toTransportCode(status);
}

std::string buildEndpoint(const std::string& server) {
  bool https = ZR::CStringUtils::equalsIgnoreCaseASCII(server.substr(0, 8), "https://");
  bool http = ZR::CStringUtils::equalsIgnoreCaseASCII(server.substr(0, 7), "http://");
  if (https || http) return server + kServicePath;
  return "http://" + server + kServicePath;
}

}  // namespace velkan
