#include "agent/watch_command.h"

#include <gtest/gtest.h>

#include "platform/env.h"
#include "tests/test_support.h"

namespace {

class WatchParts : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"home/docs/sub", "home/cache", "share", "home/.work/status"}) {
      platform::Env::defaultEnv()->createDirectories(dir_.file(folder));
    }
    config_.workFolder = dir_.file("home/.work");
    config_.dirContent = dir_.file("share/dir.xml");
    config_.watches = {{dir_.file("home"), "c:\\home", {"*.tmp", "cache"}},
                       {dir_.file("share"), "c:\\share", {}},
                       {dir_.file("home/docs/sub"), "c:\\sub", {}}};
  }
  testsupport::TempDir dir_;
  agent::AgentConfig config_;
};

TEST_F(WatchParts, AChangeIsLookedForInTheNearestFolderThatIsThere) {
  struct Case {
    const char* changed;
    const char* folder;  // "" when nothing is to be looked through
  } cases[] = {
      {"home/docs/a.txt", "home/docs"},
      {"home/docs", "home"},                     // a folder made, renamed or deleted: its parent
      {"home/gone/deeper/a.txt", "home"},        // below a folder deleted since
      {"home", "home"},                          // the watched folder itself
      {"home/docs/sub/b.txt", "home/docs/sub"},  // the innermost watched folder holds it
      {"share/x", "share"},
      {"home/.work/status/progress.xml", ""},  // our own files, in a watched folder
      {"share/dir.xml", ""},
      {"share/dir.xml.tmp-1234", ""},
      {"elsewhere/a.txt", ""},
  };
  for (const Case& c : cases) {
    std::string expected = *c.folder ? dir_.file(c.folder) : "";
    EXPECT_EQ(agent::folderToLookThrough(*platform::Env::defaultEnv(), config_, dir_.file(c.changed)), expected)
        << c.changed;
  }
}

TEST_F(WatchParts, PartsInsideOthersAndExcludedOnesAreLeftOut) {
  std::vector<agent::WatchedFolder> parts =
      agent::partsToLookThrough(config_, {dir_.file("home/docs/sub"), dir_.file("home/docs"), dir_.file("home/cache"),
                                          dir_.file("share"), dir_.file("elsewhere")});
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].hostPath, dir_.file("home/docs"));
  EXPECT_EQ(parts[0].logicalPath, "c:\\home\\docs");
  EXPECT_EQ(parts[0].below, "docs");
  EXPECT_EQ(parts[0].excludes, (std::vector<std::string>{"*.tmp", "cache"}));
  EXPECT_EQ(parts[1].hostPath, dir_.file("share"));
  EXPECT_EQ(parts[1].logicalPath, "c:\\share");
  EXPECT_EQ(parts[1].below, "");
}

TEST(PendingChanges, AFolderIsDueWhenQuietOrWhenItHasWaitedLongest) {
  agent::PendingChanges pending;
  pending.add("/a", 0);
  pending.add("/b", 0);
  for (uint64_t t = 500; t <= 4000; t += 500) pending.add("/b", t);  // never quiet
  struct Case {
    uint64_t now;
    std::vector<std::string> due;
    int64_t untilDue;
  } cases[] = {
      {1000, {}, 1000},  // /a is quiet from 2000
      {2000, {"/a"}, 0},
      {4000, {"/a"}, 0},
      {5000, {"/a", "/b"}, 0},  // /b has waited the longest delay
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pending.due(c.now, 2000, 5000), c.due) << c.now;
    EXPECT_EQ(pending.msUntilDue(c.now, 2000, 5000), c.untilDue) << c.now;
  }
  pending.remove({"/a", "/b"});
  EXPECT_EQ(pending.msUntilDue(0, 2000, 5000), -1);
}

TEST(PendingChanges, WhatWaitsSurvivesARestart) {
  testsupport::TempDir dir;
  platform::Env& env = *platform::Env::defaultEnv();
  agent::PendingChanges pending;
  pending.add("/home/ann/docs", 1);
  pending.add("/home/ann/a folder with spaces", 2);
  ASSERT_TRUE(pending.save(env, dir.file("pending.txt")).isOk());
  agent::PendingChanges again;
  ASSERT_TRUE(again.load(env, dir.file("pending.txt"), 100).isOk());
  EXPECT_EQ(again.folders(), pending.folders());
  EXPECT_EQ(again.due(2100, 2000, 60000), again.folders());  // taken as changed at the start
  agent::PendingChanges none;
  EXPECT_TRUE(none.load(env, dir.file("missing.txt"), 0).isOk());
  EXPECT_EQ(none.size(), 0u);
}

}  // namespace
