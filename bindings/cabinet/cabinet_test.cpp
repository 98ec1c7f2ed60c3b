#include "bindings/cabinet/cabinet.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <thread>

#include "tests/test_support.h"

namespace {

using ZR::CCabinet;
using ZR::CFileEntry;

CFileEntry entry(const std::string& path, const std::string& size = "", const std::string& state = "1") {
  CFileEntry e;
  e.setPath(path);
  e.setOriginSize(size);
  e.setState(state);
  return e;
}

// A second program's connection to the same index.
class OtherProgram {
 public:
  explicit OtherProgram(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_busy_timeout(db_, 10000);
  }
  ~OtherProgram() { sqlite3_close(db_); }
  bool run(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }

 private:
  sqlite3* db_ = nullptr;
};

class CabinetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CCabinet::setIndexPath(dir_.file("cabinet.db"));
    CCabinet::setBusyTimeoutMs(60000);
  }
  void TearDown() override { CCabinet::setIndexPath(""); }
  int64_t rows() {
    int64_t total = -1;
    EXPECT_TRUE(CCabinet::count(total));
    return total;
  }
  testsupport::TempDir dir_;
};

TEST_F(CabinetTest, FileEntryOrderComparesAllFiveTextsButNotTheFlag) {
  CFileEntry a = entry("c:\\a", "10"), b = entry("c:\\a", "10");
  b.cached = true;
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  CFileEntry c = a;
  c.setCacheSize("5");
  EXPECT_TRUE(a < c);  // only the cache size differs
  CFileEntry d = a;
  d.setDateModified("1");
  EXPECT_TRUE(a < d);
  EXPECT_TRUE(entry("c:\\a", "9") < entry("c:\\a", "90"));
  EXPECT_TRUE(entry("c:\\a", "99") < entry("c:\\b", "1"));
  EXPECT_FALSE(CFileEntry().cached);
}

TEST_F(CabinetTest, RefreshReplacesTheWholeIndex) {
  ASSERT_EQ(CCabinet::refresh(std::set<CFileEntry>{entry("c:\\a", "1"), entry("c:\\b", "2")}), ZR::kCabinetOk);
  EXPECT_EQ(rows(), 2);
  ASSERT_EQ(CCabinet::refresh(std::vector<CFileEntry>{entry("c:\\c", "3", "2")}), ZR::kCabinetOk);
  EXPECT_EQ(rows(), 1);
  CFileEntry found;
  EXPECT_FALSE(CCabinet::lookup("c:\\a", found));
  ASSERT_TRUE(CCabinet::lookup("c:\\c", found));
  EXPECT_EQ(found.getOriginSize(), "3");
  EXPECT_EQ(found.getState(), "2");
}

// A partial backup replaces the rows of its folders and keeps every other:
// a sibling whose name starts alike ("docs2"), a file beside the folder.
TEST_F(CabinetTest, RefreshBelowReplacesOnlyTheRowsOfItsFolders) {
  ZR::CFileIndex index(*platform::Env::defaultEnv(), dir_.file("partial.db"));
  ASSERT_EQ(index.refresh(std::vector<CFileEntry>{entry("c:\\home\\docs\\a", "1"), entry("c:\\home\\docs\\sub\\b", "2"),
                                                  entry("c:\\home\\docs2\\c", "3"), entry("c:\\home\\d", "4"),
                                                  entry("c:\\home\\pics\\e", "5")}),
            ZR::kCabinetOk);
  ASSERT_EQ(
      index.refreshBelow({"c:\\home\\docs", "c:\\home\\pics\\"},
                         std::vector<CFileEntry>{entry("c:\\home\\docs\\a", "10"), entry("c:\\home\\docs\\new", "6")}),
      ZR::kCabinetOk);
  const std::map<std::string, std::string> expected = {
      {"c:\\home\\docs\\a", "10"}, {"c:\\home\\docs\\new", "6"}, {"c:\\home\\docs2\\c", "3"}, {"c:\\home\\d", "4"}};
  for (const char* gone : {"c:\\home\\docs\\sub\\b", "c:\\home\\pics\\e"}) {
    CFileEntry found;
    EXPECT_FALSE(index.lookup(gone, found)) << gone;
  }
  for (const auto& [path, size] : expected) {
    CFileEntry found;
    ASSERT_TRUE(index.lookup(path, found)) << path;
    EXPECT_EQ(found.getOriginSize(), size) << path;
  }
  int64_t total = 0;
  ASSERT_TRUE(index.count(total));
  EXPECT_EQ(total, 4);
}

TEST_F(CabinetTest, AddAndRemoveItems) {
  testsupport::writeFile(dir_.file("up.txt"), "12345");
  ASSERT_EQ(CCabinet::addFileItem(dir_.file("up.txt")), ZR::kCabinetOk);
  ASSERT_EQ(CCabinet::addFileItem(dir_.file("up.txt")), ZR::kCabinetOk);
  CFileEntry found;
  ASSERT_TRUE(CCabinet::lookup(dir_.file("up.txt"), found));
  EXPECT_EQ(found.getOriginSize(), "5");
  EXPECT_EQ(found.getState(), "1");
  EXPECT_EQ(rows(), 1);
  EXPECT_EQ(CCabinet::removeFileItem(dir_.file("up.txt")), ZR::kCabinetOk);
  EXPECT_EQ(CCabinet::removeFileItem("c:\\never\\indexed"), ZR::kCabinetOk);
  EXPECT_EQ(rows(), 0);
}

TEST_F(CabinetTest, OnePathOneRowInItsNormalFormAndCachedWinsOverPending) {
  CFileEntry cached = entry("c:\\docs\\a.txt", "3", "1");
  cached.setCacheSize("3");
  // In set order the pending entry of the same path comes last.
  std::set<CFileEntry> entries{cached, entry("c:\\docs\\a.txt", "3", "2"), entry("C:/docs/b.txt", "1", "2"),
                               entry("c:\\docs\\b.txt", "1", "2")};
  size_t kept = 0;
  ASSERT_EQ(CCabinet::refresh(entries, &kept), ZR::kCabinetOk);
  EXPECT_EQ(kept, 2u);
  EXPECT_EQ(rows(), 2);
  CFileEntry found;
  ASSERT_TRUE(CCabinet::lookup("C:/docs/a.txt", found));
  EXPECT_EQ(found.state(), "1");
  EXPECT_EQ(found.cacheSize(), "3");
  EXPECT_EQ(found.path(), "c:\\docs\\a.txt");

  ASSERT_EQ(CCabinet::addFileItem("C:/keep.txt", 7, 70), ZR::kCabinetOk);
  EXPECT_TRUE(CCabinet::lookup("c:\\keep.txt", found));
  EXPECT_TRUE(CCabinet::holdsVersion("c:/keep.txt", 7, 70));
  EXPECT_FALSE(CCabinet::holdsVersion("c:/keep.txt", 7, 71));
}

TEST_F(CabinetTest, RemovingAFolderRemovesEverythingBelowIt) {
  for (const char* path : {"c:\\old", "c:\\old\\a.txt", "c:\\old\\sub\\b.txt", "c:\\older.txt", "c:\\old2\\c.txt",
                           "c:\\olc\\d.txt"}) {
    ASSERT_EQ(CCabinet::addFileItem(path, 1, 1), ZR::kCabinetOk);
  }
  ASSERT_EQ(CCabinet::removeFileItem("C:/old/"), ZR::kCabinetOk);
  CFileEntry found;
  for (const char* gone : {"c:\\old", "c:\\old\\a.txt", "c:\\old\\sub\\b.txt"}) {
    EXPECT_FALSE(CCabinet::lookup(gone, found)) << gone;
  }
  for (const char* kept : {"c:\\older.txt", "c:\\old2\\c.txt", "c:\\olc\\d.txt"}) {
    EXPECT_TRUE(CCabinet::lookup(kept, found)) << kept;
  }
}

TEST_F(CabinetTest, AFailedRefreshLeavesTheOldIndex) {
  ASSERT_EQ(CCabinet::refresh(std::vector<CFileEntry>{entry("c:\\keep", "1")}), ZR::kCabinetOk);
  OtherProgram other(dir_.file("cabinet.db"));
  ASSERT_TRUE(other.run(
      "CREATE TRIGGER boom BEFORE INSERT ON files WHEN NEW.path = 'c:\\boom' BEGIN SELECT RAISE(ABORT, 'boom'); END"));
  std::vector<CFileEntry> entries;
  for (int i = 0; i < 1000; ++i) entries.push_back(entry("c:\\a" + std::to_string(i)));
  entries.push_back(entry("c:\\boom"));
  EXPECT_EQ(CCabinet::refresh(entries), ZR::kCabinetWriteFailed);
  EXPECT_NE(CCabinet::lastError().find("refresh not recorded"), std::string::npos) << CCabinet::lastError();
  EXPECT_EQ(rows(), 1);
  CFileEntry found;
  EXPECT_TRUE(CCabinet::lookup("c:\\keep", found));
}

TEST_F(CabinetTest, ALockHeldTooLongIsReportedNotSwallowed) {
  ASSERT_EQ(CCabinet::refresh(std::vector<CFileEntry>{}), ZR::kCabinetOk);
  OtherProgram other(dir_.file("cabinet.db"));
  ASSERT_TRUE(other.run("BEGIN IMMEDIATE"));
  CCabinet::setBusyTimeoutMs(100);
  EXPECT_EQ(CCabinet::addFileItem("c:\\x"), ZR::kCabinetBusy);
  EXPECT_NE(CCabinet::lastError().find("not recorded"), std::string::npos);
  ASSERT_TRUE(other.run("COMMIT"));
  EXPECT_EQ(CCabinet::addFileItem("c:\\x"), ZR::kCabinetOk);
}

TEST_F(CabinetTest, ConcurrentWritersLoseNoUpdate) {
  ASSERT_EQ(CCabinet::refresh(std::vector<CFileEntry>{}), ZR::kCabinetOk);
  constexpr int kEach = 200;
  std::thread other([this] {
    OtherProgram program(dir_.file("cabinet.db"));
    for (int i = 0; i < kEach; ++i) {
      ASSERT_TRUE(program.run("INSERT INTO files(path, state, updated) VALUES('c:\\other\\" + std::to_string(i) +
                              "', '1', 0)"));
    }
  });
  for (int i = 0; i < kEach; ++i) ASSERT_EQ(CCabinet::addFileItem("c:\\mine\\" + std::to_string(i)), ZR::kCabinetOk);
  other.join();
  EXPECT_EQ(rows(), 2 * kEach);
}

TEST_F(CabinetTest, UnopenableIndexIsAnError) {
  CCabinet::setIndexPath(dir_.file("no/such/folder/cabinet.db"));
  EXPECT_EQ(CCabinet::addFileItem("c:\\x"), ZR::kCabinetOpenFailed);
  EXPECT_NE(CCabinet::lastError().find(dir_.file("no/such/folder")), std::string::npos) << CCabinet::lastError();
}


// An Env that refuses every write SQLite makes to the files it names.
class RefusingWrites : public platform::EnvWrapper {
 public:
  RefusingWrites() : EnvWrapper(platform::Env::defaultEnv()) {}
  bool permitForeignOperation(const char* operation, const std::string& path) override {
    if (std::string(operation) == "append") ++refused;
    return std::string(operation) != "append" && target()->permitForeignOperation(operation, path);
  }
  int refused = 0;
};

// Each index goes through the Env it was given: a failing disk under one
// does not touch another, nor the process's own.
TEST(FileIndexEnv, EachIndexWritesThroughItsOwnEnv) {
  testsupport::TempDir dir;
  RefusingWrites failing;
  ZR::CFileIndex broken(failing, dir.file("broken.db"));
  ZR::CFileIndex sound(*platform::Env::defaultEnv(), dir.file("sound.db"));
  EXPECT_NE(broken.addFileItem("c:\\a", 1, 1), ZR::kCabinetOk);
  EXPECT_GT(failing.refused, 0);
  int refusedBefore = failing.refused;
  EXPECT_EQ(sound.addFileItem("c:\\a", 1, 1), ZR::kCabinetOk);
  EXPECT_EQ(failing.refused, refusedBefore);
  CFileEntry found;
  EXPECT_TRUE(sound.lookup("c:\\a", found));
  EXPECT_FALSE(broken.lookup("c:\\a", found));
}

}  // namespace
