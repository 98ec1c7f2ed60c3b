#include "prepare/cpu_bound_thread.h"

#include <gtest/gtest.h>
#include <zlib.h>


#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "tests/image_fixtures.h"
#include "tests/logging_fixture.h"
#include "tests/test_support.h"

namespace {

using velkan::WorkItem;

// The run the worker serves: its settings, its queues, the stop flag.
class TestHost : public velkan::PreparationHost {
 public:
  explicit TestHost(velkan::PreparationSettings settings)
      : settings_(std::move(settings)), transcode_("test-transcode"), upload_("test-upload") {}
  const velkan::PreparationSettings& preparationSettings() const override { return settings_; }
  bool uploadsStopped() const override { return false; }
  void fileVanished(const std::string& path, uint64_t) override { vanished.push_back(path); }
  velkan::CActionQueue& transcodeQueue() { return transcode_; }
  std::vector<std::string> vanished;
  velkan::CActionQueue& uploadQueue() { return upload_; }

 private:
  velkan::PreparationSettings settings_;
  velkan::CActionQueue transcode_;
  velkan::CActionQueue upload_;
};

class Worker : public testsupport::LoggingTest {
 protected:
  void SetUp() override {
    platform::setEnvironmentVariable("ZR_IPC_NAMESPACE", "cpu-test-" + std::to_string(platform::processId()));
    LoggingTest::SetUp();
    if (HasFatalFailure()) return;
    velkan::startImageCodecs(nullptr);
  }
  // No pause before compressing; copies under the scratch folder.
  std::unique_ptr<TestHost> client(int32_t compressionExeSize = -1, const std::string& folder = "") {
    velkan::PreparationSettings settings;
    settings.compressionWaitMs = 0;
    settings.compressionExeSize = compressionExeSize;
    settings.transcodedFolder = folder.empty() ? dir_.file("transcoded") : folder;
    return std::make_unique<TestHost>(settings);
  }
  static std::string value(const WorkItem& item, const char* key) {
    auto found = item.find(key);
    return found == item.end() ? "<absent>" : found->second;
  }
};

TEST_F(Worker, PreparesEachKindAndHandsItOn) {
  testsupport::writeJpeg(dir_.file("small.jpg"), 200, 100);
  testsupport::writeJpeg(dir_.file("large.jpg"), 2000, 1000);
  testsupport::writeGif(dir_.file("anim.gif"), 40, 30);
  testsupport::writeFile(dir_.file("song.mp3"), "ID3");
  testsupport::writeFile(dir_.file("archive.zip"), "PK");
  testsupport::writeFile(dir_.file("notes.txt"), "text text text");
  testsupport::writeFile(dir_.file("big.exe"), std::string(5000, 'M'));
  testsupport::writeFile(dir_.file("broken.png"), "not a png");
  auto c = client(1000);
  struct Case {
    std::string name, mime;
    std::string transcodedPattern;  // empty: no copy
    std::string metadataPattern;
  } cases[] = {
      {"small.jpg", "image/jpeg", "",
       "cache.mimetype=image/jpeg\ncache.encoding=none\norigin.image.height=100\norigin.image.width=200\n"
       "cache.image.height=100\ncache.image.width=200\n"},
      {"large.jpg", "image/jpeg", ".*_large\\.jpg\\.jpg",
       "cache.mimetype=image/jpeg\ncache.encoding=none\norigin.image.height=1000\norigin.image.width=2000\n"
       "cache.image.height=384\ncache.image.width=768\n"},
      {"anim.gif", "image/gif", ".*_anim\\.gif\\.png",
       "cache.mimetype=image/png\ncache.encoding=none\norigin.image.height=30\norigin.image.width=40\n"
       "cache.image.height=30\ncache.image.width=40\n"},
      {"song.mp3", "audio/mpeg", "", ""},
      {"archive.zip", "application/octet-stream", "", "cache.encoding=none\ncache.mimetype=application/octet-stream\n"},
      {"notes.txt", "text/plain", ".*_notes\\.txt\\.zip", "cache.mimetype=text/plain\ncache.encoding=gzip\n"},
      {"big.exe", "application/binary", "", "cache.encoding=none\ncache.mimetype=application/binary\n"},
      {"broken.png", "image/png", "", "cache.mimetype=image/png\ncache.encoding=none\n"},
  };
  for (const Case& k : cases) c->transcodeQueue().put(WorkItem{{"object", dir_.file(k.name)}, {"objMime", k.mime}});
  c->transcodeQueue().put(WorkItem{});
  {
    velkan::CCPUBoundThread worker(c->transcodeQueue(), c->uploadQueue(), *c, ZR::CRunContext::processDefaults());
    for (const Case& k : cases) {
      WorkItem out;
      c->uploadQueue().take(out);
      SCOPED_TRACE(k.name);
      EXPECT_EQ(value(out, "object"), dir_.file(k.name));
      EXPECT_EQ(value(out, "extraMetaData"), k.metadataPattern);
      if (k.transcodedPattern.empty()) {
        EXPECT_EQ(value(out, "transcodedObject"), "<absent>");
      } else {
        std::string copy = value(out, "transcodedObject");
        EXPECT_TRUE(testsupport::matchesWhole(copy, k.transcodedPattern)) << copy;
        EXPECT_EQ(copy.rfind(worker.transcodedFolder(), 0), 0u);
        EXPECT_TRUE(testsupport::fileExists(copy));
      }
    }
  }  // the worker ended at its stop item, which it did not pass on
  c->uploadQueue().put(WorkItem{{"object", "sentinel"}});
  WorkItem next;
  c->uploadQueue().take(next);
  EXPECT_EQ(value(next, "object"), "sentinel");
}

TEST_F(Worker, ExecutablesUnderTheDefaultLimitAreCompressedAndFailuresAreLogged) {
  testsupport::writeFile(dir_.file("big.exe"), std::string(5000, 'M'));
  auto c = client();
  c->transcodeQueue().put(WorkItem{{"object", dir_.file("missing.txt")}, {"objMime", "text/plain"}});
  c->transcodeQueue().put(WorkItem{{"object", dir_.file("big.exe")}, {"objMime", "application/binary"}});
  c->transcodeQueue().put(WorkItem{});
  velkan::CCPUBoundThread worker(c->transcodeQueue(), c->uploadQueue(), *c, ZR::CRunContext::processDefaults());
  WorkItem out;
  c->uploadQueue().take(out);  // the missing file was dropped (it costs no call), the executable compressed
  EXPECT_EQ(value(out, "object"), dir_.file("big.exe"));
  EXPECT_EQ(value(out, "extraMetaData"), "cache.mimetype=application/binary\ncache.encoding=gzip\n");
  worker.join();
  EXPECT_EQ(c->vanished, std::vector<std::string>{dir_.file("missing.txt")});
}

TEST_F(Worker, TwoRunsKeepTheirOwnCopiesAndAbandonedOnesAreCleared) {
  auto c = client();
  platform::Env* env = platform::Env::defaultEnv();
  std::string base = dir_.file("transcoded");
  env->createDirectories(base + "/run-1-1");
  testsupport::writeFile(base + "/run-1-1/old.zip", "abandoned");
  {
    c->transcodeQueue().put(WorkItem{});
    velkan::CCPUBoundThread first(c->transcodeQueue(), c->uploadQueue(), *c, ZR::CRunContext::processDefaults());
    c->transcodeQueue().put(WorkItem{});
    velkan::CCPUBoundThread second(c->transcodeQueue(), c->uploadQueue(), *c, ZR::CRunContext::processDefaults());
    EXPECT_NE(first.transcodedFolder(), second.transcodedFolder());
    EXPECT_FALSE(env->fileExists(base + "/run-1-1"));
    EXPECT_TRUE(env->fileExists(first.transcodedFolder()));
    EXPECT_TRUE(env->fileExists(second.transcodedFolder()));
  }
  std::vector<std::string> left;
  env->listDirectory(base, &left);
  EXPECT_TRUE(left.empty()) << left.size();
}

TEST_F(Worker, WithoutAUsableTranscodedFolderFilesGoUnchangedAndNothingLandsInTheWorkingFolder) {
  // Both the configured folder and the fallback lie below a regular file.
  testsupport::writeFile(dir_.file("blocker"), "a file, not a folder");
  testsupport::ScopedVariable cache("XDG_CACHE_HOME", dir_.file("blocker/cache"));
  testsupport::writeFile(dir_.file("notes.txt"), "text text text");
  testsupport::writeJpeg(dir_.file("large.jpg"), 2000, 1000);
  auto host = client(-1, dir_.file("blocker/transcoded"));
  TestHost& c = *host;
  std::vector<std::string> before;
  platform::Env::defaultEnv()->listDirectory(platform::currentFolder(), &before);
  c.transcodeQueue().put(WorkItem{{"object", dir_.file("notes.txt")}, {"objMime", "text/plain"}});
  c.transcodeQueue().put(WorkItem{{"object", dir_.file("large.jpg")}, {"objMime", "image/jpeg"}});
  c.transcodeQueue().put(WorkItem{});
  velkan::CCPUBoundThread worker(c.transcodeQueue(), c.uploadQueue(), c, ZR::CRunContext::processDefaults());
  EXPECT_TRUE(worker.transcodedFolder().empty());
  WorkItem text, picture;
  c.uploadQueue().take(text);
  c.uploadQueue().take(picture);
  EXPECT_EQ(value(text, "transcodedObject"), "<absent>");
  EXPECT_EQ(value(text, "extraMetaData"), "cache.encoding=none\ncache.mimetype=text/plain\n");
  EXPECT_EQ(value(picture, "transcodedObject"), "<absent>");
  EXPECT_EQ(value(picture, "extraMetaData"),
            "cache.mimetype=image/jpeg\ncache.encoding=none\norigin.image.height=1000\norigin.image.width=2000\n"
            "cache.image.height=1000\ncache.image.width=2000\n");
  worker.join();
  std::vector<std::string> after;
  platform::Env::defaultEnv()->listDirectory(platform::currentFolder(), &after);
  EXPECT_EQ(after.size(), before.size());
  ZR::CLogManager::instance()->flush();
  EXPECT_EQ(testsupport::countOf(testsupport::readFile(dir_.file("velkan.log")), "files are sent unchanged"), 1u);
}

}  // namespace
