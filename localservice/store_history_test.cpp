#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "localservice/cache_store.h"
#include "platform/clock.h"
#include "tests/local_service_fixture.h"
#include "tests/test_support.h"

namespace {

using localservice::CacheStore;
using localservice::HistoryPolicy;

class StoreHistory : public ::testing::Test {
 protected:
  std::unique_ptr<CacheStore> openStore(int64_t quota = -1, HistoryPolicy policy = HistoryPolicy()) {
    auto store = std::make_unique<CacheStore>(*platform::Env::defaultEnv(), dir_.path(), quota);
    store->setHistory(policy);
    std::string error;
    EXPECT_TRUE(store->open(error)) << error;
    return store;
  }
  // Contents of an odd length come as a file, the others in memory: one
  // store then holds both kinds, as one made before small contents were
  // kept in the catalogue does.
  static int put(CacheStore& store, const std::string& path, const std::string& content,
                 const std::string& agent = "") {
    int created = store.createFile(agent, "owner", path, "m=1\n");
    if (created != localservice::kSuccess) return created;
    std::string digest = localservice::ContentDigest::of(content);
    int attached = localservice::kSuccess;
    if (content.size() % 2 == 0) {
      attached = store.attachContent(agent, "owner", path, content, digest);
    } else {
      std::string received = store.incomingPath();
      testsupport::writeFile(received, content);
      attached = store.attachFile(agent, "owner", path, received, static_cast<int64_t>(content.size()), digest);
    }
    return attached != localservice::kSuccess ? attached : store.finalizeFile(agent, "owner", path, nullptr);
  }
  // The contents of a path's kept versions, oldest first.
  static std::vector<std::string> versionContents(CacheStore& store, const std::string& path) {
    std::vector<std::string> out;
    for (const CacheStore::StoredVersion& v : store.versionsOf("", path)) {
      std::string content;
      EXPECT_TRUE(store.versionContent("", v.id).read(store.env(), &content)) << v.id;
      out.push_back(content);
    }
    return out;
  }
  // Files and contents in the catalogue.
  static size_t storedContentCount(CacheStore& store) {
    size_t count = static_cast<size_t>(store.catalogueContentCount());
    for (const auto& entry : testsupport::filesBelow(store.root() + "/store")) count += entry.first.empty() ? 0 : 1;
    return count;
  }
  testsupport::TempDir dir_;
};

// Random replacements and deletions over a few paths: every earlier content
// is kept, in order, with whether a deletion ended it; the current one is
// served as before; a reopened store says the same; the store holds one
// file per current and kept version, nothing more.
TEST_F(StoreHistory, EveryReplacedOrDeletedContentIsKeptInOrder) {
  std::mt19937 random(20261209);
  const std::vector<std::string> paths = {"c:\\a.doc", "c:\\b.doc", "c:\\sub\\c.doc"};
  std::map<std::string, std::string> live;
  std::map<std::string, std::vector<std::pair<std::string, bool>>> kept;
  auto store = openStore();
  for (int step = 0; step < 60; ++step) {
    const std::string& path = paths[random() % paths.size()];
    if (random() % 4 == 0) {
      int deleted = store->deleteFile("", path);
      if (live.count(path) == 0) {
        EXPECT_EQ(deleted, localservice::kInvalidPath);
        continue;
      }
      ASSERT_EQ(deleted, localservice::kSuccess);
      kept[path].push_back({live[path], true});
      live.erase(path);
    } else {
      std::string content = "v" + std::to_string(step) + std::string(random() % 50, 'x');
      ASSERT_EQ(put(*store, path, content), localservice::kSuccess);
      if (live.count(path)) kept[path].push_back({live[path], false});
      live[path] = content;
    }
  }
  for (int reopened = 0; reopened < 2; ++reopened) {
    size_t versions = 0;
    for (const std::string& path : paths) {
      SCOPED_TRACE(path);
      std::vector<std::string> expected;
      for (const auto& [content, deleted] : kept[path]) expected.push_back(content);
      EXPECT_EQ(versionContents(*store, path), expected);
      std::vector<CacheStore::StoredVersion> found = store->versionsOf("", path);
      for (size_t i = 0; i < found.size() && i < kept[path].size(); ++i) {
        EXPECT_EQ(found[i].deleted, kept[path][i].second);
        EXPECT_LE(found[i].became, found[i].ended);
      }
      versions += found.size();
      EXPECT_EQ(testsupport::storedContent(*store, path), live.count(path) ? live[path] : "");
    }
    EXPECT_EQ(storedContentCount(*store), live.size() + versions);
    store.reset();
    store = openStore();
  }
}

// Contents drawn from a small pool, so that paths and versions share them:
// after random uploads, deletions, prunings and uploads abandoned halfway,
// every current and kept content reads back as it was, each distinct
// content of an agent is one store file, and the quota counts it once.
TEST_F(StoreHistory, SharedContentIsStoredOnceAndLivesAsLongAsARowNamesIt) {
  std::mt19937 random(912);
  const std::vector<std::string> paths = {"c:\\a", "c:\\b", "c:\\dir\\c", "c:\\moved\\c"};
  const std::vector<std::string> pool = {"alpha", "beta--", "gamma---", "delta-----"};
  std::map<std::string, std::string> live;
  auto store = openStore(-1, HistoryPolicy{30, 2});
  for (int step = 0; step < 200; ++step) {
    const std::string& path = paths[random() % paths.size()];
    const std::string& content = pool[random() % pool.size()];
    switch (random() % 5) {
      case 0:
        if (store->deleteFile("", path) == localservice::kSuccess) live.erase(path);
        break;
      case 1:  // abandoned after its attachment: a later upload of the path replaces it
        ASSERT_EQ(store->createFile("", "owner", path, "m"), localservice::kSuccess);
        {
          std::string received = store->incomingPath();
          testsupport::writeFile(received, content);
          ASSERT_EQ(store->attachFile("", "owner", path, received, static_cast<int64_t>(content.size()),
                                      localservice::ContentDigest::of(content)),
                    localservice::kSuccess);
        }
        break;
      case 2:
        store->pruneHistory(platform::unixTimeSeconds());
        break;
      default:
        ASSERT_EQ(put(*store, path, content), localservice::kSuccess);
        live[path] = content;
    }
    std::set<std::string> named;
    int64_t namedBytes = 0;
    for (const std::string& p : paths) {
      ASSERT_EQ(testsupport::storedContent(*store, p), live.count(p) ? live[p] : "") << p;
      if (live.count(p) && named.insert(live[p]).second) namedBytes += static_cast<int64_t>(live[p].size());
      for (const std::string& kept : versionContents(*store, p)) {
        ASSERT_NE(std::find(pool.begin(), pool.end(), kept), pool.end()) << p << " step " << step;
        if (named.insert(kept).second) namedBytes += static_cast<int64_t>(kept.size());
      }
    }
    // Pending copies may name a content more; never a second file for one.
    ASSERT_GE(storedContentCount(*store), named.size());
    ASSERT_LE(storedContentCount(*store), pool.size());
    ASSERT_GE(store->usedBytes(), namedBytes);
  }
  for (const std::string& p : paths) {
    if (live.count(p) == 0) continue;
    store->deleteFile("", p);
  }
  store.reset();
  store = openStore(-1, HistoryPolicy{0, 0});  // no history: everything kept goes
  EXPECT_EQ(storedContentCount(*store), 0u);
  EXPECT_EQ(store->usedBytes(), 0);
}

// Named cases of sharing: what the store holds after each story.
TEST_F(StoreHistory, OneCopyPerContentAndAgent) {
  struct Step {
    const char* agent;
    const char* path;
    const char* content;  // nullptr: a deletion
  };
  struct Case {
    const char* story;
    std::vector<Step> steps;
    size_t files;
    int64_t used;
  };
  const std::vector<Case> cases = {
      {"back and forth",
       {{"", "c:\\a", "one"}, {"", "c:\\a", "two"}, {"", "c:\\a", "one"}, {"", "c:\\a", "two"}},
       2,
       6},
      {"a folder renamed",
       {{"", "c:\\old\\x", "xx"},
        {"", "c:\\old\\y", "yyy"},
        {"", "c:\\old\\x", nullptr},
        {"", "c:\\old\\y", nullptr},
        {"", "c:\\new\\x", "xx"},
        {"", "c:\\new\\y", "yyy"}},
       2,
       5},
      {"the same content uploaded again", {{"", "c:\\a", "same"}, {"", "c:\\a", "same"}}, 1, 4},
      {"two agents never share", {{"ann", "c:\\a", "same"}, {"bob", "c:\\a", "same"}}, 2, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    testsupport::TempDir dir;
    CacheStore store(*platform::Env::defaultEnv(), dir.path(), -1);
    std::string error;
    ASSERT_TRUE(store.open(error)) << error;
    for (const Step& step : c.steps) {
      int result =
          step.content ? put(store, step.path, step.content, step.agent) : store.deleteFile(step.agent, step.path);
      ASSERT_EQ(result, localservice::kSuccess) << step.path;
    }
    EXPECT_EQ(storedContentCount(store), c.files);
    EXPECT_EQ(store.usedBytes(), c.used);
  }
}

// A kept version that shares its content with a current file frees nothing
// when it is dropped: the quota looks past it to what frees bytes.
TEST_F(StoreHistory, TheQuotaCountsASharedContentOnceAndDropsWhatFreesRoom) {
  auto store = openStore(30);
  ASSERT_EQ(put(*store, "c:\\a", "shared----"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\a", "a2--------"), localservice::kSuccess);  // version: shared
  ASSERT_EQ(put(*store, "c:\\b", "shared----"), localservice::kSuccess);  // no new bytes
  EXPECT_EQ(store->usedBytes(), 20);
  ASSERT_EQ(put(*store, "c:\\c", "c1--------"), localservice::kSuccess);  // fits: 30
  EXPECT_EQ(store->usedBytes(), 30);
  EXPECT_EQ(put(*store, "c:\\d", "d1--------"), localservice::kStorageFull);  // dropping a's version frees nothing
  EXPECT_EQ(testsupport::storedContent(*store, "c:\\b"), "shared----");
  EXPECT_EQ(versionContents(*store, "c:\\a"), std::vector<std::string>{"shared----"});
}

TEST_F(StoreHistory, KeepDaysZeroKeepsNothing) {
  auto store = openStore(-1, HistoryPolicy{0, 0});
  ASSERT_EQ(put(*store, "c:\\a", "one"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\a", "two"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\b", "three"), localservice::kSuccess);
  ASSERT_EQ(store->deleteFile("", "c:\\b"), localservice::kSuccess);
  EXPECT_TRUE(store->versionsOf("", "c:\\a").empty());
  EXPECT_TRUE(store->versionsOf("", "c:\\b").empty());
  EXPECT_EQ(storedContentCount(*store), 1u);
  EXPECT_EQ(store->usedBytes(), 3);
}

// At the quota, the oldest versions make room, those that are not the last
// of their path first; a current file is never dropped for history.
TEST_F(StoreHistory, TheQuotaDropsOldVersionsNeverACurrentFile) {
  auto store = openStore(40);
  ASSERT_EQ(put(*store, "c:\\a", "a1--------"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\a", "a2--------"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\b", "b1--------"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\a", "a3--------"), localservice::kSuccess);  // 40 bytes: a3, b1, a1, a2
  ASSERT_EQ(put(*store, "c:\\c", "c1--------"), localservice::kSuccess);  // a1 makes room
  EXPECT_EQ(versionContents(*store, "c:\\a"), std::vector<std::string>{"a2--------"});
  ASSERT_EQ(put(*store, "c:\\d", "d1--------"), localservice::kSuccess);  // then a2, the last of a
  EXPECT_TRUE(store->versionsOf("", "c:\\a").empty());
  EXPECT_EQ(put(*store, "c:\\e", "e1--------"), localservice::kStorageFull);
  for (const char* path : {"c:\\a", "c:\\b", "c:\\c", "c:\\d"}) EXPECT_TRUE(store->content(path).found) << path;
  EXPECT_EQ(store->usedBytes(), 40);
}

TEST_F(StoreHistory, PruningDropsWhatIsPastItsDaysOrBeyondTheCount) {
  auto store = openStore(-1, HistoryPolicy{30, 2});
  for (const char* content : {"1", "2", "3", "4"}) ASSERT_EQ(put(*store, "c:\\a", content), localservice::kSuccess);
  int64_t now = platform::unixTimeSeconds();
  EXPECT_EQ(store->pruneHistory(now), 1u);
  EXPECT_EQ(versionContents(*store, "c:\\a"), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(store->pruneHistory(now + 29 * 86400), 0u);
  EXPECT_EQ(store->pruneHistory(now + 31 * 86400), 2u);
  EXPECT_TRUE(store->versionsOf("", "c:\\a").empty());
  EXPECT_EQ(storedContentCount(*store), 1u);
}

// A catalogue from before versions were kept opens as it is, its files
// served; a store file that no row names (a kill between a row's end and
// its file's removal) is removed at the next open.
TEST_F(StoreHistory, OpeningUpgradesAnOlderCatalogueAndRemovesFilesNoRowNames) {
  {
    auto store = openStore();
    ASSERT_EQ(put(*store, "c:\\a", "kept"), localservice::kSuccess);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() + "/catalogue.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE versions", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  testsupport::writeFile(dir_.path() + "/store/ab/left-behind", "orphan");
  auto store = openStore();
  EXPECT_EQ(testsupport::storedContent(*store, "c:\\a"), "kept");
  EXPECT_FALSE(testsupport::fileExists(dir_.path() + "/store/ab/left-behind"));
  ASSERT_EQ(put(*store, "c:\\a", "new"), localservice::kSuccess);
  EXPECT_EQ(versionContents(*store, "c:\\a"), std::vector<std::string>{"kept"});
}

TEST_F(StoreHistory, AnAgentReadsOnlyItsOwnVersions) {
  auto store = openStore();
  ASSERT_EQ(put(*store, "c:\\a", "ann 1", "ann"), localservice::kSuccess);
  ASSERT_EQ(put(*store, "c:\\a", "ann 2", "ann"), localservice::kSuccess);
  std::vector<CacheStore::StoredVersion> versions = store->versionsOf("ann", "c:\\a");
  ASSERT_EQ(versions.size(), 1u);
  std::string first;
  EXPECT_TRUE(store->versionContent("ann", versions[0].id).read(store->env(), &first));
  EXPECT_EQ(first, "ann 1");
  EXPECT_TRUE(store->versionsOf("bob", "c:\\a").empty());
  EXPECT_FALSE(store->versionContent("bob", versions[0].id).found);
  EXPECT_FALSE(store->versionContent("", versions[0].id).found);
}

}  // namespace
