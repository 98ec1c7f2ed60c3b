// cachemanager-local reading one connection's bytes: HTTP, chunked coding,
// SOAP envelopes and DIME attachments, then the operation. A session key
// is made at start; every run of 64 'k' characters in the input stands for
// it, so that inputs reach the operations behind the key check.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "localservice/local_service.h"
#include "platform/env.h"
#include "stdsoap2.h"

using namespace fuzzsupport;

namespace {

localservice::LocalService* service = nullptr;
std::string sessionKey;
std::string feed;
size_t fed = 0;

// Hands out the input in pieces of at most 700 bytes, as a socket might.
size_t receiveFromFeed(struct soap*, char* buffer, size_t length) {
  size_t count = std::min({length, feed.size() - fed, size_t{700}});
  std::memcpy(buffer, feed.data() + fed, count);
  fed += count;
  return count;
}

int discardSent(struct soap*, const char*, size_t) { return SOAP_OK; }

void substituteKey(std::string& text) {
  const std::string placeholder(64, 'k');
  for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + 64)) {
    text.replace(at, 64, sessionKey);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  localservice::ServiceConfig config;
  config.root = scratchFolder() + "/store";
  config.timeoutSeconds = 5;
  config.quotaBytes = 64 * 1024 * 1024;
  service = new localservice::LocalService(*platform::Env::defaultEnv(), config);
  std::string error;
  require(service->start(error), "the service does not start");
  sessionKey = service->login("fuzz");
  require(sessionKey.size() == 64, "unexpected session key length");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  feed.assign(reinterpret_cast<const char*>(data), size);
  substituteKey(feed);
  fed = 0;
  struct soap* connection = service->newConnection();
  require(connection != nullptr, "no connection context");
  connection->frecv = receiveFromFeed;
  connection->fsend = discardSent;
  service->serveConnection(connection);
  return 0;
}
