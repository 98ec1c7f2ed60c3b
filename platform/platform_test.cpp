#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/special_folders.h"
#include "platform/sync.h"
#include "platform/unicode.h"
#include "tests/test_support.h"

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, const std::string& value)
      : name_(std::move(name)), old_(platform::environmentVariable(name_)) {
    platform::setEnvironmentVariable(name_, value);
  }
  ~ScopedVariable() { platform::setEnvironmentVariable(name_, old_); }

 private:
  std::string name_;
  std::string old_;
};

TEST(HostPath, MapsDrivesAndSeparators) {
  ScopedVariable d("VELKAN_DRIVE_D", "/mnt/data/");
  ScopedVariable c("VELKAN_DRIVE_C", "");
  struct Case {
    const char* logical;
    const char* host;
  } cases[] = {
      {"c:\\home\\ann\\a.doc", "/home/ann/a.doc"},
      {"C:\\home\\ann\\a.doc", "/home/ann/a.doc"},
      {"d:\\Music\\song.mp3", "/mnt/data/Music/song.mp3"},
      {"D:Music", "/mnt/data/Music"},
      {"/already/host/path", "/already/host/path"},
      {"status\\cs_curpolicy.xml", "status/cs_curpolicy.xml"},
      {"c:", "/"},
  };
  for (const Case& c1 : cases) EXPECT_EQ(platform::hostPath(c1.logical), c1.host) << c1.logical;
}

TEST(HostPath, LogicalPathIsTheInverseUnderTheLongestRoot) {
  ScopedVariable d("VELKAN_DRIVE_D", "/mnt/data");
  ScopedVariable e("VELKAN_DRIVE_E", "/mnt/data/deeper");
  EXPECT_EQ(platform::logicalPath("/home/ann/Documents"), "c:\\home\\ann\\Documents");
  EXPECT_EQ(platform::logicalPath("/mnt/data/x"), "d:\\x");
  EXPECT_EQ(platform::logicalPath("/mnt/data/deeper/y"), "e:\\y");
  EXPECT_EQ(platform::logicalPath("/mnt/database"), "c:\\mnt\\database");
  EXPECT_EQ(platform::hostPath(platform::logicalPath("/mnt/data/x/y.txt")), "/mnt/data/x/y.txt");
}

TEST(Unicode, RoundTripsAndReplacesMalformedBytes) {
  std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
  std::u16string wide = platform::utf8ToUtf16(text);
  EXPECT_EQ(wide.size(), 5u);  // the emoji needs a surrogate pair
  EXPECT_EQ(platform::utf16ToUtf8(wide), text);
  EXPECT_EQ(platform::wideToUtf8(platform::utf8ToWide(text)), text);
  EXPECT_EQ(platform::utf8ToUtf16("\xFF" "b"), u"\uFFFD" "b");
  EXPECT_EQ(platform::utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong "/"
  EXPECT_EQ(platform::utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");   // cut short
}

TEST(SpecialFolders, ReadsXdgUserDirsAndFallsBackToHome) {
  testsupport::TempDir dir;
  ScopedVariable home("HOME", dir.path());
  ScopedVariable config("XDG_CONFIG_HOME", dir.file("config"));
  testsupport::writeFile(dir.file("config/user-dirs.dirs"),
                         "# written by xdg-user-dirs-update\n"
                         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                         "XDG_MUSIC_DIR=\"/srv/music/\"\n"
                         "XDG_DESKTOP_DIR=\"relative/not/allowed\"\n");
  EXPECT_EQ(platform::specialFolderPath(platform::SpecialFolder::Documents), dir.path() + "/Dokumente");
  EXPECT_EQ(platform::specialFolderPath(platform::SpecialFolder::Music), "/srv/music");
  EXPECT_EQ(platform::specialFolderPath(platform::SpecialFolder::Pictures), dir.path() + "/Pictures");
  EXPECT_EQ(platform::specialFolderPath(platform::SpecialFolder::Desktop), dir.path() + "/Desktop");
}

TEST(Env, WrapperLetsATestBreakOneOperation) {
  class FullDisk : public platform::EnvWrapper {
   public:
    FullDisk() : EnvWrapper(platform::Env::defaultEnv()) {}
    std::unique_ptr<platform::WritableFile> openWritable(const std::string&, std::string* error) override {
      *error = "no space left on device";
      return nullptr;
    }
  } fullDisk;
  testsupport::TempDir dir;
  platform::ScopedEnvOverride override(&fullDisk);
  std::string error;
  EXPECT_EQ(platform::env()->openWritable(dir.file("x"), &error), nullptr);
  EXPECT_EQ(error, "no space left on device");
  EXPECT_TRUE(platform::env()->fileExists(dir.path()));
}

TEST(Env, RemoveTreeAndCreateDirectories) {
  testsupport::TempDir dir;
  platform::Env* env = platform::Env::defaultEnv();
  ASSERT_TRUE(env->createDirectories(dir.file("a/b/c")));
  testsupport::writeFile(dir.file("a/b/c/f.txt"), "x");
  testsupport::writeFile(dir.file("a/g.txt"), "y");
  std::string content, error;
  ASSERT_TRUE(platform::readFileToString(dir.file("a/g.txt"), &content, &error));
  EXPECT_EQ(content, "y");
  EXPECT_TRUE(env->removeTree(dir.file("a")));
  EXPECT_FALSE(env->fileExists(dir.file("a")));
  EXPECT_TRUE(env->removeTree(dir.file("never-there")));
  EXPECT_FALSE(platform::readFileToString(dir.file("a"), &content, &error));
}

TEST(NamedMutex, ExcludesAnotherHolderUntilReleased) {
  std::string name = "zr-test-mutex-" + std::to_string(platform::processId());
  platform::NamedMutex first(name);
  ASSERT_TRUE(first.lock());
  std::atomic<bool> secondHolds{false};
  std::thread other([&] {
    platform::NamedMutex second(name);
    second.lock();
    secondHolds = true;
  });  // `second` ends its hold when destroyed
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(secondHolds.load());
  first.unlock();
  other.join();
  EXPECT_TRUE(secondHolds.load());
  platform::NamedMutex third(name);
  EXPECT_TRUE(third.lock());  // destruction released the second hold
}

TEST(NamedEvent, SignalWakesOneWaitAndDoesNotAccumulate) {
  std::string name = "zr-test-event-" + std::to_string(platform::processId());
  platform::NamedEvent sender(name);
  platform::NamedEvent receiver(name);
  ASSERT_TRUE(sender.valid());
  EXPECT_FALSE(receiver.wait(20));
  sender.signal();
  sender.signal();
  EXPECT_TRUE(receiver.wait(1000));
  EXPECT_FALSE(receiver.wait(20));  // two signals before a wait count once
}

TEST(RunProcess, CollectsOutputAndExitCode) {
  auto result = testsupport::run({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, {{"ZR_X", "1"}});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.standardOutput, "out\n");
  EXPECT_EQ(result.standardError, "err\n");
}

}  // namespace
