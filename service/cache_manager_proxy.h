// The cache manager service's operations, one virtual operation each, in
// the service's order. Every operation sends its request parts and hands
// back the response part; it returns 0 when the exchange succeeded and a
// transport code otherwise (see error_messages.h). The returned text
// belongs to the session and stays valid until the next call on this
// proxy. REQUIRES: external synchronization (one call at a time).
#pragma once

#include <cstdint>
#include <string>

struct soap;

namespace velkan {

constexpr const char* kServicePath = "/cacheManager/services/CacheManager";
constexpr size_t kEndpointSize = 8192;

// A byte block as the service's base64Binary parts carry it.
struct Base64Block {
  unsigned char* data = nullptr;
  int size = 0;
};

class CCacheManagerProxy {
 public:
  CCacheManagerProxy();
  virtual ~CCacheManagerProxy();
  CCacheManagerProxy(const CCacheManagerProxy&) = delete;
  CCacheManagerProxy& operator=(const CCacheManagerProxy&) = delete;

  virtual int login(const char* in0, const char*& loginReturn);
  virtual int deleteFile(const char* in0, const char* in1, const char*& deleteFileReturn);
  virtual int logout(const char* in0, const char*& logoutReturn);
  virtual int createFile(const char* in0, const char* in1, const char* in2, const char*& createFileReturn);
  virtual int writeFileAttachment(const char* in0, const char* in1, const char*& writeFileAttachmentReturn);
  virtual int writeFileBlock(const char* in0, const char* in1, Base64Block in2, int64_t in3, int32_t in4,
                             const char*& writeFileBlockReturn);
  virtual int finalizeFile(const char* in0, const char* in1, const char*& finalizeFileReturn);
  virtual int finalizeFileWithMetadata(const char* in0, const char* in1, const char* in2,
                                       const char*& finalizeFileWithMetadataReturn);
  virtual int deletePolicy(const char* in0, const char* in1, const char*& deletePolicyReturn);
  virtual int getFileAttr(const char* in0, const char* in1, const char*& getFileAttrReturn);
  virtual int getStoreContentsForPath(const char* in0, const char* in1, const char*& getStoreContentsForPathReturn);
  virtual int getStoreMetricsForUser(const char* in0, const char*& getStoreMetricsForUserReturn);
  virtual int getPoliciesForAgent(const char* in0, int64_t in1, const char*& getPoliciesForAgentReturn);
  virtual int getAgentSymLinks(const char* in0, const char*& getAgentSymLinksReturn);
  virtual int setAgentSymLinks(const char* in0, const char* in1, const char*& setAgentSymLinksReturn);
  virtual int writeGhostFileAttachment(const char* in0, const char* in1, const char*& writeGhostFileAttachmentReturn);
  virtual int getFile(const char* in0, const char* in1, int32_t in2, int64_t in3, int32_t in4, Base64Block& getFileReturn);

  // cachemanager-local's history operations, sent with the namespace table
  // that holds their namespace (every other message keeps the default).
  int listVersions(const char* in0, const char* in1, const char*& listVersionsReturn);
  int listFolderAt(const char* in0, const char* in1, int64_t in2, const char*& listFolderAtReturn);
  int getVersion(const char* in0, int64_t in1, int64_t in2, int32_t in3, Base64Block& getVersionReturn);

  // The session context; null when it could not be created (every call
  // then returns 15 without sending anything).
  struct soap* context() const { return soap_; }
  const char* endpoint() const { return endpoint_; }
  // Copies at most kEndpointSize - 1 characters.
  void setEndpoint(const std::string& endpoint);
  // The toolkit's own description of the last failure, for the log.
  std::string lastFailureDetail() const;

 private:
  // Turns the toolkit's status of a finished call into a transport code;
  // a call that succeeded without a response part counts as failed.
  int finish(int status, const void* result);

  struct soap* soap_;
  char endpoint_[kEndpointSize];
};

// The endpoint of a server setting: "https://" or "http://" settings
// (either case) get the service path appended, anything else (host or
// host:port) becomes http://<server><path>.
std::string buildEndpoint(const std::string& server);

}  // namespace velkan
