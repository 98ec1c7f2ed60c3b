#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/folder_watcher.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/unicode.h"
#include "tests/test_support.h"

namespace {

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

TEST(Path, IsBelowNeedsASeparatorAfterTheFolder) {
  struct Case {
    const char* path;
    const char* folder;
    bool below;
  } cases[] = {
      {"c:\\home\\ann\\a.doc", "c:\\home\\ann", true},
      {"/home/ann/a.doc", "/home/ann", true},
      {"c:\\home\\ann", "c:\\home\\ann", false},
      {"c:\\home\\anna\\a.doc", "c:\\home\\ann", false},
      {"c:\\home", "c:\\home\\ann", false},
      {"/home/ann2", "/home/ann", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::isBelow(c.path, c.folder), c.below) << c.path << " below " << c.folder;
}

TEST(Env, WrapperLetsATestBreakOneOperation) {
  class FullDisk : public platform::EnvWrapper {
   public:
    FullDisk() : EnvWrapper(platform::Env::defaultEnv()) {}
    platform::Status openWritable(const std::string&, std::unique_ptr<platform::WritableFile>*) override {
      return platform::Status::ioError("no space left on device");
    }
  } fullDisk;
  testsupport::TempDir dir;
  platform::ScopedEnvOverride override(&fullDisk);
  std::unique_ptr<platform::WritableFile> file;
  platform::Status opened = platform::env()->openWritable(dir.file("x"), &file);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(opened.code(), platform::Status::kIoError);
  EXPECT_EQ(opened.message(), "no space left on device");
  EXPECT_TRUE(platform::env()->fileExists(dir.path()));
}

TEST(Env, RemoveTreeAndCreateDirectories) {
  testsupport::TempDir dir;
  platform::Env* env = platform::Env::defaultEnv();
  ASSERT_TRUE(env->createDirectories(dir.file("a/b/c")));
  testsupport::writeFile(dir.file("a/b/c/f.txt"), "x");
  testsupport::writeFile(dir.file("a/g.txt"), "y");
  std::string content;
  ASSERT_TRUE(platform::readFileToString(dir.file("a/g.txt"), &content));
  EXPECT_EQ(content, "y");
  EXPECT_TRUE(env->removeTree(dir.file("a")));
  EXPECT_FALSE(env->fileExists(dir.file("a")));
  EXPECT_TRUE(env->removeTree(dir.file("never-there")));
  EXPECT_EQ(platform::readFileToString(dir.file("a"), &content).code(), platform::Status::kNotFound);
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

// A program that cannot be started says why, for the user's message; one
// that starts leaves no reason behind.
TEST(Process, AFailedStartSaysWhy) {
  testsupport::TempDir dir;
  const std::string self = platform::executablePath();
  const std::vector<std::string> quietSelf = {self, "--gtest_filter=NoSuchTest"};
  struct Case {
    const char* what;
    std::vector<std::string> argv;
    std::string folder;
    bool starts;
  } cases[] = {
      {"itself", quietSelf, "", true},
      {"a missing program", {dir.file("no-such-program")}, "", false},
      {"in a missing folder", quietSelf, dir.file("no-such-folder"), false},
  };
  for (const Case& c : cases) {
    platform::ProcessResult result;
    EXPECT_EQ(platform::runProcess(c.argv, {}, c.folder, &result), c.starts) << c.what;
    EXPECT_EQ(result.startError.empty(), c.starts) << c.what << ": " << result.startError;
    platform::ChildProcess child;
    EXPECT_EQ(child.start(c.argv, {}, c.folder), c.starts) << c.what;
    EXPECT_EQ(child.startError().empty(), c.starts) << c.what << ": " << child.startError();
    if (c.starts) {
      EXPECT_EQ(child.wait(), 0) << c.what;
    }
  }
}

}  // namespace

namespace {

// Hands out the changes it is given, one batch a wait.
class ScriptedWatcher : public platform::FolderWatcher {
 public:
  explicit ScriptedWatcher(std::vector<std::vector<platform::FolderChange>> batches) : batches_(std::move(batches)) {}
  platform::Status watchTree(const std::string&) override { return platform::Status::ok(); }
  platform::Status wait(int, std::vector<platform::FolderChange>* changes) override {
    if (next_ < batches_.size()) changes->insert(changes->end(), batches_[next_].begin(), batches_[next_].end());
    ++next_;
    return platform::Status::ok();
  }
  std::vector<std::string> unwatched() const override { return {}; }
  size_t watchedCount() const override { return 0; }

 private:
  std::vector<std::vector<platform::FolderChange>> batches_;
  size_t next_ = 0;
};

TEST(FolderWatcherQueue, MoreChangesThanTheQueueHoldsBecomeAnOverflowOfEveryTree) {
  std::vector<platform::FolderChange> three = {{"/a/1", false}, {"/a/2", false}, {"/b/3", false}};
  std::vector<platform::FolderChange> four = {{"/a/1", false}, {"/a/2", false}, {"/b/3", false}, {"/b/4", false}};
  auto watcher = platform::withQueueLimit(
      std::make_unique<ScriptedWatcher>(std::vector<std::vector<platform::FolderChange>>{three, four, {}}), 3);
  ASSERT_TRUE(watcher->watchTree("/a").isOk());
  ASSERT_TRUE(watcher->watchTree("/b").isOk());
  struct Case {
    std::vector<std::string> paths;
    bool overflow;
  } cases[] = {{{"/a/1", "/a/2", "/b/3"}, false}, {{"/a", "/b"}, true}, {{}, false}};
  for (const Case& c : cases) {
    std::vector<platform::FolderChange> changes;
    ASSERT_TRUE(watcher->wait(0, &changes).isOk());
    std::vector<std::string> paths;
    for (const platform::FolderChange& change : changes) {
      paths.push_back(change.path);
      EXPECT_EQ(change.overflow, c.overflow) << change.path;
    }
    EXPECT_EQ(paths, c.paths);
  }
}

}  // namespace
