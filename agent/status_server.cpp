#include "agent/status_server.h"

#include <cstdio>
#include <string_view>

#include "agent/console.h"
#include "agent/exit_codes.h"
#include "platform/env.h"
#include "platform/interrupt.h"
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
constexpr int kRequestSeconds = 5;
constexpr size_t kMaxStatusFile = 64u << 20;

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
  const auto* server = static_cast<const StatusServer*>(soap->user);
  std::string path = soap->path;
  path = path.substr(0, path.find('?'));
  std::string type, body;
  if (!server->answer(path, type, body)) return reply(soap, 404, "text/plain", "not found\n");
  return reply(soap, 200, type.c_str(), body);
}

}  // namespace

StatusServer::StatusServer(std::string statusFolder) : statusFolder_(std::move(statusFolder)), soap_(soap_new()) {
  soap_->user = this;
  soap_->fget = onGet;
  soap_->accept_timeout = kAcceptWaitSeconds;
  soap_->recv_timeout = kRequestSeconds;
  soap_->send_timeout = kRequestSeconds;
  soap_->bind_flags = SO_REUSEADDR;
}

StatusServer::~StatusServer() {
  soap_destroy(soap_);
  soap_end(soap_);
  soap_free(soap_);
}

platform::Status StatusServer::start(int port) {
  if (!soap_valid_socket(soap_bind(soap_, "127.0.0.1", port, 16))) {
    return platform::Status::ioError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                     (*soap_faultstring(soap_) ? *soap_faultstring(soap_) : "bind failed"));
  }
  port_ = port != 0 ? port : platform::localPortOf(static_cast<uint64_t>(soap_->master));
  return platform::Status::ok();
}

void StatusServer::serve(const std::function<bool()>& stop) {
  while (!stop()) {
    if (!soap_valid_socket(soap_accept(soap_))) continue;  // the wait ended, or a failed accept
    soap_begin_serve(soap_);  // answers a GET through onGet; anything else gets an error
    soap_destroy(soap_);
    soap_end(soap_);
    soap_closesock(soap_);
  }
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
  const std::string prefix = "/status/";
  if (path.compare(0, prefix.size(), prefix) != 0 || !isStatusFileName(std::string_view(path).substr(prefix.size()))) {
    return false;
  }
  std::string file = platform::joinPath(statusFolder_, path.substr(prefix.size()));
  platform::FileInfo info;
  if (!platform::env()->getFileInfo(file, &info) || !info.isRegular || info.size > kMaxStatusFile) return false;
  if (!platform::readFileToString(file, &body)) return false;
  type = "application/xml";
  return true;
}

int runStatusServer(const AgentConfig& config, int port) {
  StatusServer server(platform::joinPath(config.workFolder, velkan::kStatusFolder));
  if (platform::Status started = server.start(port); !started) return fail(kExitWrite, started.message());
  platform::watchForInterruption();
  std::printf("the status page is at http://127.0.0.1:%d/www/index.html (Ctrl-C ends it)\n", server.port());
  std::fflush(stdout);
  server.serve([] { return platform::interruptionRequested(); });
  return kExitOk;
}

}  // namespace agent
