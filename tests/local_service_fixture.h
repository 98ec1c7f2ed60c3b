// Runs cachemanager-local's service in the test process, on a free
// loopback port, with its store in a scratch folder.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "localservice/local_service.h"
#include "tests/test_support.h"

namespace testsupport {

// A final file's whole content, wherever the store keeps it; empty when
// there is none or it cannot be read.
std::string storedContent(localservice::CacheStore& store, const std::string& path);

class RunningService {
 public:
  // The service reaches its files through `env` (null: the system's).
  explicit RunningService(localservice::ServiceConfig config = {}, platform::Env* env = nullptr);
  ~RunningService();

  int port() const { return service_->port(); }
  std::string server() const { return "127.0.0.1:" + std::to_string(port()); }
  const std::string& root() const { return root_.path(); }
  localservice::LocalService& service() { return *service_; }

 private:
  TempDir root_;
  std::unique_ptr<localservice::LocalService> service_;
  std::thread thread_;
};

}  // namespace testsupport
