// The one session over which the client talks to the cache manager service:
// the proxy with its context settings (UTF-8 strings, chunked requests,
// keep-alive, TLS with server authentication, HTTP proxy, time-outs), the
// header hook, and call wrappers that trace each call and turn any
// transport failure into CSoapException. File contents are streamed as
// DIME attachments in 1024-byte pieces, each counted before it is read.
// REQUIRES: external synchronization (calls never overlap).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "service/cache_manager_proxy.h"

namespace ZR {
class CFile;
class CLogger;
}  // namespace ZR

namespace velkan {

struct AttachmentFile;
struct SessionHooks;

// The deepest nesting a reply may have; ours nest a few levels.
constexpr unsigned kMaxXmlDepth = 32;

// Options the client keeps from its start and hands to the session.
struct ServiceOptions {
  int connectTimeoutSeconds = 100;
  // Send and receive time-outs: a stalled server must not hang a run.
  int sendTimeoutSeconds = 300;
  int receiveTimeoutSeconds = 300;
  std::string proxyHost;  // empty: no proxy
  int proxyPort = 0;
  std::string proxyUser;
  std::string proxyPassword;
  std::string caDirectory = "certs";
  // The largest reply message a service may send; a longer one fails the
  // call instead of filling memory (a listing of a million files is below).
  uint64_t maxReplyBytes = uint64_t{256} << 20;

  // Takes the proxy settings only when the host is not empty; the port is
  // the leading decimal digits of its text.
  void setProxy(const std::string& host, const std::string& port, const std::string& user,
                const std::string& password);
};

// Receives the size of every attachment read before it is made; the
// client's byte accounting and pacing. Called on the calling thread.
class ByteAccounting {
 public:
  virtual ~ByteAccounting() = default;
  virtual void accountBytes(int32_t count) = 0;
  // True when the transfer under way is to be given up (the run was
  // interrupted): the attachment ends short and the call fails.
  virtual bool transferAbandoned() { return false; }
  // A call of the service (its operation's name) is made and has been
  // answered (or failed): what a run is waiting for can be told.
  virtual void callBegins(const char* /*operation*/) {}
  virtual void callEnds() {}
};

class CSoapSession {
 public:
  // `accounting` (may be null) hears of every attachment read of this session.
  CSoapSession(const std::string& server, const ServiceOptions& options, ZR::CLogger& log,
               ByteAccounting* accounting = nullptr);
  ~CSoapSession();
  CSoapSession(const CSoapSession&) = delete;
  CSoapSession& operator=(const CSoapSession&) = delete;

  CCacheManagerProxy& proxy() { return *proxy_; }

  // Each returns the response text; a transport failure throws CSoapException.
  std::string login(const std::string& authentication);
  std::string createFile(const std::string& key, const std::string& path, const std::string& metadata);
  // Streams the file (opened for reading; closed when sent) as the attachment.
  std::string writeFileAttachment(const std::string& key, const std::string& path, std::unique_ptr<ZR::CFile> file,
                                  const std::string& attachmentId);
  // The same for content held in memory (read in the same 1024-byte
  // pieces, each counted first).
  std::string writeMemoryAttachment(const std::string& key, const std::string& path, const std::string& content,
                                    const std::string& attachmentId);
  std::string finalizeFile(const std::string& key, const std::string& path);
  std::string finalizeFileWithMetadata(const std::string& key, const std::string& path, const std::string& metadata);
  std::string deleteFile(const std::string& key, const std::string& path);
  std::string getStoreContentsForPath(const std::string& key, const std::string& path);
  // The same without a copy: the text stays the session's, valid until the
  // next call (a listing can be large).
  std::string_view storeContentsForPath(const std::string& key, const std::string& path);
  std::string getPoliciesForAgent(const std::string& key, int64_t stamp);
  std::string setAgentSymLinks(const std::string& key, const std::string& links);
  // Sends the document from memory as a text/xml attachment.
  std::string writeGhostFileAttachment(const std::string& key, const std::string& path, const std::string& document);
  std::string deletePolicy(const std::string& key, const std::string& policy);
  // What the service keeps of one stored file (its attributes and metadata text).
  std::string getFileAttr(const std::string& key, const std::string& path);
  // The bytes of a stored file from `offset` that the service sent for
  // `length` asked (checking that they are no more is the caller's).
  std::string getFile(const std::string& key, const std::string& path, int64_t offset, int32_t length);
  // cachemanager-local's history: a file's versions, a folder at a time,
  // the bytes of a kept version (as getFile).
  std::string listVersions(const std::string& key, const std::string& path);
  std::string listFolderAt(const std::string& key, const std::string& folder, int64_t when);
  std::string getVersion(const std::string& key, int64_t id, int64_t offset, int32_t length);

  // Makes the next ghost attachment fail to be added with this transport
  // code, as when the toolkit runs out of memory (tests).
  void failNextGhostAttachment(int code) { ghostAttachmentFailure_ = code; }

  // Returns for status 0; otherwise logs "Soap call failed, result code is
  // <status>." and throws CSoapException with that line, the status's
  // message and a line end.
  void checkSoapStatus(int status);

 private:
  static std::string failureForPerson(int status, const std::string& message, const std::string& detail, bool tooSlow);
  std::string result(int status, const char* text);
  std::string sendAttachment(const std::string& key, const std::string& path, AttachmentFile* attachment,
                             bool streamed, const std::string& attachmentId);
  // Makes a proxy call unless the session cannot authenticate servers.
  // What the last reply left is freed first, unless the call's attachment
  // (which lives in the same memory) has been set already.
  template <typename Call>
  int invoke(const char* operation, Call call, bool attachmentSet = false) {
    if (!attachmentSet) releaseLastReply();
    beginCall();
    if (tlsUnavailable_) return kTlsFailure;
    ByteAccounting* accounting = accounting_;
    if (accounting) accounting->callBegins(operation);
    int status = call();
    if (accounting) accounting->callEnds();
    return status;
  }
  void beginCall();
  // Frees what the toolkit kept of the last call: otherwise every answer
  // of a long session (a restore's file ranges) stays in memory to its end.
  void releaseLastReply();
  static constexpr int kTlsFailure = 22;

  // What the transport's callbacks reach through the context's user
  // pointer; it outlives the proxy.
  std::unique_ptr<SessionHooks> hooks_;
  std::unique_ptr<CCacheManagerProxy> proxy_;
  ZR::CLogger& log_;
  bool tlsUnavailable_ = false;
  int ghostAttachmentFailure_ = 0;
  ByteAccounting* accounting_ = nullptr;
};

}  // namespace velkan
