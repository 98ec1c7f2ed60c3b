// cachemanager-local: a cache manager service of our own, built from the
// same service declaration as the client. It stores uploads under a root
// folder (see CacheStore), answers every operation of the service, and can
// inject faults for tests: answer a given code for the next N calls of an
// operation, close connections after N received bytes, or read slowly.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/http_guard.h"

#include "localservice/cache_store.h"

struct soap;

namespace localservice {

// The port cachemanager-local listens on unless told otherwise.
constexpr int kDefaultPort = 8080;

struct ServiceConfig {
  std::string root;
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::string tlsCertificate;  // PEM; with tlsKey, the service speaks HTTPS
  std::string tlsKey;
  std::string agentsFile;      // <agents><agent name="...">text</agent></agents>; empty: any text
  int64_t quotaBytes = -1;
  HistoryPolicy history;  // what is kept of replaced and deleted files
  int sessionSeconds = 3600;
  int timeoutSeconds = 300;
  int maxConnections = 64;     // served at once; more wait until one ends
  // Browsers: a request with an Origin is refused unless it is one of
  // these; a Host header must name the listening address, a loopback name
  // or one of `allowedHosts`.
  std::vector<std::string> allowedOrigins;
  std::vector<std::string> allowedHosts;
  // Faults.
  std::map<std::string, std::pair<int, int>> injectedAnswers;  // operation -> (code, how many calls)
  int64_t dropAfterBytes = -1;    // per connection
  int64_t slowReadBytesPerSecond = -1;
  // A lying service, for the clients' tests: listings claim this size for
  // every file, and getFile answers this many bytes whatever was asked
  // (the file's, then zeros). -1: the truth.
  int64_t fakeListedSize = -1;
  int latencyMs = 0;  // every answer waits this long, as over a real network
  int64_t fakeAnswerBytes = -1;
};

class LocalService {
 public:
  // Every file it keeps is reached through `env`.
  LocalService(platform::Env& env, ServiceConfig config);
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  // Opens the store and binds the port. False with `error`.
  bool start(std::string& error);
  int port() const { return port_; }
  // Serves connections until stop() (each on a thread of its own).
  void run();
  // Ends run() soon and waits for the connections to finish.
  void stop();

  // A connection context with the service's settings (after start()), and
  // serving it to its end, which frees it. run() uses both for accepted
  // sockets; the fuzzer hands in contexts that read from memory.
  struct soap* newConnection();
  void serveConnection(struct soap* connection);

  CacheStore& store() { return store_; }
  // Bytes of attachments received but not yet stored or dropped.
  std::atomic<int64_t>& attachmentBytesInFlight() { return inFlight_; }
  const ServiceConfig& config() const { return config_; }

  // The agent a key belongs to ("" for every key of a service without an
  // agents file); none when the key is unknown or expired.
  std::optional<std::string> agentOf(const std::string& key);
  // A session key for an authentication text; empty when the agent is unknown.
  std::string login(const std::string& authentication);
  void logout(const std::string& key);
  // The code to answer instead of serving `operation`, while one is planned.
  std::optional<int> injectedAnswer(const std::string& operation);
  // How many injected answers of the operation are still to be given.
  int injectedAnswersLeft(const std::string& operation);

 private:
  bool loadAgents(std::string& error);
  bool waitForRoom();
  bool setUpTls(std::string& error);
  void serve(struct soap* connection);

  ServiceConfig config_;
  CacheStore store_;
  velkan::HttpGuard guard_;  // on the listener and every connection copied from it
  struct soap* listener_ = nullptr;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> inFlight_{0};
  std::map<std::string, std::string> agents_;  // text -> name
  struct Session {
    std::string agent;
    int64_t expires;
  };
  std::mutex mutex_;
  std::map<std::string, Session> sessions_;
  size_t nextPruneAt_ = 1024;
  std::condition_variable connectionsDone_;
  int activeConnections_ = 0;
};

// Parses the command line; false with `error` (usage problems).
bool parseArguments(int argc, char** argv, ServiceConfig& config, std::string& error);

}  // namespace localservice
