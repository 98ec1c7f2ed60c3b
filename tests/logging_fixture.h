// A test with velkan's logging on: an empty configuration in a scratch
// folder, so that the log ("velkan.log") is written beside it, and both
// taken down after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "tests/test_support.h"

namespace testsupport {

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir_.file("log.xml"), "<CachingPolicyEngineConfiguration/>");
    ASSERT_TRUE(ZR::CConfigManager::initialize(1, dir_.file("log.xml"), false));
    ZR::CLogManager::initialize("velkan");
  }
  void TearDown() override {
    ZR::CLogManager::shutdown();
    ZR::CConfigManager::reset();
  }
  ZR::CLogger& log() { return *ZR::CLogManager::instance(); }
  // What the log holds so far.
  std::string logText() {
    log().flush();
    return readFile(dir_.file("velkan.log"));
  }

  TempDir dir_;
};

}  // namespace testsupport
