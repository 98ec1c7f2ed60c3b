// When an upload's content that has a file of its own reaches the disk: by
// one sync of the file system for uploads finalized together, or, where the
// system has no such sync, by a sync of each content as it arrives. Either
// way before the answer. (A small content is kept in the catalogue, whose
// commit syncs it.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bindings/zrcore/file.h"
#include "localservice/cache_store.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "service/soap_session.h"
#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"

namespace {

// Counts the syncs of the files it opens for writing.
class CountedFile : public platform::WritableFile {
 public:
  CountedFile(std::unique_ptr<platform::WritableFile> file, std::atomic<int>* syncs)
      : file_(std::move(file)), syncs_(syncs) {}
  bool append(const char* data, size_t n) override { return file_->append(data, n); }
  bool sync() override {
    ++*syncs_;
    return file_->sync();
  }
  bool close() override { return file_->close(); }

 private:
  std::unique_ptr<platform::WritableFile> file_;
  std::atomic<int>* syncs_;
};

// The real file system, with or without a sync of the whole file system.
class SyncWatchingEnv : public platform::EnvWrapper {
 public:
  explicit SyncWatchingEnv(bool wholeSync) : EnvWrapper(platform::Env::defaultEnv()), wholeSync_(wholeSync) {}
  platform::Status openWritable(const std::string& path, std::unique_ptr<platform::WritableFile>* file) override {
    platform::Status opened = EnvWrapper::openWritable(path, file);
    if (opened) *file = std::make_unique<CountedFile>(std::move(*file), &fileSyncs);
    return opened;
  }
  platform::Status syncFileSystem(const std::string& path) override {
    if (!wholeSync_) return platform::Status::refused("no file-system sync here");
    ++wholeSyncs;
    return EnvWrapper::syncFileSystem(path);
  }

  std::atomic<int> fileSyncs{0};
  std::atomic<int> wholeSyncs{0};

 private:
  bool wholeSync_;
};

class StoreDurability : public testsupport::LoggingTest {};

TEST_F(StoreDurability, EachUploadIsOnDiskBeforeItsAnswer) {
  struct Case {
    bool wholeSync;
    const char* what;
  };
  const Case cases[] = {{true, "one sync of the file system"}, {false, "no sync of the file system"}};
  constexpr int kUploads = 5;
  bool systemSyncsAtOnce = platform::Env::defaultEnv()->syncFileSystem(dir_.path()).isOk();  // not on Windows
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.wholeSync && !systemSyncsAtOnce) continue;
    SyncWatchingEnv env(c.wholeSync);
    testsupport::RunningService service({}, &env);
    int syncsAtStart = env.wholeSyncs.load();
    velkan::CSoapSession session(service.server(), velkan::ServiceOptions(), log());
    std::string key = session.login("agent");
    for (int i = 0; i < kUploads; ++i) {
      std::string path = "c:\\docs\\f" + std::to_string(i) + ".txt";
      std::string content(localservice::CacheStore::kCatalogueContentBytes + 1, 'c');
      testsupport::writeFile(dir_.file("content.bin"), content + std::to_string(i));
      int fileSyncsBefore = env.fileSyncs.load(), wholeSyncsBefore = env.wholeSyncs.load();
      ASSERT_EQ(session.createFile(key, path, "m=1\n"), "-2");
      ASSERT_EQ(session.writeFileAttachment(key, path, std::make_unique<ZR::CFile>(dir_.file("content.bin"), "r"), key),
                "-2");
      ASSERT_EQ(session.finalizeFile(key, path), "-2");
      if (c.wholeSync) {
        EXPECT_EQ(env.wholeSyncs.load(), wholeSyncsBefore + 1) << "upload " << i;
      } else {
        EXPECT_GE(env.fileSyncs.load(), fileSyncsBefore + 1) << "upload " << i << "'s content was never synced";
      }
    }
    if (c.wholeSync) {
      EXPECT_GE(syncsAtStart, 1) << "the store did not ask at start";
    }
    EXPECT_EQ(service.service().store().syncsEachContent(), !c.wholeSync);
  }
}

// Uploads whose content has arrived finalize next: a group commit waits a
// moment for them, so that one sync serves them all; it never waits for an
// upload that is not coming, nor longer than its window.
class GroupCommit : public testsupport::LoggingTest {
 protected:
  std::unique_ptr<localservice::CacheStore> openStore(platform::Env& env, std::chrono::milliseconds window) {
    auto store = std::make_unique<localservice::CacheStore>(env, dir_.path(), -1);
    store->setGroupWindow(window);
    std::string error;
    EXPECT_TRUE(store->open(error)) << error;
    return store;
  }
  // Begins an upload of a content with a file of its own, up to its finalization.
  static void attach(localservice::CacheStore& store, const std::string& owner, const std::string& path) {
    std::string content(localservice::CacheStore::kCatalogueContentBytes + 1, 'g');
    content += path;
    ASSERT_EQ(store.createFile("", owner, path, "m=1\n"), localservice::kSuccess);
    std::string received = store.incomingPath();
    testsupport::writeFile(received, content);
    ASSERT_EQ(store.attachFile("", owner, path, received, static_cast<int64_t>(content.size()),
                               localservice::ContentDigest::of(content)),
              localservice::kSuccess);
  }
  static double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(GroupCommit, UploadsDueTogetherShareOneSyncAndNoneWaitsInVain) {
  SyncWatchingEnv env(true);
  if (!platform::Env::defaultEnv()->syncFileSystem(dir_.path()).isOk()) GTEST_SKIP() << "no file-system sync here";
  {
    SCOPED_TRACE("two due together: one sync, whichever finalizes first");
    auto store = openStore(env, std::chrono::seconds(30));
    attach(*store, "ann", "c:\\a");
    attach(*store, "bob", "c:\\b");
    int before = env.wholeSyncs.load();
    auto first = std::async(std::launch::async, [&] { return store->finalizeFile("", "ann", "c:\\a", nullptr); });
    EXPECT_EQ(store->finalizeFile("", "bob", "c:\\b", nullptr), localservice::kSuccess);
    EXPECT_EQ(first.get(), localservice::kSuccess);
    EXPECT_EQ(env.wholeSyncs.load(), before + 1);
  }
  {
    SCOPED_TRACE("one alone does not wait");
    auto store = openStore(env, std::chrono::seconds(30));
    attach(*store, "ann", "c:\\alone");
    EXPECT_LT(
        secondsOf([&] { EXPECT_EQ(store->finalizeFile("", "ann", "c:\\alone", nullptr), localservice::kSuccess); }),
        10.0);
  }
  {
    SCOPED_TRACE("an upload left unfinished holds the others no longer than the window");
    auto store = openStore(env, std::chrono::milliseconds(50));
    attach(*store, "ann", "c:\\left");
    attach(*store, "bob", "c:\\done");
    EXPECT_LT(
        secondsOf([&] { EXPECT_EQ(store->finalizeFile("", "bob", "c:\\done", nullptr), localservice::kSuccess); }),
        10.0);
    EXPECT_TRUE(store->content("c:\\done").found);
    EXPECT_FALSE(store->content("c:\\left").found);
  }
  using Ending = std::function<int(localservice::CacheStore&)>;
  for (const auto& [how, end] : std::vector<std::pair<std::string, Ending>>{
           {"begun anew", [](auto& store) { return store.createFile("", "ann", "c:\\awaited", "m=2\n"); }},
           {"deleted", [](auto& store) { return store.deleteFile("", "c:\\awaited"); }}}) {
    SCOPED_TRACE("an awaited upload " + how + " holds the group no longer");
    auto store = openStore(env, std::chrono::seconds(30));
    attach(*store, "ann", "c:\\awaited");
    attach(*store, "bob", "c:\\waiting");
    double seconds = 0;
    auto waiting = std::async(std::launch::async, [&] {
      seconds =
          secondsOf([&] { EXPECT_EQ(store->finalizeFile("", "bob", "c:\\waiting", nullptr), localservice::kSuccess); });
    });
    platform::sleepMs(200);  // its group awaits the other upload by now
    EXPECT_EQ(end(*store), localservice::kSuccess);
    waiting.get();
    EXPECT_LT(seconds, 10.0);
  }
}

// The rows of uploads under way are committed with the next group; a file
// their change released goes only after that commit, so a kill in between
// never leaves a committed row without its file.
TEST_F(GroupCommit, AReleasedFileOutlivesTheUncommittedChangeThatReleasedIt) {
  auto store = openStore(*platform::Env::defaultEnv(), std::chrono::milliseconds(2));
  auto files = [&] { return testsupport::filesBelow(dir_.path() + "/store").size(); };
  attach(*store, "ann", "c:\\p");
  EXPECT_EQ(store->deleteFile("", "c:\\nothing"), localservice::kInvalidPath);  // commits the upload under way
  ASSERT_EQ(files(), 1u);
  // A new upload of the path drops the first one's content, uncommitted.
  ASSERT_EQ(store->createFile("", "bob", "c:\\p", "m=1\n"), localservice::kSuccess);
  EXPECT_EQ(files(), 1u) << "removed before the change that released it was committed";
  attach(*store, "cy", "c:\\q");
  ASSERT_EQ(store->finalizeFile("", "cy", "c:\\q", nullptr), localservice::kSuccess);
  EXPECT_EQ(files(), 1u) << "the released file outlived its commit";
  EXPECT_TRUE(store->content("c:\\q").found);
}

}  // namespace
