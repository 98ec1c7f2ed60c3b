#include "engine/dornik.h"

#include <gtest/gtest.h>

#include <cctype>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/exception.h"
#include "bindings/zrcore/log.h"
#include "engine/policy_targets.h"
#include "platform/known_folders.h"
#include "platform/process.h"
#include "tests/test_support.h"

namespace {

using dornik::Settings;

TEST(Settings, DefaultsTableAndAllInclude) {
  Settings defaults = Settings::fromTable({});
  EXPECT_EQ(defaults.from_contentcleanup, "false");
  EXPECT_TRUE(defaults.allInclude());
  EXPECT_EQ(dornik::chooseMode(defaults), dornik::Mode::ActionSet);
  Settings s = Settings::fromTable({{"include_continous_create", "True"}, {"Dircontent", "ignored"}, {"dircontent", "d"}});
  EXPECT_FALSE(s.allInclude());
  EXPECT_EQ(s.dircontent, "d");
  s = Settings::fromTable({{"generate_action_set", "false"}, {"generate_unpersisted_dirs", "false"}});
  EXPECT_EQ(dornik::chooseMode(s), dornik::Mode::UnpersistedActionSet);
}

// The logical form of a special folder as targets get it: the system's
// folder on Windows, $HOME/<name> here (HOME is set to the test's folder).
std::string knownFolderText(platform::KnownFolder folder, const std::string& home, const char* name) {
#ifdef _WIN32
  (void)home;
  (void)name;
  std::string path = platform::knownFolderPath(folder);
  path[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
  return path;
#else
  (void)folder;
  return "c:" + home + "/" + name;
#endif
}

TEST(PolicyTargets, Normalisation) {
  testsupport::TempDir dir;
  testsupport::ScopedVariable home("HOME", dir.path());
  using platform::KnownFolder;
  struct Case {
    const char* target;
    std::string expected;
  } cases[] = {
      {"/c/Data", "c:\\Data"},
      {"\\d\\x", "d:\\x"},
      {"/C/Data", "C:\\Data"},
      {"/My Documents/Projects", knownFolderText(KnownFolder::Documents, dir.path(), "Documents") + "\\Projects"},
      {"/my music", knownFolderText(KnownFolder::Music, dir.path(), "Music")},
      {"/DESKTOP/a/b", knownFolderText(KnownFolder::Desktop, dir.path(), "Desktop") + "\\a\\b"},
      {"My Pictures", "My Pictures"},
      {"/x", "\\x"},
      {"", ""},
  };
  dornik::TargetNormaliser normaliser(nullptr);
  for (Case& c : cases) {
    for (char& ch : c.expected) ch = ch == '/' ? '\\' : ch;
    EXPECT_EQ(normaliser.normalise(c.target), c.expected) << c.target;
  }
}

class ActionSetModeFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::writeFile(dir_.file("cfg.xml"), "<CachingPolicyEngineConfiguration/>");
    ASSERT_TRUE(ZR::CConfigManager::initialize(1, dir_.file("cfg.xml"), false));
    ZR::CLogManager::initialize("dornik");
    testsupport::writeFile(dir_.file("dir.xml"),
                           "<dir-content><file path='c:/a'/><file path='c:/b'/><file path='c:/c'/></dir-content>");
    testsupport::writeFile(dir_.file("cache.xml"),
                           "<cache-content><file path='c:/a'><state>1</state></file><file path='c:/b'><state>1</state>"
                           "</file><file path='c:/c'><state>1</state></file></cache-content>");
    settings_.dircontent = dir_.file("dir.xml");
    settings_.cachecontent = dir_.file("cache.xml");
    settings_.actionset = dir_.file("out.xml");
  }
  void TearDown() override {
    ZR::CLogManager::shutdown();
    ZR::CConfigManager::reset();
  }
  testsupport::TempDir dir_;
  Settings settings_;
};

TEST_F(ActionSetModeFaults, CommonLibraryFaultInTheMergeEndsWith1AndWritesNothing) {
  ::testing::internal::CaptureStderr();
  int code = dornik::runActionSetMode(*platform::Env::defaultEnv(), settings_, *ZR::CLogManager::instance(),
                                      [](size_t) { throw ZR::CException("entry table damaged"); });
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "error: entry table damaged\n");
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(testsupport::fileExists(dir_.file("out.xml")));
}

TEST_F(ActionSetModeFaults, OtherFaultInTheMergeWarnsAndGoesOn) {
  auto failOnTheSecond = [](size_t merged) {
    if (merged == 2) throw std::bad_alloc();
  };
  int code =
      dornik::runActionSetMode(*platform::Env::defaultEnv(), settings_, *ZR::CLogManager::instance(), failOnTheSecond);
  EXPECT_EQ(code, 0);
  ZR::CLogManager::instance()->flush();
  EXPECT_NE(testsupport::readFile(dir_.file("dornik.log")).find("Unable to process XML files missing data in input."),
            std::string::npos);
  std::string out = testsupport::readFile(dir_.file("out.xml"));
  EXPECT_EQ(testsupport::countOf(out, "<file path=\"c:\\c\"/>"), 1u) << out;  // unmerged, so stale
}

}  // namespace
