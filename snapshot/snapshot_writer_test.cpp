#include "snapshot/snapshot_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/env.h"
#include "tests/test_support.h"

namespace dornik {
namespace {

// What the writer writes, the reader reads back: names XML must escape,
// names of other scripts, data present or left out.
TEST(SnapshotWriter, WhatItWritesIsReadBackEntryForEntry) {
  struct Case {
    const char* path;
    SnapshotFileData data;
    const char* wantState;  // what the reader makes of it
    const char* wantCacheSize;
  };
  const Case dirCases[] = {
      {"c:/docs/plain.txt", {"12", "1700000000", "", ""}, "2", ""},
      {"c:/docs/a & b <c> \"d\" 'e'.txt", {"0", "1", "", ""}, "2", ""},
      {"c:/docs/\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt", {"5", "", "", ""}, "2", ""},
  };
  const Case cacheCases[] = {
      {"c:/docs/plain.txt", {"12", "1700000000", "1", "7"}, "1", "7"},
      {"c:/docs/pending &amp; not.txt", {"3", "4", "2", ""}, "2", ""},
      {"c:/docs/no origin.txt", {"", "", "1", "9"}, "1", "9"},
  };
  testsupport::TempDir dir;
  for (bool cache : {false, true}) {
    SCOPED_TRACE(cache ? "cache content" : "directory content");
    const SnapshotKind& kind = cache ? kCacheContentKind : kDirContentKind;
    std::string path = dir.file(cache ? "cache.xml" : "dir.xml");
    SnapshotWriter out(*platform::Env::defaultEnv(), path, kind);
    out.directory("c:/docs");
    const Case* begin = cache ? cacheCases : dirCases;
    for (const Case* c = begin; c != begin + 3; ++c) out.file(c->path, c->data);
    ASSERT_TRUE(out.commit());

    EntrySet dirs, files;
    SnapshotReadResult read = readSnapshot(*platform::Env::defaultEnv(), path, kind, dirs, files);
    ASSERT_TRUE(read.parsed) << read.error;
    ASSERT_EQ(read.validation, 0);
    ASSERT_EQ(dirs.size(), 1u);
    ASSERT_EQ(files.size(), 3u);
    for (const Case* c = begin; c != begin + 3; ++c) {
      SCOPED_TRACE(c->path);
      auto found = std::find_if(files.begin(), files.end(),
                                [&](const ZR::CFileEntry& e) { return e.getPath() == normaliseFilePath(c->path); });
      ASSERT_NE(found, files.end());
      EXPECT_EQ(found->getOriginSize(), std::string(c->data.originSize));
      EXPECT_EQ(found->getDateModified(), std::string(c->data.originModified));
      EXPECT_EQ(found->getState(), c->wantState);
      EXPECT_EQ(found->getCacheSize(), c->wantCacheSize);
    }
  }
}

// Whole or not at all: an earlier snapshot stays until the new one is committed.
TEST(SnapshotWriter, NothingReplacesTheEarlierSnapshotBeforeCommit) {
  testsupport::TempDir dir;
  std::string path = dir.file("dir.xml");
  {
    SnapshotWriter first(*platform::Env::defaultEnv(), path, kDirContentKind);
    first.file("c:/a.txt", {"1", "2", "", ""});
    ASSERT_TRUE(first.commit());
  }
  EntrySet dirs, files;
  {
    SnapshotWriter second(*platform::Env::defaultEnv(), path, kDirContentKind);
    for (int i = 0; i < 30000; ++i) second.file("c:/many/f" + std::to_string(i) + ".txt", {"1", "2", "", ""});
    ASSERT_TRUE(readSnapshot(*platform::Env::defaultEnv(), path, kDirContentKind, dirs, files).parsed);
    EXPECT_EQ(files.size(), 1u);  // more than a drain's worth was written, not yet in place
    ASSERT_TRUE(second.commit());
  }
  ASSERT_TRUE(readSnapshot(*platform::Env::defaultEnv(), path, kDirContentKind, dirs, files).parsed);
  EXPECT_EQ(files.size(), 30000u);
}

TEST(SnapshotWriter, AFolderThatCannotBeWrittenIsNamed) {
  testsupport::TempDir dir;
  std::string path = dir.file("missing/folder/dir.xml");
  SnapshotWriter out(*platform::Env::defaultEnv(), path, kDirContentKind);
  out.file("c:/a.txt", {"1", "2", "", ""});
  platform::Status written = out.commit();
  EXPECT_FALSE(written);
  EXPECT_NE(written.message().find(path), std::string::npos) << written.message();
}

}  // namespace
}  // namespace dornik
