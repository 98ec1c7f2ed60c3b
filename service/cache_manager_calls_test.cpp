#include "service/cache_manager_calls.h"

#include <gtest/gtest.h>

#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"
#include "tests/test_support.h"

namespace {

class MemoryKeys : public velkan::SessionKeys {
 public:
  std::string getKey() override { return key; }
  bool setKey(const std::string& k) override {
    key = k;
    ++stored;
    return true;
  }
  std::string key;
  int stored = 0;
};

class CallsTest : public testsupport::LoggingTest {
 protected:
  std::unique_ptr<velkan::CacheManagerCalls> callsTo(const std::string& server) {
    testsupport::writeFile(dir_.file("auth.xml"), "agent");
    return std::make_unique<velkan::CacheManagerCalls>(*platform::Env::defaultEnv(),
                                                       velkan::ServiceSettings{server, dir_.file("auth.xml"), ""},
                                                       velkan::ServiceOptions(), keys_, log(), nullptr);
  }
  testsupport::TempDir dir_;
  MemoryKeys keys_;
};

// cacheagent's reads follow the one rule of every call: a key the service
// refused costs one new log-in and one more try, never more.
TEST_F(CallsTest, AReadWithARefusedKeyLogsInAgainOnce) {
  struct Case {
    const char* operation;
    int refusals;
    bool answered;  // the second try gets the real answer
  };
  const Case cases[] = {{"getStoreContentsForPath", 1, true}, {"getFileAttr", 1, true},
                        {"getStoreContentsForPath", 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " refused " + std::to_string(c.refusals));
    localservice::ServiceConfig config;
    config.injectedAnswers[c.operation] = {-3, c.refusals};
    testsupport::RunningService service(config);
    keys_ = MemoryKeys();
    auto calls = callsTo(service.server());
    ASSERT_EQ(calls->uploadMetaData("c:\\docs\\a.txt", "cache.mimetype=text/plain\n"), -2);
    ASSERT_EQ(calls->writeContentFromMemory("c:\\docs\\a.txt", "hello"), -2);
    ASSERT_EQ(calls->finalizeFile("c:\\docs\\a.txt", ""), -2);
    std::string answer = std::string(c.operation) == "getFileAttr" ? calls->fileAttributes("c:\\docs\\a.txt")
                                                                    : calls->listFolder("c:\\docs");
    EXPECT_EQ(keys_.stored, 2) << "one log-in at the start, one again";
    EXPECT_EQ(service.service().injectedAnswersLeft(c.operation), 0) << "not asked twice";
    if (c.answered) {
      EXPECT_FALSE(velkan::CacheManagerCalls::isErrorCode(answer)) << answer;
    } else {
      EXPECT_EQ(answer, "-3");
    }
  }
}

}  // namespace
