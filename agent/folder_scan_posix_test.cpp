// The walk over links and special files, which only POSIX systems make
// this way in a test.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

TEST_F(FolderScanPosix, LinksAreFollowedOnlyToFilesInsideAndSpecialFilesAreReported) {
  writeFile(dir_.file("outside.txt"), "secret");
  ASSERT_EQ(::symlink("../docs", (root_ + "/docs/sub/loop").c_str()), 0);
  ASSERT_EQ(::symlink((root_ + "/docs/a.txt").c_str(), (root_ + "/inside-link.txt").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.file("outside.txt").c_str(), (root_ + "/outside-link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (root_ + "/dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((root_ + "/pipe").c_str(), 0600), 0);
  FileNames sink;
  agent::ScanResult result;
  ASSERT_TRUE(agent::scanFolders({watch_}, sink, result));
  EXPECT_TRUE(sink.files.count("c:\\home\\ann\\inside-link.txt"));
  EXPECT_FALSE(sink.files.count("c:\\home\\ann\\outside-link.txt"));
  EXPECT_EQ(result.problems.size(), 4u);  // loop, outside, dangling, pipe: none of them a file left out
  EXPECT_FALSE(result.incomplete());
  for (const auto& problem : result.problems) EXPECT_FALSE(problem.reason.empty()) << problem.path;
}

}  // namespace
