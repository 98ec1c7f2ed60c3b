#include "platform/folder_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/test_support.h"

namespace {

using platform::FolderChange;

class FolderWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_->createDirectories(dir_.file("tree/a/b"));
    ASSERT_TRUE(platform::createFolderWatcher(&watcher_).isOk());
    ASSERT_TRUE(watcher_->watchTree(dir_.file("tree")).isOk());
  }
  // The changes that come within a second or two, by path.
  std::vector<std::string> changedPaths() {
    std::vector<std::string> paths;
    uint64_t until = platform::tickCountMs() + 2000;
    while (platform::tickCountMs() < until) {
      std::vector<FolderChange> changes;
      EXPECT_TRUE(watcher_->wait(paths.empty() ? 1000 : 200, &changes).isOk());
      if (changes.empty() && !paths.empty()) break;
      for (const FolderChange& change : changes) {
        std::string path = change.path;
        std::replace(path.begin(), path.end(), '\\', '/');
        paths.push_back(path);
      }
    }
    return paths;
  }
  bool saw(const std::vector<std::string>& paths, const std::string& name) {
    std::string path = dir_.file("tree/" + name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  }
  platform::Env* env_ = platform::Env::defaultEnv();
  testsupport::TempDir dir_;
  std::unique_ptr<platform::FolderWatcher> watcher_;
};

TEST_F(FolderWatcherTest, EveryKindOfChangeNamesWhatChanged) {
  if (testsupport::runningUnderWine()) {
    GTEST_SKIP() << "wine tells of changes only in folders made after the watch began";
  }
  struct Case {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> seen;
  };
  const std::vector<Case> cases = {
      {"a file created", [&] { testsupport::writeFile(dir_.file("tree/a/new.txt"), "x"); }, {"a/new.txt"}},
      {"a file written", [&] { testsupport::writeFile(dir_.file("tree/a/new.txt"), "longer"); }, {"a/new.txt"}},
      {"a file renamed",
       [&] { env_->renameFile(dir_.file("tree/a/new.txt"), dir_.file("tree/a/b/moved.txt")); },
       {"a/new.txt", "a/b/moved.txt"}},
      {"a file deleted", [&] { env_->removeFile(dir_.file("tree/a/b/moved.txt")); }, {"a/b/moved.txt"}},
      {"a folder made", [&] { env_->createDirectories(dir_.file("tree/c/d")); }, {"c"}},
      {"a file in the new folder", [&] { testsupport::writeFile(dir_.file("tree/c/d/in.txt"), "y"); }, {"c/d/in.txt"}},
      {"a folder moved in",
       [&] {
         env_->createDirectories(dir_.file("outside/e/f"));
         env_->renameFile(dir_.file("outside/e"), dir_.file("tree/e"));
       },
       {"e"}},
      {"a file in the moved-in folder",
       [&] { testsupport::writeFile(dir_.file("tree/e/f/g.txt"), "z"); },
       {"e/f/g.txt"}},
      {"a folder deleted", [&] { env_->removeTree(dir_.file("tree/c")); }, {"c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.act();
    std::vector<std::string> paths = changedPaths();
    for (const std::string& name : c.seen) EXPECT_TRUE(saw(paths, name)) << name;
  }
  EXPECT_TRUE(watcher_->unwatched().empty());
}

// What wine, too, tells: the records of a read are taken apart into paths.
TEST_F(FolderWatcherTest, AFolderMadeInTheTreeIsTold) {
  env_->createDirectories(dir_.file("tree/made"));
  EXPECT_TRUE(saw(changedPaths(), "made"));
}

TEST_F(FolderWatcherTest, NothingChangingWaitsQuietlyForTheTimeOut) {
  uint64_t started = platform::tickCountMs();
  std::vector<FolderChange> changes;
  ASSERT_TRUE(watcher_->wait(300, &changes).isOk());
  EXPECT_TRUE(changes.empty());
  EXPECT_GE(platform::tickCountMs() - started, 250u);
#ifdef _WIN32
  EXPECT_EQ(watcher_->watchedCount(), 1u);  // the tree, whole
#else
  EXPECT_EQ(watcher_->watchedCount(), 3u);  // tree, a, b
#endif
}

TEST_F(FolderWatcherTest, AFolderThatIsNotThereCannotBeWatched) {
  platform::Status watched = watcher_->watchTree(dir_.file("missing"));
  EXPECT_FALSE(watched.isOk());
  EXPECT_NE(watched.message().find("missing"), std::string::npos) << watched.message();
}

}  // namespace
