#include "service/soap_session.h"

#include <atomic>
#include <cctype>
#include <algorithm>
#include <cstring>
#include <vector>
#include <mutex>
#include <utility>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "service/velkan_exceptions.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "platform/path.h"
#include "service/error_messages.h"
#include "service/prompt_send.h"
#include "soapH.h"

namespace velkan {

struct SessionHooks {
  int (*previousHeaderWriter)(struct soap*, const char*, const char*) = nullptr;
  // The proxy's settings, kept here rather than in the toolkit's memory,
  // which is freed after every call.
  std::string proxyHost, proxyUser, proxyPassword;
  ByteAccounting* accounting = nullptr;
  // The toolkit's own transport, below the gathering of requests.
  int (*send)(struct soap*, const char*, size_t) = nullptr;
  size_t (*recv)(struct soap*, char*, size_t) = nullptr;
  SOAP_SOCKET (*open)(struct soap*, const char*, const char*, int) = nullptr;
  std::string pending;
  // The reply of each call has a deadline: the receive time-out for the
  // whole reply, and more time only as its bytes come at a fair rate, so
  // that a service dripping a byte now and then cannot hold a run.
  uint64_t replyBudgetMs = 300000;
  uint64_t replyStartedMs = 0;  // 0: the call's reply has not begun
  uint64_t replyBytes = 0;
  bool replyTooSlow = false;

  void beginCall() {
    replyStartedMs = 0;
    replyBytes = 0;
    replyTooSlow = false;
  }
};

// The slowest a large reply may come once its time-out is spent.
constexpr uint64_t kMinReplyBytesPerSecond = 64 * 1024;

// The open content file of a file attachment, read ahead in large blocks:
// the toolkit asks for 1024 bytes at a time.
struct AttachmentFile {
  std::unique_ptr<ZR::CFile> file;      // the content is a file,
  const std::string* memory = nullptr;  // or bytes in memory
  bool readFailed = false;
  bool abandoned = false;  // given up on purpose (the run was interrupted)
  std::vector<char> buffer;
  size_t start = 0, end = 0;

  // Up to `length` bytes into `out`; 0 at the end, -1 on failure.
  int64_t read(char* out, size_t length) {
    if (memory) {
      size_t n = std::min(length, memory->size() - start);
      std::memcpy(out, memory->data() + start, n);
      start += n;
      return static_cast<int64_t>(n);
    }
    if (buffer.empty()) buffer.resize(256 * 1024);
    if (start == end) {
      int64_t got = file->read(buffer.data(), buffer.size());
      if (got <= 0) return got;
      start = 0;
      end = static_cast<size_t>(got);
    }
    size_t n = std::min(length, end - start);
    std::memcpy(out, buffer.data() + start, n);
    start += n;
    return static_cast<int64_t>(n);
  }
};


namespace {

bool sameKey(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Completes every request's header block as the service expects it: the
// toolkit's own plain Content-Type and its Accept-Encoding and Keep-Alive
// lines are left out, the User-Agent is ours, the Host names the port
// whenever it is not 80, and the block ends with the SOAP Content-Type.
int headerHook(struct soap* soap, const char* key, const char* value) {
  auto* hooks = static_cast<const SessionHooks*>(soap->user);
  auto previousHeaderWriter = hooks ? hooks->previousHeaderWriter : nullptr;
  if (!previousHeaderWriter) return SOAP_HTTP_ERROR;
  if (key && value) {
    if (sameKey(key, "Content-Type") && std::strcmp(value, "application/dime") != 0) return SOAP_OK;
    if (sameKey(key, "Accept-Encoding") || sameKey(key, "Keep-Alive")) return SOAP_OK;
    if (sameKey(key, "User-Agent")) return previousHeaderWriter(soap, key, "gSOAP/2.7");
    if (sameKey(key, "Host") && soap->status != SOAP_CONNECT && soap->port != 80 && !std::strchr(value, ':')) {
      std::string host = std::string(value) + ":" + std::to_string(soap->port);
      return previousHeaderWriter(soap, key, host.c_str());
    }
  }
  if (!key && soap->status != SOAP_CONNECT) {
    int rc = previousHeaderWriter(soap, "Content-Type", "text/xml; charset=utf-8");
    if (rc != SOAP_OK) return rc;
  }
  return previousHeaderWriter(soap, key, value);
}

// A request is gathered and sent in one piece when its answer is awaited
// (or once 64 KiB are gathered): the toolkit writes the headers, each chunk
// size, the data and the trailer apart, four system calls and four packets
// for a small request.
constexpr size_t kGatheredBytes = 64 * 1024;

int sendGathered(struct soap* soap, SessionHooks& hooks) {
  if (hooks.pending.empty()) return SOAP_OK;
  int rc = sendPromptly(soap, hooks.send, hooks.pending.data(), hooks.pending.size());
  hooks.pending.clear();
  return rc;
}

int gatheringSend(struct soap* soap, const char* data, size_t length) {
  auto& hooks = *static_cast<SessionHooks*>(soap->user);
  hooks.pending.append(data, length);
  return hooks.pending.size() >= kGatheredBytes ? sendGathered(soap, hooks) : SOAP_OK;
}

size_t flushingRecv(struct soap* soap, char* buffer, size_t length) {
  auto& hooks = *static_cast<SessionHooks*>(soap->user);
  if (int rc = sendGathered(soap, hooks); rc != SOAP_OK) {
    soap->error = rc;
    return 0;
  }
  uint64_t now = platform::tickCountMs();
  if (hooks.replyStartedMs == 0) hooks.replyStartedMs = now;
  uint64_t allowed = hooks.replyBudgetMs + hooks.replyBytes * 1000 / kMinReplyBytesPerSecond;
  uint64_t spent = now - hooks.replyStartedMs;
  if (spent >= allowed) {
    hooks.replyTooSlow = true;
    return 0;  // the end of the reply, as far as this call goes
  }
  // No single read may wait past the deadline either.
  soap->recv_timeout = static_cast<int>(std::max<uint64_t>(1, (allowed - spent + 999) / 1000));
  size_t got = hooks.recv(soap, buffer, length);
  hooks.replyBytes += got;
  return got;
}

// A new connection starts with nothing gathered.
SOAP_SOCKET freshOpen(struct soap* soap, const char* endpoint, const char* host, int port) {
  auto& hooks = *static_cast<SessionHooks*>(soap->user);
  hooks.pending.clear();
  return hooks.open(soap, endpoint, host, port);
}

// Only file attachments are read through these; the ghost document
// (text/xml) is sent from memory.
void* openAttachment(struct soap*, void* handle, const char*, const char* type, const char*) {
  return (type && std::strcmp(type, "application/dime") == 0) ? handle : nullptr;
}

size_t readAttachment(struct soap* soap, void* handle, char* buffer, size_t length) {
  auto* hooks = static_cast<const SessionHooks*>(soap->user);
  auto* attachment = static_cast<AttachmentFile*>(handle);
  if (ByteAccounting* accounting = hooks ? hooks->accounting : nullptr) {
    if (accounting->transferAbandoned()) {
      attachment->abandoned = true;
      return 0;
    }
    try {
      accounting->accountBytes(static_cast<int32_t>(length));
    } catch (const std::exception&) {
      // Accounting never stops a transfer.
    }
  }
  // Fill the whole request unless the file ends: a short piece ends the attachment.
  size_t filled = 0;
  while (filled < length) {
    int64_t got = attachment->read(buffer + filled, length - filled);
    if (got < 0) attachment->readFailed = true;
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  return filled;
}

void closeAttachment(struct soap*, void* handle) {
  auto* attachment = static_cast<AttachmentFile*>(handle);
  if (attachment->file) attachment->file->close();
}

// Returns false when the TLS context could not be set up (no CA folder).
bool configure(struct soap* soap, const ServiceOptions& options, SessionHooks& hooks) {
  soap_set_imode(soap, SOAP_C_UTFSTRING | SOAP_IO_KEEPALIVE);
  soap_set_omode(soap, SOAP_C_UTFSTRING | SOAP_IO_CHUNK | SOAP_IO_KEEPALIVE);
  soap->connect_timeout = options.connectTimeoutSeconds;
  soap->send_timeout = options.sendTimeoutSeconds;
  soap->recv_timeout = options.receiveTimeoutSeconds;
  soap->recv_maxlength = options.maxReplyBytes;
  soap->maxlevel = kMaxXmlDepth;  // our replies nest a few levels
  if (!options.proxyHost.empty()) {
    hooks.proxyHost = options.proxyHost;
    hooks.proxyUser = options.proxyUser;
    hooks.proxyPassword = options.proxyPassword;
    soap->proxy_host = hooks.proxyHost.c_str();
    soap->proxy_port = options.proxyPort;
    // Empty strings, not null: the Proxy-Authorization header is sent anyway.
    soap->proxy_userid = hooks.proxyUser.c_str();
    soap->proxy_passwd = hooks.proxyPassword.c_str();
  }
  static std::once_flag tlsInit;
  std::call_once(tlsInit, [] { soap_ssl_init(); });
  std::string caDirectory = platform::hostPath(options.caDirectory);
  int tls = soap_ssl_client_context(soap, SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION | SOAP_SSL_NO_DEFAULT_CA_PATH,
                                    nullptr, nullptr, nullptr, caDirectory.c_str(), nullptr);
  soap->error = SOAP_OK;
  hooks.previousHeaderWriter = soap->fposthdr;
  hooks.send = soap->fsend;
  hooks.recv = soap->frecv;
  hooks.open = soap->fopen;
  soap->user = &hooks;
  soap->fposthdr = headerHook;
  soap->fsend = gatheringSend;
  soap->frecv = flushingRecv;
  soap->fopen = freshOpen;
  return tls == SOAP_OK;
}

}  // namespace

void ServiceOptions::setProxy(const std::string& host, const std::string& port, const std::string& user,
                              const std::string& password) {
  if (host.empty()) return;
  proxyHost = host;
  std::string digits;
  for (char c : port) {
    if (c < '0' || c > '9') break;
    digits += c;
  }
  proxyPort = ZR::CNumberText::toInt32(digits);
  proxyUser = user;
  proxyPassword = password;
}

CSoapSession::CSoapSession(const std::string& server, const ServiceOptions& options, ZR::CLogger& log,
                           ByteAccounting* accounting)
    : hooks_(std::make_unique<SessionHooks>()), proxy_(std::make_unique<CCacheManagerProxy>()), log_(log) {
  hooks_->accounting = accounting;
  accounting_ = accounting;
  hooks_->replyBudgetMs = static_cast<uint64_t>(std::max(1, options.receiveTimeoutSeconds)) * 1000;
  platform::ignoreBrokenPipeSignal();
  std::string endpoint = buildEndpoint(server);
  proxy_->setEndpoint(endpoint);
  struct soap* soap = proxy_->context();
  bool https = ZR::CStringUtils::equalsIgnoreCaseASCII(endpoint.substr(0, 8), "https://");
  if (soap && !configure(soap, options, *hooks_) && https) {
    // Without the CA folder no server can be authenticated: every call fails as TLS.
    tlsUnavailable_ = true;
    log_.error("%s", ("cannot use the CA folder " + options.caDirectory + " for TLS").c_str());
  }
}

CSoapSession::~CSoapSession() = default;

// What went wrong, in a person's words first, the toolkit's after: "connection
// refused (transport code 20, SOAP_TCP_ERROR)".
std::string CSoapSession::failureForPerson(int status, const std::string& message, const std::string& detail,
                                           bool tooSlow) {
  std::string plain;
  if (tooSlow) {
    plain = detail;
  } else if (platform::interruptionRequested()) {
    plain = "interrupted";
  } else if (status == kTransportEof) {
    plain = "the connection ended before the answer came";
  } else if (!detail.empty()) {
    // The system's reason leads the toolkit's detail ("Connection refused: connect failed in ...").
    plain = detail.substr(0, detail.find(':'));
    if (!plain.empty()) plain[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(plain[0])));
  }
  std::string name = ZR::CStringUtils::rtrim(message.substr(0, message.find(" :")), " ");
  if (plain.empty()) plain = ZR::CStringUtils::rtrim(message.substr(message.find(" :") == std::string::npos ? 0 : message.find(" :") + 3), " ");
  if (plain.empty()) plain = "the call failed";
  return plain + " (transport code " + std::to_string(status) + (name.empty() ? "" : ", " + name) + ")";
}

void CSoapSession::checkSoapStatus(int status) {
  if (status == kTransportOk) return;
  char line[64];
  std::snprintf(line, sizeof line, "Soap call failed, result code is %d.\n", status);
  log_.error("%s", line);
  std::string detail = proxy_->lastFailureDetail();
  if (hooks_->replyTooSlow) {
    detail = "the reply did not come in time (" + std::to_string(hooks_->replyBytes) + " bytes in " +
             std::to_string((platform::tickCountMs() - hooks_->replyStartedMs) / 1000) + " s)";
  }
  if (!detail.empty()) log_.error("transport detail: %s", detail.c_str());
  std::string message = CErrorMessageRegistry::instance().transportMessage(status);
  throw CSoapException(line + message + "\n", failureForPerson(status, message, detail, hooks_->replyTooSlow));
}

void CSoapSession::beginCall() { hooks_->beginCall(); }

void CSoapSession::releaseLastReply() {
  struct soap* soap = proxy_->context();
  if (!soap) return;
  soap_destroy(soap);
  soap_dealloc(soap, nullptr);
}

std::string CSoapSession::result(int status, const char* text) {
  checkSoapStatus(status);
  return text ? text : "";
}

std::string CSoapSession::login(const std::string& authentication) {
  log_.trace("Login... \n");
  const char* out = nullptr;
  int status = invoke("login", [&] { return proxy_->login(authentication.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::createFile(const std::string& key, const std::string& path, const std::string& metadata) {
  log_.trace("%s", ("Create File : " + path + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("createFile", [&] { return proxy_->createFile(key.c_str(), path.c_str(), metadata.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::writeFileAttachment(const std::string& key, const std::string& path,
                                              std::unique_ptr<ZR::CFile> file, const std::string& attachmentId) {
  log_.trace("%s", ("Write File as Attachment: " + path + ".\n").c_str());
  AttachmentFile attachment;
  attachment.file = std::move(file);
  // Streamed unless the file is known to be empty: a size that cannot be
  // read must not turn into an empty attachment.
  return sendAttachment(key, path, &attachment, attachment.file->size() != 0, attachmentId);
}

std::string CSoapSession::writeMemoryAttachment(const std::string& key, const std::string& path,
                                                const std::string& content, const std::string& attachmentId) {
  log_.trace("%s", ("Write File as Attachment: " + path + ".\n").c_str());
  AttachmentFile attachment;
  attachment.memory = &content;
  return sendAttachment(key, path, &attachment, !content.empty(), attachmentId);
}

std::string CSoapSession::sendAttachment(const std::string& key, const std::string& path, AttachmentFile* attachmentOf,
                                         bool streamed, const std::string& attachmentId) {
  AttachmentFile& attachment = *attachmentOf;
  struct soap* soap = proxy_->context();
  const char* out = nullptr;
  int status = kTransportOutOfMemory;
  releaseLastReply();
  if (soap) {
    soap_set_dime(soap);
    if (streamed) {
      soap->fdimereadopen = openAttachment;
      soap->fdimeread = readAttachment;
      soap->fdimereadclose = closeAttachment;
    }
    soap_set_dime_attachment(soap, reinterpret_cast<char*>(&attachment), 0, "application/dime", attachmentId.c_str(), 0,
                             nullptr);
    soap_clr_mime(soap);
    status = invoke("writeFileAttachment", [&] { return proxy_->writeFileAttachment(key.c_str(), path.c_str(), out); }, true);
  }
  if (attachment.file) attachment.file->close();
  if (status == kTransportOk && (attachment.readFailed || attachment.abandoned)) {
    // The service may have taken a short file as whole: never report that as sent.
    log_.error("%s", ("reading " + path + (attachment.abandoned ? " was given up (the run was interrupted)"
                                                               : " failed while it was being sent"))
                         .c_str());
    status = kTransportEof;
  }
  return result(status, out);
}

std::string CSoapSession::finalizeFile(const std::string& key, const std::string& path) {
  log_.trace("%s", ("Finalize File : " + path + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("finalizeFile", [&] { return proxy_->finalizeFile(key.c_str(), path.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::finalizeFileWithMetadata(const std::string& key, const std::string& path,
                                                   const std::string& metadata) {
  log_.trace("%s", ("finalizeFileWithMetaData : " + path + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("finalizeFileWithMetadata", [&] { return proxy_->finalizeFileWithMetadata(key.c_str(), path.c_str(), metadata.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::deleteFile(const std::string& key, const std::string& path) {
  log_.trace("%s", ("Delete File : " + path + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("deleteFile", [&] { return proxy_->deleteFile(key.c_str(), path.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::getStoreContentsForPath(const std::string& key, const std::string& path) {
  return std::string(storeContentsForPath(key, path));
}

std::string_view CSoapSession::storeContentsForPath(const std::string& key, const std::string& path) {
  log_.trace("%s", ("Get Store Contents For Path : " + path + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("getStoreContentsForPath", [&] { return proxy_->getStoreContentsForPath(key.c_str(), path.c_str(), out); });
  checkSoapStatus(status);
  return out ? std::string_view(out) : std::string_view();
}

std::string CSoapSession::getFileAttr(const std::string& key, const std::string& path) {
  log_.trace("%s", ("Get File Attributes : " + path + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("getFileAttr", [&] { return proxy_->getFileAttr(key.c_str(), path.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::getFile(const std::string& key, const std::string& path, int64_t offset, int32_t length) {
  Base64Block block;
  int status = invoke("getFile", [&] { return proxy_->getFile(key.c_str(), path.c_str(), 0, offset, length, block); });
  checkSoapStatus(status);
  if (!block.data || block.size <= 0) return "";
  // Whole, as it came (bounded by the reply size): a caller must see an
  // answer longer than it asked for as the error it is.
  return std::string(reinterpret_cast<const char*>(block.data), static_cast<size_t>(block.size));
}

std::string CSoapSession::listVersions(const std::string& key, const std::string& path) {
  const char* out = nullptr;
  int status = invoke("listVersions", [&] { return proxy_->listVersions(key.c_str(), path.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::listFolderAt(const std::string& key, const std::string& folder, int64_t when) {
  const char* out = nullptr;
  int status = invoke("listFolderAt", [&] { return proxy_->listFolderAt(key.c_str(), folder.c_str(), when, out); });
  return result(status, out);
}

std::string CSoapSession::getVersion(const std::string& key, int64_t id, int64_t offset, int32_t length) {
  Base64Block block;
  int status = invoke("getVersion", [&] { return proxy_->getVersion(key.c_str(), id, offset, length, block); });
  checkSoapStatus(status);
  if (!block.data || block.size <= 0) return "";
  return std::string(reinterpret_cast<const char*>(block.data), static_cast<size_t>(block.size));
}

std::string CSoapSession::getPoliciesForAgent(const std::string& key, int64_t stamp) {
  log_.trace("Get Policies For Agent...\n");
  const char* out = nullptr;
  int status = invoke("getPoliciesForAgent", [&] { return proxy_->getPoliciesForAgent(key.c_str(), stamp, out); });
  return result(status, out);
}

std::string CSoapSession::setAgentSymLinks(const std::string& key, const std::string& links) {
  log_.trace("Set Symbolic links For Agent...\n");
  const char* out = nullptr;
  int status = invoke("setAgentSymLinks", [&] { return proxy_->setAgentSymLinks(key.c_str(), links.c_str(), out); });
  return result(status, out);
}

std::string CSoapSession::writeGhostFileAttachment(const std::string& key, const std::string& path,
                                                   const std::string& document) {
  log_.trace("%s", ("Write  Ghost File as Attachment: " + path + ".\n").c_str());
  struct soap* soap = proxy_->context();
  const char* out = nullptr;
  if (!soap) return result(kTransportOutOfMemory, nullptr);
  releaseLastReply();
  soap_set_dime(soap);
  int added = soap_set_dime_attachment(soap, const_cast<char*>(document.data()), document.size(), "text/xml", nullptr,
                                       0, nullptr);
  int code = added == SOAP_OK ? 0 : toTransportCode(added);
  if (ghostAttachmentFailure_ != 0) code = std::exchange(ghostAttachmentFailure_, 0);
  if (code != 0) {
    soap_clr_dime(soap);
    throwCacheManagerError(
        "Cache Manager call : writeGhostFileAttachment failed with error while writing attachment.\n", code);
  }
  int status = invoke("writeGhostFileAttachment", [&] { return proxy_->writeGhostFileAttachment(key.c_str(), path.c_str(), out); }, true);
  return result(status, out);
}

std::string CSoapSession::deletePolicy(const std::string& key, const std::string& policy) {
  log_.trace("%s", ("Delete Policy : " + policy + ".\n").c_str());
  const char* out = nullptr;
  int status = invoke("deletePolicy", [&] { return proxy_->deletePolicy(key.c_str(), policy.c_str(), out); });
  return result(status, out);
}

}  // namespace velkan
