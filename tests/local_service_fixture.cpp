#include "tests/local_service_fixture.h"

#include <gtest/gtest.h>

#include "platform/env.h"

namespace testsupport {

std::string storedContent(localservice::CacheStore& store, const std::string& path) {
  std::string out;
  return store.content(path).read(store.env(), &out) ? out : "";
}

RunningService::RunningService(localservice::ServiceConfig config, platform::Env* env) {
  if (config.root.empty()) config.root = root_.file("store");
  if (config.timeoutSeconds == 300) config.timeoutSeconds = 20;
  service_ = std::make_unique<localservice::LocalService>(env ? *env : *platform::Env::defaultEnv(), config);
  std::string error;
  EXPECT_TRUE(service_->start(error)) << error;
  thread_ = std::thread([this] { service_->run(); });
}

RunningService::~RunningService() {
  service_->stop();
  thread_.join();
}

}  // namespace testsupport
