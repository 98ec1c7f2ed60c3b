#include "agent/backup.h"

#include <gtest/gtest.h>

#include "actionset/action_set_file.h"
#include "agent/console.h"
#include "tests/test_support.h"

namespace {

std::string deleteAndCreate(const std::vector<std::string>& deleted,
                            const std::vector<std::pair<std::string, std::string>>& created) {
  std::string xml = "<action-set><action name=\"delete\">";
  for (const std::string& path : deleted) xml += "<file path=\"" + path + "\"/>";
  xml += "</action><action name=\"create\">";
  for (const auto& [path, offset] : created) {
    xml += "<file path=\"" + path + "\"><offset value=\"" + offset + "\"/><mimeType name=\"text/plain\"/></file>";
  }
  return xml + "<directory path=\"c:\\home\\ann\\docs\"><offset value=\"0\"/></directory></action></action-set>";
}

TEST(BackupPlan, SortsAnActionSetIntoNewChangedGoneAndUnchanged) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("a.xml"), deleteAndCreate({"c:\\home\\ann\\gone.txt", "c:\\home\\ann\\changed.txt"},
                                                            {{"c:\\home\\ann\\new.txt", "0"},
                                                             {"c:\\home\\ann\\changed.txt", "120"},
                                                             {"c:\\home\\ann\\same.txt", "40"}}));
  agent::BackupPlan plan;
  ASSERT_TRUE(agent::readPlan(*platform::Env::defaultEnv(), dir.file("a.xml"), plan));
  EXPECT_EQ(plan.newFiles, std::vector<std::string>{"c:\\home\\ann\\new.txt"});
  EXPECT_EQ(plan.changedFiles, std::vector<std::string>{"c:\\home\\ann\\changed.txt"});
  EXPECT_EQ(plan.deletedFiles, std::vector<std::string>{"c:\\home\\ann\\gone.txt"});
  EXPECT_EQ(plan.unchangedFiles, 1u);
  agent::BackupPlan none;
  EXPECT_FALSE(agent::readPlan(*platform::Env::defaultEnv(), dir.file("missing.xml"), none));
}

TEST(DeletionGuard, StopsLargeShareAndEmptiedFoldersUnlessTheyAreFew) {
  agent::AgentConfig config;
  config.watches = {{"/home/ann", "c:\\home\\ann", {}}, {"/srv/share", "c:\\srv\\share", {}}};
  config.maxDeletePercent = 50;
  std::vector<agent::CachedFile> cached;
  for (int i = 0; i < 10; ++i) cached.push_back({"c:\\home\\ann\\docs\\f" + std::to_string(i), 1, "1", "1", "", "", false, 0});
  cached.push_back({"c:\\srv\\share\\s.txt", 1, "1", "1", "", "", false, 0});
  agent::ScanResult scan;
  scan.filesPerWatch = {{"c:\\home\\ann", 8}, {"c:\\srv\\share", 1}};
  struct Case {
    size_t deletions;
    uint64_t shareFiles;
    int maxPercent;
    bool refused;
  } cases[] = {
      {0, 1, 50, false},  {2, 1, 50, false}, {6, 1, 50, true},  // 6 of 11 is 54 %
      {6, 1, 60, false},  {1, 0, 50, true},                     // a watched folder emptied
      {0, 0, 50, false},                                        // emptied, but nothing to delete
  };
  for (const Case& c : cases) {
    agent::BackupPlan plan;
    for (size_t i = 0; i < c.deletions; ++i) plan.deletedFiles.push_back(cached[i].path);
    scan.filesPerWatch[1].second = c.shareFiles;
    config.maxDeletePercent = c.maxPercent;
    std::string why = agent::deletionGuard(config, plan, cached, scan);
    EXPECT_EQ(!why.empty(), c.refused) << c.deletions << " deletions: " << why;
    if (c.refused && c.shareFiles > 0) {
      EXPECT_NE(why.find("c:\\home\\ann\\docs ("), std::string::npos) << why;
    }
  }
}

// Many cached files replaced at once stop the backup; a few edits never
// do, whatever their share of a small tree.
TEST(ChangeGuard, StopsALargeShareOfReplacementsButNotAFewEdits) {
  agent::AgentConfig config;
  config.watches = {{"/home/ann", "c:\\home\\ann", {}}};
  std::vector<agent::CachedFile> cached;
  for (int i = 0; i < 40; ++i) cached.push_back({"c:\\home\\ann\\docs\\f" + std::to_string(i), 1, "1", "1", "", "", false, 0});
  struct Case {
    size_t cachedCount, changed;
    int maxPercent;
    bool refused;
  } cases[] = {
      {40, 21, 50, true},  {40, 20, 50, false}, {40, 21, 60, false},
      {12, 11, 50, true},  {12, 10, 50, false},  // a handful, even of a small tree
      {3, 3, 50, false},   {40, 40, 100, false},
  };
  for (const Case& c : cases) {
    std::vector<agent::CachedFile> some(cached.begin(), cached.begin() + static_cast<long>(c.cachedCount));
    agent::BackupPlan plan;
    for (size_t i = 0; i < c.changed; ++i) plan.changedFiles.push_back(some[i].path);
    config.maxChangePercent = c.maxPercent;
    for (bool history : {true, false}) {
      std::string why = agent::changeGuard(config, plan, some, {}, history);
      EXPECT_EQ(!why.empty(), c.refused) << c.changed << " of " << c.cachedCount << ": " << why;
      if (!c.refused) continue;
      EXPECT_NE(why.find("c:\\home\\ann\\docs ("), std::string::npos) << why;
      EXPECT_NE(why.find(history ? "keeps the versions" : "keeps no history"), std::string::npos) << why;
    }
  }
}

// Files that now look random stop the backup when there are more than a
// handful, even when they are a small share of the cache.
TEST(ChangeGuard, StopsManyFilesThatTurnedRandom) {
  agent::AgentConfig config;
  config.watches = {{"/home/ann", "c:\\home\\ann", {}}};
  std::vector<agent::CachedFile> cached(1000);
  agent::BackupPlan plan;
  for (size_t i = 0; i < cached.size(); ++i) cached[i].path = "c:\\home\\ann\\f" + std::to_string(i);
  for (size_t i = 0; i < 100; ++i) plan.changedFiles.push_back(cached[i].path);
  struct Case {
    size_t garbled;
    bool refused;
  } cases[] = {{0, false}, {10, false}, {11, true}, {100, true}};
  for (const Case& c : cases) {
    std::vector<std::string> garbled(plan.changedFiles.begin(),
                                     plan.changedFiles.begin() + static_cast<long>(c.garbled));
    std::string why = agent::changeGuard(config, plan, cached, garbled, false);
    EXPECT_EQ(!why.empty(), c.refused) << c.garbled << ": " << why;
    if (c.refused) {
      EXPECT_NE(why.find("looks random"), std::string::npos) << why;
    }
  }
}

TEST(Console, SizesDurationsAndCountsReadAsPeopleWriteThem) {
  EXPECT_EQ(agent::humanBytes(0), "0 B");
  EXPECT_EQ(agent::humanBytes(1023), "1023 B");
  EXPECT_EQ(agent::humanBytes(1536), "1.5 KB");
  EXPECT_EQ(agent::humanBytes(5u << 20), "5.0 MB");
  EXPECT_EQ(agent::humanBytes(uint64_t{3} << 30), "3.0 GB");
  EXPECT_EQ(agent::humanDuration(400), "0.4 s");
  EXPECT_EQ(agent::humanDuration(245000), "4 min 05 s");
  EXPECT_EQ(agent::humanDuration(7380000), "2 h 03 min");
  EXPECT_EQ(agent::humanCount(1234567), "1,234,567");
  EXPECT_EQ(agent::humanCount(999), "999");
}

TEST(Console, TheProgressLineTellsCountsBytesRateTimeLeftAndTheFile) {
  velkan::ProgressReport report;
  report.filesDone = 40;
  report.filesToDo = 100;
  report.bytesDone = 10 << 20;
  report.bytesToDo = 30 << 20;
  report.rate = 2 << 20;
  report.currentPath = "c:\\docs\\report.txt";
  report.currentSize = 200;
  report.currentSent = 50;
  EXPECT_EQ(agent::progressLine(report, 120, 10000),
            "uploading 40/100 files, 10.0 MB of 30.0 MB, 2.0 MB/s, 10.0 s left: c:\\docs\\report.txt 25%");
  report.currentPath.clear();
  report.filesToDo = 1;
  report.filesDone = 0;
  EXPECT_EQ(agent::progressLine(report, 120, -1), "uploading 0/1 file, 10.0 MB of 30.0 MB, 2.0 MB/s");
}

// Characters, as a terminal's columns count them.
size_t columns(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// Whatever the terminal's width and the line's content, the line fits
// without wrapping (one column is left free) and never throws.
TEST(Console, TheProgressLineFitsEveryWidth) {
  velkan::ProgressReport full;
  full.filesDone = 3002;
  full.filesToDo = 123456;
  full.filesFailed = 7;
  full.bytesDone = uint64_t{1} << 40;
  full.bytesToDo = uint64_t{3} << 40;
  full.rate = 12345678;
  full.currentPath = "c:\\home\\ann\\" + std::string(60, 'x') + "\\caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt";
  full.currentSize = 1000;
  full.currentSent = 10;
  velkan::ProgressReport starting;
  velkan::ProgressReport interrupted = full;
  interrupted.state = "interrupted";
  struct Case {
    const char* name;
    const velkan::ProgressReport* report;
  } cases[] = {{"uploading", &full}, {"starting", &starting}, {"interrupted", &interrupted}};
  for (const Case& c : cases) {
    for (size_t width : {0u, 1u, 10u, 79u, 80u, 88u, 89u, 120u, 220u}) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(width) + " columns");
      std::string line;
      ASSERT_NO_THROW(line = agent::progressLine(*c.report, width, 61000));
      EXPECT_LE(columns(line), width > 0 ? width - 1 : 0) << line;
      const char* first = c.report == &starting ? "starting" : c.report == &full ? "uploading" : "interrupted";
      if (width >= 80) {
        EXPECT_EQ(line.rfind(first, 0), 0u) << line;
      }
    }
  }
  EXPECT_NE(agent::progressLine(full, 220, 61000).find("\xE6\x97\xA5\xE6\x9C\xAC.txt 1%"), std::string::npos);
  EXPECT_EQ(agent::progressLine(interrupted, 220, 61000), "interrupted after 3,002 of 123,456 files, 7 failed");
}

TEST(Console, TimeLeftWaitsForAFewSecondsAndCountsWhatIsUnderWay) {
  agent::TimeLeft estimate;
  estimate.sample(1000, 0, 100000);
  estimate.sample(3000, 20000, 100000);
  EXPECT_EQ(estimate.leftMs(), -1) << "too early to tell";
  for (uint64_t t = 4000; t <= 9000; t += 1000) estimate.sample(t, (t - 1000) * 10, 100000);
  EXPECT_GT(estimate.leftMs(), 1000);
  EXPECT_LT(estimate.leftMs(), 5000);
}

TEST(Console, NamesThatAreNotUtf8AreEscapedAndCountsAgree) {
  EXPECT_EQ(agent::printable("caf\xE9.txt"), "caf\\xE9.txt");
  EXPECT_EQ(agent::printable("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(agent::printable(std::string("a\x01" "b")), "a\\x01b");
  EXPECT_EQ(agent::countOf(1, "file", "files"), "1 file");
  EXPECT_EQ(agent::countOf(2000, "file", "files"), "2,000 files");
}

}  // namespace
