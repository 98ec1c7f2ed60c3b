#include "agent/status_server.h"

#include <cstdio>
#include <thread>
#include <string_view>

#include "agent/console.h"
#include "agent/exit_codes.h"
#include "bindings/zrcore/xml_writer.h"
#include "platform/env.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "platform/path.h"
#include "platform/socket_port.h"
#include "status/status_files.h"
#include "stdsoap2.h"

namespace agent {

// The page and its stylesheet (www/), built into the program.
extern const std::string_view kStatusPage;
extern const std::string_view kStatusStylesheet;

namespace {

constexpr int kAcceptWaitSeconds = 1;
constexpr uint64_t kWholeRequestMs = 2000;
constexpr int kMaxConnections = 16;

constexpr uint64_t kWholeConnectionMs = 10000;

// One connection's state: whose it is, and when its request began.
struct Connection {
  const StatusServer* server;
  uint64_t startedMs;
  size_t (*receive)(struct soap*, char*, size_t);
  int (*send)(struct soap*, const char*, size_t);
};

// A request must come whole within its time, however it drips.
size_t receiveWithinDeadline(struct soap* soap, char* buffer, size_t length) {
  auto* connection = static_cast<Connection*>(soap->user);
  if (platform::tickCountMs() - connection->startedMs >= kWholeRequestMs) return 0;
  return connection->receive(soap, buffer, length);
}

// And the answer must be taken within the connection's time: a client that
// reads a byte now and then cannot keep a thread.
int sendWithinDeadline(struct soap* soap, const char* data, size_t length) {
  auto* connection = static_cast<Connection*>(soap->user);
  if (platform::tickCountMs() - connection->startedMs >= kWholeConnectionMs) return SOAP_EOF;
  return connection->send(soap, data, length);
}
constexpr size_t kMaxStatusFile = 64u << 20;

// Where each drive of the logical paths lives here, for the page to show
// the paths a person knows; none where they are the same.
std::string drivesOfThisMachine() {
  std::string out;
  ZR::CXmlWriter xml(out, true);
  xml.declaration();
  xml.startElement("paths");
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string logical = std::string(1, letter) + ":\\";
    std::string host = platform::hostPath(logical);
    if (host == logical) continue;
    xml.startElement("drive");
    xml.attribute("letter", std::string(1, letter));
    xml.attribute("root", host);
    xml.endElement();
  }
  xml.finish();
  return out;
}

bool isStatusFileName(std::string_view name) {
  if (name.size() < 8 || name.substr(0, 3) != "cs_" || name.substr(name.size() - 4) != ".xml") return false;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    if (!plain) return false;
  }
  return name.find("..") == std::string_view::npos;
}

int reply(struct soap* soap, int status, const char* type, const std::string& body) {
  soap->http_content = type;
  if (soap_response(soap, SOAP_FILE + status) || soap_send_raw(soap, body.data(), body.size()) || soap_end_send(soap)) {
    return soap->error;
  }
  return SOAP_OK;
}

int onGet(struct soap* soap) {
  const StatusServer* server = static_cast<Connection*>(soap->user)->server;
  std::string path = soap->path;
  path = path.substr(0, path.find('?'));
  std::string type, body;
  if (!server->answer(path, type, body)) return reply(soap, 404, "text/plain", "not found\n");
  return reply(soap, 200, type.c_str(), body);
}

}  // namespace

StatusServer::StatusServer(platform::Env& env, std::string statusFolder)
    : env_(env), statusFolder_(std::move(statusFolder)), soap_(soap_new()) {
  soap_->fget = onGet;
  soap_->accept_timeout = kAcceptWaitSeconds;
  soap_->recv_timeout = 1;  // a receive wakes up to look at the request's deadline
  soap_->send_timeout = 1;
  soap_->bind_flags = SO_REUSEADDR;
}

StatusServer::~StatusServer() {
  soap_destroy(soap_);
  soap_end(soap_);
  soap_free(soap_);
}

platform::Status StatusServer::start(int port) {
  platform::ignoreBrokenPipeSignal();
  if (!soap_valid_socket(soap_bind(soap_, "127.0.0.1", port, 64))) {
    return platform::Status::ioError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                     (*soap_faultstring(soap_) ? *soap_faultstring(soap_) : "bind failed"));
  }
  port_ = port != 0 ? port : platform::localPortOf(static_cast<uint64_t>(soap_->master));
  guard_.hostNames = {"127.0.0.1", "localhost"};
  guard_.port = port_;
  guard_.install(soap_);
  return platform::Status::ok();
}

void StatusServer::serve(const std::function<bool()>& stop) {
  while (!stop()) {
    if (!soap_valid_socket(soap_accept(soap_))) continue;  // the wait ended, or a failed accept
    std::unique_lock<std::mutex> lock(mutex_);
    if (active_ >= kMaxConnections) {
      lock.unlock();
      soap_force_closesock(soap_);  // too many at once: this one is closed at once
      continue;
    }
    ++active_;
    lock.unlock();
    struct soap* connection = soap_copy(soap_);
    soap_->socket = SOAP_INVALID_SOCKET;  // the copy has it now
    if (!connection) {
      std::lock_guard<std::mutex> undo(mutex_);
      --active_;
      continue;
    }
    std::thread([this, connection] { serveConnection(connection); }).detach();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  // Each connection ends within its time (or a send time-out after it).
  connectionEnded_.wait(lock, [this] { return active_ == 0; });
}

void StatusServer::serveConnection(struct soap* connection) {
  Connection state{this, platform::tickCountMs(), connection->frecv, connection->fsend};
  connection->user = &state;
  connection->frecv = receiveWithinDeadline;
  connection->fsend = sendWithinDeadline;
  soap_begin_serve(connection);  // answers a GET through onGet; anything else gets an error
  soap_destroy(connection);
  soap_end(connection);
  soap_free(connection);
  std::lock_guard<std::mutex> lock(mutex_);
  --active_;
  connectionEnded_.notify_all();
}

bool StatusServer::answer(const std::string& path, std::string& type, std::string& body) const {
  if (path == "/" || path == "/index.html" || path == "/www/" || path == "/www/index.html") {
    type = "text/html; charset=utf-8";
    body = kStatusPage;
    return true;
  }
  if (path == "/www/status_transform.xsl") {
    type = "text/xsl";
    body = kStatusStylesheet;
    return true;
  }
  if (path == "/status/paths.xml") {
    type = "application/xml";
    body = drivesOfThisMachine();
    return true;
  }
  const std::string prefix = "/status/";
  if (path.compare(0, prefix.size(), prefix) != 0 || !isStatusFileName(std::string_view(path).substr(prefix.size()))) {
    return false;
  }
  std::string file = platform::joinPath(statusFolder_, path.substr(prefix.size()));
  platform::FileInfo info;
  if (!env_.getFileInfo(file, &info) || !info.isRegular || info.size > kMaxStatusFile) return false;
  if (!platform::readFileToString(env_, file, &body)) return false;
  type = "application/xml";
  return true;
}

int runStatusServer(const AgentConfig& config, int port) {
  StatusServer server(*config.env, platform::joinPath(config.workFolder, velkan::kStatusFolder));
  if (platform::Status started = server.start(port); !started) return fail(kExitWrite, started.message());
  platform::watchForInterruption();
  std::printf("the status page is at http://127.0.0.1:%d/www/index.html (Ctrl-C ends it)\n", server.port());
  std::fflush(stdout);
  server.serve([] { return platform::interruptionRequested(); });
  return kExitOk;
}

}  // namespace agent
