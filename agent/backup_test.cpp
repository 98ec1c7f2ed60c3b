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
  ASSERT_TRUE(agent::readPlan(dir.file("a.xml"), plan));
  EXPECT_EQ(plan.newFiles, std::vector<std::string>{"c:\\home\\ann\\new.txt"});
  EXPECT_EQ(plan.changedFiles, std::vector<std::string>{"c:\\home\\ann\\changed.txt"});
  EXPECT_EQ(plan.deletedFiles, std::vector<std::string>{"c:\\home\\ann\\gone.txt"});
  EXPECT_EQ(plan.unchangedFiles, 1u);
  agent::BackupPlan none;
  EXPECT_FALSE(agent::readPlan(dir.file("missing.xml"), none));
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
  std::string line = agent::progressLine(report);
  EXPECT_EQ(line, "uploading 40/100 files, 10.0 MB of 30.0 MB, 2.0 MB/s, 10.0 s left: c:\\docs\\report.txt 25%");
  // A long path keeps its end, so the line still fits a terminal.
  report.currentPath = "c:\\" + std::string(200, 'x') + "\\final-name.txt";
  line = agent::progressLine(report);
  EXPECT_LE(line.size(), 110u);
  EXPECT_NE(line.find(": ...x"), std::string::npos) << line;
  EXPECT_NE(line.find("x\\final-name.txt 25%"), std::string::npos) << line;
}

}  // namespace
