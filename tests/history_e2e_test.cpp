// The history as a user meets it: after every file was overwritten with
// random bytes and a folder deleted, the tree as it was before comes back
// byte for byte with `restore --at`; a twice-edited file's versions are
// listed and each one comes back by its number.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <ctime>
#include <random>
#include <set>
#include <thread>

#include "platform/clock.h"
#include "tests/agent_fixture.h"
#include "tests/service_process.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// The first column of a query's rows.
std::set<std::string> storagesOf(sqlite3* db, const char* sql) {
  std::set<std::string> out;
  sqlite3_stmt* rows = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &rows, nullptr), SQLITE_OK) << sql;
  while (rows && sqlite3_step(rows) == SQLITE_ROW)
    out.insert(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0)));
  sqlite3_finalize(rows);
  return out;
}

class History : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
    AgentFixture::SetUp();
    ASSERT_TRUE(service_.start({}));
    // A killed service is noticed at once here; where a connection to it
    // waits (under wine), the wait is short.
    configureAgent(service_.server(), "connectTimeout='3' replyTimeout='15'");
  }
  // The moment as a user types it (local time), then a second more, so
  // that what happens next is later than it.
  static std::string momentNow() {
    std::time_t now = static_cast<std::time_t>(platform::unixTimeSeconds());
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    platform::sleepMs(1100);
    return text;
  }
  std::map<std::string, std::string> restoredAt(const std::string& path, const std::string& at) {
    std::string target = dir_.file("at-" + std::to_string(++restores_));
    auto run = agent({"restore", dir_.file("cfg.xml"), path, target, "--at", at});
    EXPECT_EQ(run.exitCode, 0) << explain(run);
    return testsupport::filesBelow(target);
  }
  void backupAll() {
    auto run = backup({"--allow-deletions", "--allow-changes"});
    ASSERT_EQ(run.exitCode, 0) << explain(run);
    platform::sleepMs(1100);  // each backup's versions in a second of their own
  }
  testsupport::TempDir store_;
  testsupport::ServiceProcess service_{SERVICE_PATH, store_.path()};
  int restores_ = 0;
};

TEST_F(History, TheTreeBeforeTheDamageAndEveryVersionOfAnEditedFileComeBack) {
  std::mt19937 random(7);
  std::map<std::string, std::string> original;
  std::vector<std::string> names = {"docs/letter.txt", "docs/report.csv", "old/notes.txt", "old/deep/plan.txt"};
  for (int i = 0; i < 12; ++i) names.push_back("docs/more/" + std::to_string(i) + ".txt");
  for (const std::string& name : names) {
    std::string content = name + ": " + std::string(200 + random() % 5000, static_cast<char>('a' + random() % 26));
    original[name] = content;
    writeFile(home(name), content);
  }
  backupAll();
  std::string beforeTheDamage = momentNow();

  // Every file garbled, a folder deleted.
  for (const auto& [name, content] : original) {
    std::string garbled(content.size(), '\0');
    for (char& c : garbled) c = static_cast<char>(random());
    writeFile(home(name), garbled);
  }
  ASSERT_TRUE(platform::Env::defaultEnv()->removeTree(home("old")));
  // So many files changing at once: the backup stops before it replaces
  // any, and says that the versions would be kept anyway.
  auto stopped = backup({"--allow-deletions"});
  EXPECT_EQ(stopped.exitCode, 9) << explain(stopped);
  EXPECT_NE(stopped.standardError.find("--allow-changes"), std::string::npos) << explain(stopped);
  EXPECT_NE(stopped.standardError.find("keeps the versions"), std::string::npos) << explain(stopped);
  EXPECT_EQ(restoredAt(logical(), "now"), original);
  backupAll();
  // A document edited twice, a backup after each.
  writeFile(home("docs/letter.txt"), "first edit");
  backupAll();
  writeFile(home("docs/letter.txt"), "second edit");
  backupAll();

  EXPECT_EQ(restoredAt(logical(), beforeTheDamage), original);

  auto versions = agent({"versions", dir_.file("cfg.xml"), logical("docs/letter.txt")});
  ASSERT_EQ(versions.exitCode, 0) << explain(versions);
  // The original, the garbled one, the first edit, and the current one.
  EXPECT_EQ(testsupport::countOf(versions.standardOutput, "\n"), 5u) << versions.standardOutput;
  EXPECT_NE(versions.standardOutput.find("(current)"), std::string::npos) << versions.standardOutput;
  // Sizes of the originals, not of their compressed copies.
  EXPECT_NE(versions.standardOutput.find(" 10\n"), std::string::npos) << versions.standardOutput;  // "first edit"
  EXPECT_NE(versions.standardOutput.find(" 11\n"), std::string::npos) << versions.standardOutput;  // "second edit"
  const std::vector<std::string> expected = {original["docs/letter.txt"], "", "first edit", "second edit"};
  for (size_t number = 1; number <= expected.size(); ++number) {
    if (expected[number - 1].empty()) continue;  // the garbled one
    auto back = restoredAt(logical("docs/letter.txt"), std::to_string(number));
    EXPECT_EQ(back["letter.txt"], expected[number - 1]) << "version " << number;
  }
  // A deleted file's versions, and the folder as it is now: gone.
  auto deleted = agent({"versions", dir_.file("cfg.xml"), logical("old/notes.txt")});
  EXPECT_EQ(deleted.exitCode, 0) << explain(deleted);
  EXPECT_NE(deleted.standardOutput.find("deleted"), std::string::npos) << deleted.standardOutput;
  auto now = agent({"ls", dir_.file("cfg.xml"), logical("old")});
  EXPECT_NE(now.exitCode, 0) << now.standardOutput;
  auto then = agent({"ls", dir_.file("cfg.xml"), logical("old"), "--at", beforeTheDamage});
  EXPECT_EQ(then.exitCode, 0) << explain(then);
  EXPECT_NE(then.standardOutput.find("plan.txt"), std::string::npos) << then.standardOutput;
}

// The service killed at random moments while backups replace files and
// the quota makes it drop old versions, some contents shared by several
// files: after each restart every row of the catalogue names a file that
// is there and no store file is left that no row names, and the cache
// gives back the tree as it is.
TEST_F(History, AKilledServiceKeepsCatalogueAndStoreInAgreement) {
  std::mt19937 random(33);
  const std::vector<std::string> quota = {"--quota", "60000"};
  service_.kill();
  ASSERT_TRUE(service_.start(quota));
  std::map<std::string, std::string> tree;
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 12; ++i) {
      std::string name = "f" + std::to_string(random() % 16) + ".txt";
      std::string content = std::to_string(round);
      for (size_t n = 500 + random() % 2000; n > 0; --n) content += static_cast<char>('a' + random() % 26);
      // A third are copies of another file: contents the store shares.
      if (!tree.empty() && random() % 3 == 0) content = std::next(tree.begin(), random() % tree.size())->second;
      tree[name] = content;
      writeFile(home(name), tree[name]);
    }
    std::thread backingUp([&] { backup({"--allow-changes", "--allow-deletions"}); });
    platform::sleepMs(static_cast<uint32_t>(random() % 400));
    service_.kill();
    backingUp.join();
    ASSERT_TRUE(service_.start(quota));
    backupAll();
  }
  std::string target = dir_.file("restored-check");
  auto run = agent({"restore", dir_.file("cfg.xml"), logical(), target});
  ASSERT_EQ(run.exitCode, 0) << explain(run);
  EXPECT_EQ(testsupport::filesBelow(target), tree);
  service_.kill();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((store_.path() + "/catalogue.db").c_str(), &db), SQLITE_OK);
  std::set<std::string> named =
      storagesOf(db,
                 "SELECT storage FROM files WHERE storage IS NOT NULL UNION ALL"
                 " SELECT pending_storage FROM files WHERE pending_storage IS NOT NULL UNION ALL"
                 " SELECT storage FROM versions");
  // Small contents are kept in the catalogue itself, the others in a file each.
  std::set<std::string> inCatalogue = storagesOf(db, "SELECT storage FROM contents");
  sqlite3_close(db);
  for (const std::string& storage : named) {
    EXPECT_TRUE(inCatalogue.count(storage) == 1 || testsupport::fileExists(store_.path() + "/" + storage))
        << storage << " is named but missing";
  }
  for (const std::string& storage : inCatalogue)
    EXPECT_EQ(named.count(storage), 1u) << storage << " is kept but unnamed";
  for (const auto& [name, content] : testsupport::filesBelow(store_.path() + "/store")) {
    EXPECT_EQ(named.count("store/" + name), 1u) << name << " is kept but no row names it";
  }
}

// A few documents garbled among many: too small a share for the share
// rule, but their content looks random where their copies compressed well,
// so the backup stops and names their folder; --allow-changes sends them.
TEST_F(History, DocumentsThatTurnRandomStopTheBackup) {
  std::mt19937 random(5);
  std::string prose;
  while (prose.size() < 6000) prose += "Minutes of the meeting: budget, staff, the new office and its lease. ";
  for (int i = 0; i < 60; ++i) writeFile(home("notes/" + std::to_string(i) + ".txt"), std::to_string(i) + prose);
  backupAll();
  for (int i = 0; i < 15; ++i) {
    std::string garbled(prose.size(), '\0');
    for (char& c : garbled) c = static_cast<char>(random());
    writeFile(home("notes/" + std::to_string(i) + ".txt"), garbled);
  }
  auto stopped = backup({});
  EXPECT_EQ(stopped.exitCode, 9) << explain(stopped);
  EXPECT_NE(stopped.standardError.find("looks random"), std::string::npos) << explain(stopped);
  EXPECT_NE(stopped.standardError.find(logical("notes")), std::string::npos) << explain(stopped);
  std::string target = dir_.file("before");
  ASSERT_EQ(agent({"restore", dir_.file("cfg.xml"), logical("notes/3.txt"), target}).exitCode, 0);
  EXPECT_EQ(readFile(target + "/3.txt"), "3" + prose);  // the cached copy is still the good one
  backupAll();
  ASSERT_EQ(agent({"restore", dir_.file("cfg.xml"), logical("notes/3.txt"), dir_.file("after")}).exitCode, 0);
  EXPECT_EQ(readFile(dir_.file("after") + "/3.txt"), readFile(home("notes/3.txt")));
}

TEST_F(History, AWrongMomentIsAUsageError) {
  writeFile(home("a.txt"), "a");
  backupAll();
  for (const char* at : {"last tuesday", "2026-13-01", "99", "3 fortnights ago"}) {
    auto run = agent({"restore", dir_.file("cfg.xml"), logical("a.txt"), dir_.file("t"), "--at", at});
    EXPECT_EQ(run.exitCode, 2) << at << ": " << explain(run);
  }
}

}  // namespace
