// What replacing a file keeps on POSIX: who may read it, and links to it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bindings/zrcore/file.h"
#include "tests/test_support.h"

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(AtomicFilePosix, KeepsThePermissionBitsOfTheOldFile) {
  testsupport::TempDir dir;
  for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0444}}) {
    std::string path = dir.file("actions-" + std::to_string(mode) + ".xml");
    testsupport::writeFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    std::string error;
    ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(*platform::env(), path, "new private paths", error)) << error;
    EXPECT_EQ(testsupport::readFile(path), "new private paths");
    EXPECT_EQ(modeOf(path), mode) << std::oct << mode;
  }
}

TEST(AtomicFilePosix, WritesThroughSymbolicLinks) {
  testsupport::TempDir dir;
  ::mkdir(dir.file("real").c_str(), 0700);
  testsupport::writeFile(dir.file("real/target.xml"), "old");
  ASSERT_EQ(::chmod(dir.file("real/target.xml").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("real/target.xml", dir.file("relative.xml").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("relative.xml").c_str(), dir.file("chain.xml").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("real/new.xml").c_str(), dir.file("dangling.xml").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("loop-b").c_str(), dir.file("loop-a").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("loop-a").c_str(), dir.file("loop-b").c_str()), 0);
  std::string error;
  for (const char* link : {"relative.xml", "chain.xml"}) {
    ASSERT_TRUE(
        ZR::CFileUtils::writeFileAtomically(*platform::env(), dir.file(link), std::string("via ") + link, error))
        << error;
    struct stat st;
    ASSERT_EQ(::lstat(dir.file(link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link << " is still a link";
    EXPECT_EQ(testsupport::readFile(dir.file("real/target.xml")), std::string("via ") + link);
    EXPECT_EQ(modeOf(dir.file("real/target.xml")), mode_t{0600});
  }
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(*platform::env(), dir.file("dangling.xml"), "created", error))
      << error;
  EXPECT_EQ(testsupport::readFile(dir.file("real/new.xml")), "created");
  // A loop of links is no file to write through: the name itself is replaced.
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(*platform::env(), dir.file("loop-a"), "plain", error)) << error;
  EXPECT_EQ(testsupport::readFile(dir.file("loop-a")), "plain");
}

}  // namespace
