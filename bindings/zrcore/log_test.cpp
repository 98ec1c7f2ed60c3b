#include <gtest/gtest.h>

#include <csignal>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "tests/test_support.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::writeFile(dir_.file("cfg.xml"),
                           "<CachingPolicyEngineConfiguration><logging folder='logs' level='info'/>"
                           "</CachingPolicyEngineConfiguration>");
    ASSERT_TRUE(ZR::CConfigManager::initialize(1, dir_.file("cfg.xml"), false));
  }
  void TearDown() override {
    ZR::CLogManager::shutdown();
    ZR::CConfigManager::reset();
  }
  std::string logText() {
    ZR::CLogManager::instance()->flush();
    std::string text = testsupport::readFile(dir_.file("logs/unit.log"));
    std::erase(text, '\r');  // Windows lines end with CR LF
    return text;
  }
  testsupport::TempDir dir_;
};

TEST_F(LogTest, WritesFormattedMessagesOneLineEachAtTheConfiguredLevel) {
  ASSERT_TRUE(ZR::CLogManager::initialize("unit"));
  ZR::CLogger* log = ZR::CLogManager::instance();
  ASSERT_NE(log, nullptr);
  log->info("Error in DirContent.xml :%d \n", 201);
  log->error("Error writing actionset.xml to path:%s\n ", "/x/a.xml");
  log->trace("below the level");
  std::string value = "100%n%s%d";
  log->info("%s", value.c_str());
  std::string text = logText();
  EXPECT_NE(text.find("[info] "), std::string::npos);
  EXPECT_NE(text.find("Error in DirContent.xml :201\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[error] "), std::string::npos);
  EXPECT_NE(text.find("Error writing actionset.xml to path:/x/a.xml\n"), std::string::npos);
  EXPECT_EQ(text.find("below the level"), std::string::npos);
  EXPECT_NE(text.find("100%n%s%d"), std::string::npos);
  EXPECT_EQ(testsupport::countOf(text, "\n"), 3u);
}

TEST_F(LogTest, LongMessagesAreNotCut) {
  ASSERT_TRUE(ZR::CLogManager::initialize("unit"));
  std::string longText(5000, 'p');
  ZR::CLogManager::instance()->info("start %s end", longText.c_str());
  EXPECT_NE(logText().find("start " + longText + " end"), std::string::npos);
}

TEST_F(LogTest, UnwritableFolderFallsBackToStandardError) {
  testsupport::writeFile(dir_.file("blocker"), "a file where the folder should be");
  testsupport::writeFile(dir_.file("cfg.xml"),
                         "<CachingPolicyEngineConfiguration><logging folder='blocker/logs'/>"
                         "</CachingPolicyEngineConfiguration>");
  ASSERT_TRUE(ZR::CConfigManager::initialize(1, dir_.file("cfg.xml"), false));
  EXPECT_FALSE(ZR::CLogManager::initialize("unit"));
  ASSERT_NE(ZR::CLogManager::instance(), nullptr);
  EXPECT_TRUE(ZR::CLogManager::instance()->filePath().empty());
}

TEST_F(LogTest, CrashGuardReportsAndExitsWithTheCrashCode) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child must share our log folder
  ASSERT_TRUE(ZR::CLogManager::initialize("unit"));
#ifdef _WIN32
  // A structured fault as the processor raises it. The child of a Windows
  // death test is a new process with a log folder of its own, so only its
  // standard error is seen here.
  EXPECT_EXIT(
      {
        ZR::installCrashGuard("unit");
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
      },
      ::testing::ExitedWithCode(ZR::kCrashExitCode), "unit stopped by a fatal fault: access violation");
#else
  EXPECT_EXIT(
      {
        ZR::installCrashGuard("unit");
        std::raise(SIGSEGV);
      },
      ::testing::ExitedWithCode(ZR::kCrashExitCode), "unit stopped by a fatal fault: segmentation fault");
  EXPECT_NE(logText().find("[crash] unit stopped by a fatal fault"), std::string::npos);
#endif
}

}  // namespace
