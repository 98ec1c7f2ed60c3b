// When an upload's content that has a file of its own reaches the disk: by
// one sync of the file system for uploads finalized together, or, where the
// system has no such sync, by a sync of each content as it arrives. Either
// way before the answer. (A small content is kept in the catalogue, whose
// commit syncs it.)
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "bindings/zrcore/file.h"
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

}  // namespace
