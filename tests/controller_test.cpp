// The controller's reading of an action set: the upload lists, their order
// and what is skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>  // chmod

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "client/ccm_client.h"
#include "tests/logging_fixture.h"
#include "tests/test_support.h"

namespace {

using velkan::CCMClient;

class Controller : public testsupport::LoggingTest {
 protected:
  void SetUp() override {
    platform::setEnvironmentVariable("ZR_IPC_NAMESPACE", "controller-" + std::to_string(platform::processId()));
    LoggingTest::SetUp();
  }
  // A client configured with an action set that creates the given files.
  std::unique_ptr<CCMClient> client(const std::string& entries, const std::string& extra = "") {
    testsupport::writeFile(dir_.file("actions.xml"), "<action-set>" + entries + "</action-set>");
    testsupport::writeFile(dir_.file("cfg.xml"), "<CachingPolicyEngineConfiguration><cacheManagerClient server='127.0.0.1:1'>"
                                                 "<accessDocument path='a'/><actionset path='" + dir_.file("actions.xml") +
                                                 "'/>" + extra + "</cacheManagerClient></CachingPolicyEngineConfiguration>");
    auto c = std::make_unique<CCMClient>(ZR::CRunContext::processDefaults());
    c->configure(dir_.file("cfg.xml"));
    return c;
  }
  std::string file(const std::string& name, size_t size, int64_t mtime) {
    std::string path = dir_.file(name);
    testsupport::writeFile(path, std::string(size, 'x'));
    EXPECT_TRUE(platform::setModifiedTime(path, mtime)) << path;
    return path;
  }
  static std::string create(const std::string& path, int64_t offset) {
    return "<file path='" + path + "'><offset value='" + std::to_string(offset) + "'/><mimeType name='text/plain'/></file>";
  }
  static std::vector<std::string> names(const std::vector<velkan::CUploadFile>& list) {
    std::vector<std::string> out;
    for (const auto& f : list) out.push_back(f.path().substr(f.path().find_last_of("/\\") + 1));
    return out;
  }
};

TEST_F(Controller, FilesAreSortedIntoSmallLargeAndResumed) {
  std::string exact = file("exact.txt", 8388608, 1000);
  std::string over = file("over.txt", 8388609, 2000);
  std::string tiny = file("tiny.txt", 10, 3000);
  std::string resumed = file("resumed.txt", 99999999 / 1000, 500);
  auto c = client("<action name='create'>" + create(exact, 0) + create(over, 0) + create(tiny, 0) +
                  create(resumed, 4096) + create(dir_.file("missing.txt"), 0) +
                  "<directory path='" + dir_.path() + "'/></action>"
                  "<action name='Create'>" + create(tiny, 0) + "</action>"
                  "<action name='delete'><directory path='c:\\d'/><file path='c:\\f'/></action>");
  c->readActionSet();
  EXPECT_EQ(names(c->smallUploads()), (std::vector<std::string>{"exact.txt", "tiny.txt"}));
  EXPECT_EQ(names(c->largeUploads()), std::vector<std::string>{"over.txt"});
  EXPECT_EQ(names(c->resumedUploads()), std::vector<std::string>{"resumed.txt"});
  EXPECT_EQ(c->deleteList(), (std::vector<std::string>{"c:\\d", "c:\\f"}));
  c->sortUploads();
  EXPECT_EQ(names(c->smallUploads()), (std::vector<std::string>{"tiny.txt", "exact.txt"}));  // newest first
  EXPECT_EQ(c->collectUploadPaths(), (std::vector<std::string>{tiny, exact, resumed, over}));
}

TEST_F(Controller, LargeFilesSmallestFirstAndNoLimitForNegativeSizes) {
  std::string a = file("a.txt", 3000, 1), b = file("b.txt", 2000, 2), c3 = file("c.txt", 1000, 3);
  auto c = client("<action name='create'>" + create(a, 0) + create(b, 0) + create(c3, 0) + "</action>",
                  "<MaxDataPerFile value='0'/>");
  c->readActionSet();
  c->sortUploads();
  EXPECT_EQ(names(c->largeUploads()), (std::vector<std::string>{"c.txt", "b.txt", "a.txt"}));
  auto unlimited = client("<action name='create'>" + create(a, 0) + "</action>", "<MaxDataPerFile value='-1'/>");
  unlimited->readActionSet();
  EXPECT_EQ(unlimited->smallUploads().size(), 1u);
}

TEST_F(Controller, DeletionsThatStopSayWhyAndHowManyWereLeftUndone) {
  // The delete-time limit of 0 is reached before the first deletion; no
  // service call is made.
  auto c = client("<action name='delete'><file path='c:\\a'/><file path='c:\\b'/><directory path='c:\\d'/></action>",
                  "<MaxDeleteTime value='0'/>");
  c->readActionSet();
  c->processActions();
  ZR::CLogManager::instance()->flush();
  std::string log = testsupport::readFile(dir_.file("velkan.log"));
  // The time spent is counted in whole seconds of the clock: a loaded
  // machine may cross a second's boundary before the check.
  const std::string start = "deletions stopped: Delete time limit of 0 is reached. Total time spent is ";
  const std::string end = ".; 3 of 3 deletions left undone";
  EXPECT_EQ(testsupport::countOf(log, start), 1u) << log;
  size_t at = log.find(start);
  ASSERT_NE(at, std::string::npos);
  size_t digits = log.find_first_not_of("0123456789", at + start.size());
  ASSERT_NE(digits, std::string::npos) << log;
  EXPECT_LE(digits - (at + start.size()), 1u) << log;
  EXPECT_EQ(log.compare(digits, end.size(), end), 0) << log;
  EXPECT_NE(log.substr(log.rfind('\n', at) + 1, at - log.rfind('\n', at)).find("[warning]"), std::string::npos);
}

TEST_F(Controller, UnreadableActionSets) {
  struct Case {
    std::string content;
    const char* outputFile;
    const char* message;
  } cases[] = {
      {"<action-set><action name='create'>", "<outputFile path='o'/>", "Loading of Action XML failed."},
      {"<action-set><action name='getContents'/></action-set>", "<outputFile path='o'/>",
       "Xml parsing error. Possibly invalid XML file."},
      // The output file is checked before the folder the action names.
      {"<action-set><action name='getContents'/></action-set>", "", "no output file present to store dir content."},
  };
  for (const Case& k : cases) {
    testsupport::writeFile(dir_.file("bad.xml"), k.content);
    testsupport::writeFile(dir_.file("cfg.xml"), "<CachingPolicyEngineConfiguration><cacheManagerClient server='x'>"
                                                 "<accessDocument path='a'/><actionset path='" + dir_.file("bad.xml") +
                                                 "'/>" + k.outputFile + "</cacheManagerClient></CachingPolicyEngineConfiguration>");
    CCMClient c(ZR::CRunContext::processDefaults());
    c.configure(dir_.file("cfg.xml"));
    try {
      c.readActionSet();
      ADD_FAILURE() << k.content;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), k.message);
    }
  }
}

TEST_F(Controller, AnActionSetOthersCanWriteIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows access lists are not examined";
#endif
  const std::string warning = "can be changed by other users";
  for (bool shared : {false, true}) {
    auto c = client("");
    ::chmod(dir_.file("actions.xml").c_str(), shared ? 0666 : 0600);
    c->readActionSet();
    ZR::CLogManager::instance()->flush();
    EXPECT_EQ(testsupport::countOf(testsupport::readFile(dir_.file("velkan.log")), warning), shared ? 1u : 0u);
  }
}

}  // namespace
