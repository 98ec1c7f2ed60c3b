#include "platform/testing/memory_env.h"

#include <gtest/gtest.h>

namespace {

using platform::DirectoryEntry;
using platform::MemoryEnv;

std::vector<std::string> namesIn(MemoryEnv& env, const std::string& folder) {
  std::vector<std::string> names;
  EXPECT_TRUE(env.listDirectory(folder, &names)) << folder;
  return names;
}

// The in-memory file system behaves as the tests that use it expect of a
// real one: folders hold only their direct children (names that sort
// around the separator included), writes are seen when closed, a rename
// replaces, an exclusive create refuses what is there.
TEST(MemoryEnv, BehavesLikeAFileSystemForWhatTestsAsk) {
  MemoryEnv env;
  env.addFile("/home/ann/a.txt", "alpha");
  env.addFile("/home/ann/sub/deep.txt", "deep");
  env.addFile("/home/ann b.txt", "beside");
  env.addFile("/home/ann-x/c.txt", "other folder");

  EXPECT_EQ(namesIn(env, "/home/ann"), (std::vector<std::string>{"a.txt", "sub"}));
  EXPECT_EQ(namesIn(env, "/home"), (std::vector<std::string>{"ann", "ann b.txt", "ann-x"}));
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(env.scanDirectory("/home/ann/", &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, DirectoryEntry::Kind::File);
  EXPECT_EQ(entries[0].info.size, 5u);
  EXPECT_EQ(entries[1].kind, DirectoryEntry::Kind::Directory);
  EXPECT_FALSE(env.scanDirectory("/home/none", &entries));

  std::unique_ptr<platform::WritableFile> out;
  ASSERT_TRUE(env.openWritable("/home/ann/new.txt", &out));
  ASSERT_TRUE(out->append("ne", 2));
  ASSERT_TRUE(out->append("w", 1));
  ASSERT_TRUE(out->close());
  EXPECT_EQ(env.contentOf("/home/ann/new.txt"), "new");
  EXPECT_FALSE(env.openWritable("/nowhere/x.txt", &out)) << "no folder, no file";
  EXPECT_EQ(env.createExclusive("/home/ann/a.txt", &out).code(), platform::Status::kExists);

  ASSERT_TRUE(env.renameFile("/home/ann/new.txt", "/home/ann/a.txt"));
  EXPECT_EQ(env.contentOf("/home/ann/a.txt"), "new");
  EXPECT_FALSE(env.fileExists("/home/ann/new.txt"));

  std::unique_ptr<platform::ReadableFile> in;
  ASSERT_TRUE(env.openReadable("/home/ann/sub/deep.txt", &in));
  char buffer[8] = {};
  ASSERT_TRUE(in->seek(2));
  EXPECT_EQ(in->read(buffer, sizeof buffer), 2);
  EXPECT_EQ(std::string(buffer, 2), "ep");

  ASSERT_TRUE(env.removeTree("/home/ann"));
  EXPECT_FALSE(env.fileExists("/home/ann/sub/deep.txt"));
  EXPECT_TRUE(env.fileExists("/home/ann b.txt"));
  EXPECT_TRUE(env.fileExists("/home/ann-x/c.txt"));
}

}  // namespace
