// The walk over links and special files, which only POSIX systems make
// this way in a test.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "agent/folder_scan.h"
#include "platform/env.h"
#include "tests/test_support.h"

namespace {

using testsupport::writeFile;

// The files a walk told of.
class FileNames : public agent::ScanSink {
 public:
  void folder(std::string_view) override {}
  void file(std::string_view path, uint64_t, int64_t) override { files.emplace(path); }
  std::set<std::string> files;
};

class FolderScanPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.file("ann");
    platform::Env::defaultEnv()->createDirectories(root_ + "/docs/sub");
    writeFile(root_ + "/docs/a.txt", "hello");
    watch_.hostPath = root_;
    watch_.logicalPath = "c:\\home\\ann";
  }
  testsupport::TempDir dir_;
  std::string root_;
  agent::WatchedFolder watch_;
};

TEST_F(FolderScanPosix, LinksAreNeverFollowedAndSkipsByRuleAreCountedApartFromProblems) {
  writeFile(dir_.file("outside.txt"), "secret");
  ASSERT_EQ(::symlink("..", (root_ + "/docs/sub/loop").c_str()), 0);
  ASSERT_EQ(::symlink((root_ + "/docs/a.txt").c_str(), (root_ + "/inside-link.txt").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.file("outside.txt").c_str(), (root_ + "/outside-link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (root_ + "/dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((root_ + "/pipe").c_str(), 0600), 0);
  FileNames sink;
  agent::ScanResult result;
  ASSERT_TRUE(agent::scanFolders(*platform::Env::defaultEnv(), {watch_}, sink, result));
  EXPECT_EQ(sink.files, (std::set<std::string>{"c:\\home\\ann\\docs\\a.txt"}));
  EXPECT_EQ(result.problems.size(), 5u);  // loop, inside, outside, dangling, pipe: none of them a file left out
  EXPECT_FALSE(result.incomplete());
  for (const auto& problem : result.problems) EXPECT_FALSE(problem.reason.empty()) << problem.path;
  using Counts = std::vector<std::pair<std::string, uint64_t>>;
  Counts counts = result.skipsByRule();
  std::sort(counts.begin(), counts.end());
  EXPECT_EQ(counts, (Counts{{"a dangling link", 1}, {"a link out of the watched folders", 1}, {"a link to a file", 1},
                            {"a link to a folder", 1}, {"a pipe, device or socket", 1}}));
  // What the cache holds at a link's place is kept.
  std::set<std::string> kept(result.unreadable.begin(), result.unreadable.end());
  EXPECT_TRUE(kept.count("c:\\home\\ann\\docs\\sub\\loop"));
  EXPECT_TRUE(kept.count("c:\\home\\ann\\inside-link.txt"));
}

}  // namespace
