#include "localservice/local_service.h"

#include <algorithm>
#include <cstdio>

#include <chrono>
#include <thread>

#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "localservice/connection.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/socket_port.h"
#include "service/prompt_send.h"
#include "service/soap_namespaces.h"
#include "soapH.h"

#include <openssl/ssl.h>

namespace localservice {
namespace {

std::string trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

}  // namespace

namespace {

constexpr size_t kWriteBlock = 1 << 20;
// The largest request read into memory (an attachment goes to a file).
constexpr ULONG64 kMaxMessageBytes = 256ull << 20;
// The slowest a large request may come once its time-out is spent.
constexpr uint64_t kMinRequestBytesPerSecond = 64 * 1024;

Connection& connectionOf(struct soap* soap) { return *static_cast<Connection*>(soap->user); }

// The request's key, as its first part is read: an attachment that comes
// with a key the service does not know is never stored.
int rememberKey(struct soap* soap, const char*, const char* value) {
  connectionOf(soap).requestKey = value;
  return SOAP_OK;
}

// Attachments go to a file under the root as they arrive, never to memory,
// and only for a known key, within what the quota leaves (counting the
// attachments on their way on other connections).
void* openIncoming(struct soap* soap, const char*, const char* type, const char*) {
  Connection& c = connectionOf(soap);
  // An attachment streams to a file: a file may be larger than any message
  // held in memory may be (the bound comes back with the next request).
  soap->recv_maxlength = 0;
  c.discardAttachment();
  auto attachment = std::make_unique<Connection::Attachment>();
  attachment->type = type ? type : "";
  if (!c.service->agentOf(c.requestKey)) {
    attachment->refused = true;
    c.attachment = std::move(attachment);
    return c.attachment.get();
  }
  attachment->store = &c.service->store();
  attachment->syncOnClose = c.service->store().syncsEachContent();
  attachment->inFlight = &c.service->attachmentBytesInFlight();
  if (c.service->config().quotaBytes >= 0) {
    attachment->room = std::max<int64_t>(0, c.service->config().quotaBytes - c.service->store().usedBytes() -
                                                attachment->inFlight->load());
  }
  c.attachment = std::move(attachment);
  return c.attachment.get();
}

int writeIncoming(struct soap*, void* handle, const char* data, size_t length) {
  auto* attachment = static_cast<Connection::Attachment*>(handle);
  attachment->size += static_cast<int64_t>(length);
  if (attachment->room >= 0 && attachment->size > attachment->room) attachment->tooLarge = true;  // read on, store no more
  if (attachment->refused || attachment->tooLarge || attachment->failed) return SOAP_OK;
  attachment->counted += static_cast<int64_t>(length);
  *attachment->inFlight += static_cast<int64_t>(length);
  attachment->digest.update(data, length);
  attachment->pending.append(data, length);
  // A content the store keeps in its catalogue never gets a file.
  if (attachment->inMemory && attachment->size > CacheStore::kCatalogueContentBytes && !attachment->openFile()) {
    attachment->failed = true;
    return SOAP_OK;
  }
  if (!attachment->inMemory && attachment->pending.size() >= kWriteBlock) {
    if (!attachment->writer->append(attachment->pending.data(), attachment->pending.size())) attachment->failed = true;
    attachment->pending.clear();
  }
  return SOAP_OK;
}

void closeIncoming(struct soap*, void* handle) {
  auto* attachment = static_cast<Connection::Attachment*>(handle);
  if (attachment->refused || attachment->inMemory) return;
  if (!attachment->failed && !attachment->tooLarge && !attachment->pending.empty() &&
      !attachment->writer->append(attachment->pending.data(), attachment->pending.size())) {
    attachment->failed = true;
  }
  attachment->pending.clear();
  // Where the store cannot sync its file system at once, each content
  // reaches the disk here, before it can be finalized.
  bool sync = attachment->syncOnClose && !attachment->failed && !attachment->tooLarge;
  if ((sync && !attachment->writer->sync()) || !attachment->writer->close()) attachment->failed = true;
}

// MIME attachments would be held in memory: the protocol's are DIME.
void* refuseMime(struct soap* soap, void*, const char*, const char*, const char*, enum soap_mime_encoding) {
  soap_sender_fault(soap, "MIME attachments are not accepted; send DIME", nullptr);
  return nullptr;
}

// A request read whole with more bytes behind it: the client sent the
// next one before its answer (pipelining). The toolkit writes the answer
// into the buffer that holds those bytes, so it could not serve them; the
// answer says "Connection: close" instead, and the client sends them again.
int endOfRequest(struct soap* soap) {
  Connection& c = connectionOf(soap);
  c.requestStartedMs = 0;
  // A network's round trip, modelled: the answer waits.
  if (int latency = c.service->config().latencyMs; latency > 0) platform::sleepMs(static_cast<uint32_t>(latency));
  if (soap->bufidx < soap->buflen) soap->keep_alive = 0;
  // Attachments the toolkit kept in memory (ours are streamed to files)
  // must not outlive their request: a following HEAD or OPTIONS request
  // would have the toolkit send them (found by fuzzing).
  soap->dime.list = soap->dime.first = soap->dime.last = nullptr;
  soap->mime.list = soap->mime.first = soap->mime.last = nullptr;
  return SOAP_OK;
}

// After each request: an attachment no operation took is removed, and
// what the request and its answer took of the toolkit's memory is freed
// (otherwise a connection holds every answer it sent until it closes).
int afterRequest(struct soap* soap) {
  connectionOf(soap).discardAttachment();
  soap->recv_maxlength = kMaxMessageBytes;
  soap_destroy(soap);
  soap_dealloc(soap, nullptr);
  return SOAP_OK;
}

// Reading with the injected faults: a connection that ends after N bytes,
// and a slow reader.
// Every read: a request must come whole within the time-out, and longer
// only while its bytes come at a fair rate, so that a client that sends a
// byte now and then cannot hold a connection (and a thread) for long.
size_t timedReceive(struct soap* soap, char* buffer, size_t length) {
  Connection& c = connectionOf(soap);
  uint64_t now = platform::tickCountMs();
  if (c.requestStartedMs == 0) {
    c.requestStartedMs = now;
    c.requestBytes = 0;
  }
  uint64_t allowed = static_cast<uint64_t>(c.service->config().timeoutSeconds) * 1000 +
                     c.requestBytes * 1000 / kMinRequestBytesPerSecond;
  if (now - c.requestStartedMs >= allowed) return 0;
  soap->recv_timeout = static_cast<int>(std::max<uint64_t>(1, (allowed - (now - c.requestStartedMs) + 999) / 1000));
  size_t got = c.receive(soap, buffer, length);
  c.requestBytes += got;
  return got;
}

size_t faultyReceive(struct soap* soap, char* buffer, size_t length) {
  Connection& c = connectionOf(soap);
  const ServiceConfig& config = c.service->config();
  if (config.dropAfterBytes >= 0) {
    if (c.received >= config.dropAfterBytes) return 0;
    length = std::min<size_t>(length, static_cast<size_t>(config.dropAfterBytes - c.received));
  }
  if (config.slowReadBytesPerSecond > 0) {
    size_t slice = static_cast<size_t>(std::max<int64_t>(1, config.slowReadBytesPerSecond / 10));
    length = std::min(length, slice);
  }
  size_t got = timedReceive(soap, buffer, length);
  c.received += static_cast<int64_t>(got);
  // A slow link: each read ends when the bytes so far would have arrived at
  // the configured rate.
  if (config.slowReadBytesPerSecond > 0) {
    uint64_t now = platform::tickCountMs();
    if (c.firstReadMs == 0) c.firstReadMs = now;
    uint64_t due = c.firstReadMs + static_cast<uint64_t>(c.received * 1000 / config.slowReadBytesPerSecond);
    if (due > now) platform::sleepMs(static_cast<uint32_t>(due - now));
  }
  return got;
}

int promptSend(struct soap* soap, const char* data, size_t length) {
  return velkan::sendPromptly(soap, connectionOf(soap).send, data, length);
}

}  // namespace

LocalService::LocalService(platform::Env& env, ServiceConfig config)
    : config_(std::move(config)), store_(env, config_.root, config_.quotaBytes) {
  store_.setHistory(config_.history);
}

LocalService::~LocalService() {
  stop();
  if (listener_) {
    soap_destroy(listener_);
    soap_end(listener_);
    soap_free(listener_);
  }
}

bool LocalService::loadAgents(std::string& error) {
  if (config_.agentsFile.empty()) return true;
  std::unique_ptr<ZR::CXmlElement> document(ZR::CXmlBuilder::fileToDocument(store_.env(), config_.agentsFile, error));
  if (!document) {
    error = "cannot read agents file " + config_.agentsFile + ": " + error;
    return false;
  }
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    const ZR::CXmlElement* agent = document->getChild(i);
    const ZR::CXmlAttribute* name = agent->getAttribute("name");
    agents_[trimmed(agent->getText())] = name ? name->value : "agent" + std::to_string(i + 1);
  }
  return true;
}

bool LocalService::start(std::string& error) {
  platform::ignoreBrokenPipeSignal();
  if (!store_.open(error) || !loadAgents(error)) return false;
  store_.setReporter([](const std::string& line) {
    std::fprintf(stderr, "cachemanager-local: %s\n", line.c_str());
    std::fflush(stderr);
  });
  listener_ = soap_new2(SOAP_C_UTFSTRING | SOAP_IO_KEEPALIVE, SOAP_C_UTFSTRING | SOAP_IO_KEEPALIVE);
  if (!listener_) {
    error = "out of memory";
    return false;
  }
  // The history operations' namespace too, so that their requests are read.
  soap_set_namespaces(listener_, historyNamespaces());
  listener_->bind_flags = SO_REUSEADDR;
  listener_->accept_timeout = -100000;  // 100 ms (negative: microseconds), so that stop() is noticed soon
  listener_->send_timeout = listener_->recv_timeout = config_.timeoutSeconds;
  listener_->maxlevel = 64;
  listener_->max_keep_alive = 100000;  // a client's run of many files stays on one connection
  listener_->maxlength = 64 * 1024 * 1024;
  guard_.hostNames = {config_.host, "127.0.0.1", "localhost", "::1", "[::1]"};
  guard_.hostNames.insert(guard_.hostNames.end(), config_.allowedHosts.begin(), config_.allowedHosts.end());
  guard_.origins = config_.allowedOrigins;
  guard_.contentTypes = {"text/xml", "application/dime"};  // SOAP 1.1 and its attachments, nothing a form sends
  guard_.install(listener_);
  listener_->recv_maxlength = kMaxMessageBytes;
  if (!config_.tlsCertificate.empty() && !setUpTls(error)) return false;
  if (!soap_valid_socket(soap_bind(listener_, config_.host.c_str(), config_.port, 100))) {
    error = "cannot listen on " + config_.host + ":" + std::to_string(config_.port) + ": " +
            std::string(*soap_faultstring(listener_) ? *soap_faultstring(listener_) : "bind failed");
    return false;
  }
  port_ = listener_->port;
  if (port_ == 0) port_ = platform::localPortOf(static_cast<uint64_t>(listener_->master));
  return true;
}

// The certificate and the key are read from where they are: the key is
// never copied (a copy would be one more file to keep private).
bool LocalService::setUpTls(std::string& error) {
  soap_ssl_init();
  if (soap_ssl_server_context(listener_, SOAP_SSL_DEFAULT, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr)) {
    error = "TLS set-up failed: " + std::string(*soap_faultstring(listener_));
    return false;
  }
  if (SSL_CTX_use_certificate_chain_file(listener_->ctx, config_.tlsCertificate.c_str()) != 1) {
    error = "cannot read the TLS certificate " + config_.tlsCertificate;
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(listener_->ctx, config_.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(listener_->ctx) != 1) {
    error = "cannot read the TLS key " + config_.tlsKey + " (or it does not go with the certificate)";
    return false;
  }
  return true;
}

void LocalService::run() {
  constexpr int64_t kPruneIntervalSeconds = 3600;
  int64_t nextPrune = platform::unixTimeSeconds() + kPruneIntervalSeconds;
  while (!stopping_.load()) {
    // Versions past their days go between connections, never in an upload's way.
    if (int64_t now = platform::unixTimeSeconds(); now >= nextPrune) {
      store_.pruneHistory(now);
      nextPrune = now + kPruneIntervalSeconds;
    }
    if (!waitForRoom()) continue;
    uint64_t before = platform::tickCountMs();
    SOAP_SOCKET socket = soap_accept(listener_);
    if (!soap_valid_socket(socket)) {
      // A failed accept comes back at once (no descriptors left, say): wait
      // a moment rather than spin; the time-out itself took its 100 ms.
      if (platform::tickCountMs() - before < 50) platform::sleepMs(50);
      continue;
    }
    struct soap* connection = newConnection();
    if (!connection) {
      soap_force_closesock(listener_);
      continue;
    }
    std::thread([this, connection] { serveConnection(connection); }).detach();
  }
}

// At most maxConnections at once: the others wait in the system's queue.
bool LocalService::waitForRoom() {
  std::unique_lock<std::mutex> lock(mutex_);
  return connectionsDone_.wait_for(lock, std::chrono::milliseconds(100),
                                   [this] { return activeConnections_ < config_.maxConnections || stopping_.load(); });
}

struct soap* LocalService::newConnection() { return soap_copy(listener_); }

void LocalService::serveConnection(struct soap* connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++activeConnections_;
  }
  serve(connection);
}

void LocalService::serve(struct soap* soap) {
  Connection connection;
  connection.service = this;
  connection.receive = soap->frecv;
  connection.send = soap->fsend;
  soap->user = &connection;
  soap->fdimewriteopen = openIncoming;
  soap->fdimewrite = writeIncoming;
  soap->fdimewriteclose = closeIncoming;
  soap->fsvalidate = rememberKey;
  soap->fpreparefinalrecv = endOfRequest;
  soap->fmimewriteopen = refuseMime;
  soap->fserveloop = afterRequest;
  soap->frecv = config_.dropAfterBytes >= 0 || config_.slowReadBytesPerSecond > 0 ? faultyReceive : timedReceive;
  soap->fsend = promptSend;
  if (config_.tlsCertificate.empty() || soap_ssl_accept(soap) == SOAP_OK) soap_serve(soap);
  soap->user = nullptr;
  soap_destroy(soap);
  soap_end(soap);
  soap_free(soap);
  std::lock_guard<std::mutex> lock(mutex_);
  --activeConnections_;
  connectionsDone_.notify_all();
}

void LocalService::stop() {
  stopping_.store(true);
  std::unique_lock<std::mutex> lock(mutex_);
  connectionsDone_.wait_for(lock, std::chrono::seconds(config_.timeoutSeconds),
                            [this] { return activeConnections_ == 0; });
}

std::string LocalService::login(const std::string& authentication) {
  std::string agent;  // one agent for all: the store's paths as they are
  if (!agents_.empty()) {
    auto found = agents_.find(trimmed(authentication));
    if (found == agents_.end()) return "";
    agent = found->second;
  }
  std::string key = randomHex(32);
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t now = platform::unixTimeSeconds();
  // Expired sessions go now and then, so that logins cannot pile them up.
  if (sessions_.size() >= nextPruneAt_) {
    for (auto it = sessions_.begin(); it != sessions_.end();) it = it->second.expires < now ? sessions_.erase(it) : std::next(it);
    nextPruneAt_ = std::max<size_t>(1024, sessions_.size() * 2);
  }
  sessions_[key] = Session{agent, now + config_.sessionSeconds};
  return key;
}

std::optional<std::string> LocalService::agentOf(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(key);
  if (found == sessions_.end()) return std::nullopt;
  int64_t now = platform::unixTimeSeconds();
  if (found->second.expires < now) {
    sessions_.erase(found);
    return std::nullopt;
  }
  found->second.expires = now + config_.sessionSeconds;
  return found->second.agent;
}

void LocalService::logout(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(key);
}

std::optional<int> LocalService::injectedAnswer(const std::string& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = config_.injectedAnswers.find(operation);
  if (found == config_.injectedAnswers.end() || found->second.second <= 0) return std::nullopt;
  --found->second.second;
  return found->second.first;
}

int LocalService::injectedAnswersLeft(const std::string& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = config_.injectedAnswers.find(operation);
  return found == config_.injectedAnswers.end() ? 0 : found->second.second;
}

}  // namespace localservice
