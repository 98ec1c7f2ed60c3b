// The upload worker against cachemanager-local: what the service stored,
// the metadata it received, the file index and the status files.
#include "upload/net_bound_thread.h"
#include "pipeline/upload_item.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "bindings/cabinet/cabinet.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/process.h"
#include "client/ccm_client.h"
#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"

namespace {

using velkan::WorkItem;

class Uploads : public testsupport::LoggingTest {
 protected:
  void SetUp() override {
    platform::setEnvironmentVariable("ZR_IPC_NAMESPACE", "net-test-" + std::to_string(platform::processId()));
    testsupport::writeFile(dir_.file("auth.xml"), "agent");
    LoggingTest::SetUp();
    if (HasFatalFailure()) return;
    ZR::CCabinet::setIndexPath(dir_.file("cabinet.db"));
    platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
    testsupport::writeFile(dir_.file("status/cs_waiting.xml"),
                           "<cs_waiting origin='velkan'><file><path>" + dir_.file("a.txt") +
                               "</path><policy>remotepolicies/p.xml</policy></file>"
                               "<file><path>c:\\other</path><policy>remotepolicies/p.xml</policy></file></cs_waiting>");
  }
  void TearDown() override {
    ZR::CCabinet::setIndexPath("");
    LoggingTest::TearDown();
  }
  std::unique_ptr<velkan::CCMClient> client(const std::string& server, const std::string& extra = "") {
    testsupport::writeFile(dir_.file("cfg.xml"), "<CachingPolicyEngineConfiguration><cacheManagerClient server='" +
                                                     server + "'><accessDocument path='" + dir_.file("auth.xml") +
                                                     "'/><actionset path='x'/>" + extra +
                                                     "</cacheManagerClient></CachingPolicyEngineConfiguration>");
    auto c = std::make_unique<velkan::CCMClient>(ZR::CRunContext::processDefaults());
    c->configure(dir_.file("cfg.xml"));
    return c;
  }
  // Runs the worker over the items and a stop item.
  void upload(velkan::CCMClient& c, const std::vector<WorkItem>& items) {
    for (const WorkItem& item : items) c.uploadQueue().put(item);
    c.uploadQueue().put(WorkItem{});
    velkan::StatusFiles status(*platform::Env::defaultEnv(), dir_.file("status"));
    velkan::CNetBoundThread worker(c.uploadQueue(), c, status, ZR::CRunContext::processDefaults());
  }
  WorkItem item(const std::string& name, const std::string& content, const std::string& mime = "text/plain") {
    testsupport::writeFile(dir_.file(name), content);
    return WorkItem{{"object", dir_.file(name)}, {"objMime", mime}};
  }
  bool indexed(const std::string& path) {
    ZR::CFileEntry entry;
    return ZR::CCabinet::lookup(path, entry);
  }
  std::vector<std::string> uploadedToday() {
    std::string error;
    std::unique_ptr<ZR::CXmlElement> doc(ZR::CXmlBuilder::fileToDocument(dir_.file("status/cs_uploadedtoday.xml"), error));
    std::vector<std::string> out;
    for (size_t i = 0; doc && i < doc->getChildCount(); ++i) out.push_back(doc->getChild(i)->getChild("path")->getText());
    return out;
  }
};

TEST_F(Uploads, OriginAndPreparedCopiesWithTheirMetadata) {
  testsupport::RunningService service;
  auto c = client(service.server());
  WorkItem plain = item("a.txt", "origin text");
  WorkItem prepared = item("b.doc", std::string(5000, 'd'), "application/msword");
  testsupport::writeFile(dir_.file("copy.zip"), "gzipped bytes");
  prepared["transcodedObject"] = dir_.file("copy.zip");
  prepared["extraMetaData"] = "cache.mimetype=application/msword\ncache.encoding=gzip\n";
  upload(*c, {plain, prepared});
  auto& store = service.service().store();
  EXPECT_EQ(testsupport::storedContent(store, dir_.file("a.txt")), "origin text");
  EXPECT_EQ(testsupport::storedContent(store, dir_.file("b.doc")), "gzipped bytes");
  localservice::CacheStore::StoredFile a, b;
  ASSERT_TRUE(store.fileInfo(dir_.file("a.txt"), a));
  ASSERT_TRUE(store.fileInfo(dir_.file("b.doc"), b));
  const std::string fixed =
      "origin\\.size=11\norigin\\.modified=[0-9]+\norigin\\.modified\\.text=[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} "
      "[0-9:]{8} [0-9]{4}\norigin\\.doctype=txt\norigin\\.mimetype=text/plain\ncache\\.size=11\n";
  EXPECT_TRUE(testsupport::matchesWhole(a.metadata, fixed)) << a.metadata;
  EXPECT_NE(b.metadata.find("origin.size=5000\n"), std::string::npos);
  EXPECT_NE(b.metadata.find("cache.size=13\ncache.mimetype=application/msword\ncache.encoding=gzip\n"), std::string::npos)
      << b.metadata;
  EXPECT_TRUE(indexed(dir_.file("a.txt")));
  EXPECT_TRUE(indexed(dir_.file("b.doc")));
  // Entries already in the file are normalised when it is rewritten.
  EXPECT_EQ(uploadedToday(),
            (std::vector<std::string>{velkan::StatusFiles::normalise(dir_.file("a.txt")), dir_.file("b.doc")}));
  EXPECT_FALSE(testsupport::fileExists(dir_.file("copy.zip"))) << "the copy is removed once sent";
  EXPECT_EQ(c->limits().processedFiles(), 2);
  std::string waiting = testsupport::readFile(dir_.file("status/cs_waiting.xml"));
  EXPECT_EQ(waiting.find("a.txt"), std::string::npos);
  EXPECT_NE(waiting.find("c:\\other"), std::string::npos);
  EXPECT_NE(testsupport::readFile(dir_.file("status/cs_uploading.xml")).find("<cs_uploading/>"), std::string::npos);
  std::string text = logText();
  EXPECT_NE(text.find("CNetBoundThread started"), std::string::npos);
  EXPECT_NE(text.find("CNetBoundThread stopped"), std::string::npos);
}

TEST_F(Uploads, FailuresRecordNothing) {
  localservice::ServiceConfig config;
  config.injectedAnswers["createFile"] = {-5, 1};
  testsupport::RunningService service(config);
  auto c = client(service.server());
  WorkItem refused = item("refused.txt", "x");
  WorkItem vanished = item("vanished.txt", "y");
  platform::Env::defaultEnv()->removeFile(dir_.file("vanished.txt"));
  WorkItem injected = item("evil.txt", "z", "text/plain\norigin.size=1");
  WorkItem good = item("good.txt", "fine");
  upload(*c, {refused, vanished, injected, good});
  auto& store = service.service().store();
  for (const char* name : {"refused.txt", "vanished.txt", "evil.txt"}) {
    EXPECT_FALSE(store.content(dir_.file(name)).found) << name;
    EXPECT_FALSE(indexed(dir_.file(name))) << name;
  }
  EXPECT_TRUE(indexed(dir_.file("good.txt")));
  EXPECT_EQ(uploadedToday(), std::vector<std::string>{dir_.file("good.txt")});
  EXPECT_EQ(c->limits().processedFiles(), 2);  // the refused one counts, the ones that threw do not
  std::string text = logText();
  EXPECT_NE(text.find("CNetBoundThread::run CNetBoundThread::fillMetaData _stat to get fileinfo failed:" +
                      dir_.file("vanished.txt")),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("holds a line break; the file is not uploaded."), std::string::npos);
  EXPECT_NE(text.find("Cache Manager call : createFile in CCMClient::uploadMetaData() failed with error : -5"),
            std::string::npos);
}

TEST_F(Uploads, DroppedConnectionLeavesNoRecordAndNoCopy) {
  localservice::ServiceConfig config;
  config.dropAfterBytes = 3000;
  testsupport::RunningService service(config);
  auto c = client(service.server());
  WorkItem big = item("big.txt", std::string(200000, 'b'));
  testsupport::writeFile(dir_.file("big.zip"), std::string(100000, 'z'));
  big["transcodedObject"] = dir_.file("big.zip");
  upload(*c, {big});
  EXPECT_FALSE(indexed(dir_.file("big.txt")));
  EXPECT_TRUE(uploadedToday().empty());
  EXPECT_FALSE(testsupport::fileExists(dir_.file("big.zip")));
  EXPECT_NE(logText().find("CNetBoundThread::run Soap call failed, result code is"), std::string::npos);
}

TEST_F(Uploads, AReachedLimitStopsTheUploadsOfTheRun) {
  testsupport::RunningService service;
  auto c = client(service.server(), "<MaxFiles value='2'/>");
  std::vector<WorkItem> items;
  for (int i = 0; i < 5; ++i) items.push_back(item("f" + std::to_string(i) + ".txt", "data"));
  upload(*c, items);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(indexed(dir_.file("f" + std::to_string(i) + ".txt")), i < 2) << i;
  }
  EXPECT_TRUE(c->uploadsStopped());
  EXPECT_EQ(testsupport::countOf(logText(), "Upload file limit of 2 is reached. Total files processed are 2."), 1u);
  EXPECT_FALSE(c->storageFull());
}

TEST_F(Uploads, AFullStoreStopsTheUploadsAndIsRemembered) {
  localservice::ServiceConfig config;
  config.injectedAnswers["writeFileAttachment"] = {-9, 1};
  testsupport::RunningService service(config);
  auto c = client(service.server());
  upload(*c, {item("one.txt", "1"), item("two.txt", "2")});
  EXPECT_TRUE(c->storageFull());
  EXPECT_FALSE(indexed(dir_.file("one.txt")));
  EXPECT_FALSE(indexed(dir_.file("two.txt")));
  EXPECT_FALSE(service.service().store().content(dir_.file("two.txt")).found);
}

// A file sent as it is that changes while it is sent is never finalized in
// the version that changed: it is sent again, and the stored copy is the
// version its metadata describes.
TEST_F(Uploads, AFileThatChangesWhileItIsSentIsSentAgainInItsNewVersion) {
  localservice::ServiceConfig config;
  config.slowReadBytesPerSecond = 400000;  // half a second per file: the window for the change
  testsupport::RunningService service(config);
  auto& store = service.service().store();
  const std::string content(200000, 'v');
  struct Case {
    const char* name;
    std::function<void(const std::string&)> change;
    std::string after;
  } cases[] = {
      {"grows.bin", [](const std::string& p) { testsupport::writeFile(p, std::string(300000, 'g')); },
       std::string(300000, 'g')},
      {"shrinks.bin", [](const std::string& p) { testsupport::writeFile(p, "tiny"); }, "tiny"},
      {"replaced.bin",
       [&](const std::string& p) {
         testsupport::writeFile(p + ".new", std::string(content.size(), 'r'));
         platform::Env::defaultEnv()->renameFile(p + ".new", p);
       },
       std::string(content.size(), 'r')},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto c = client(service.server());
    WorkItem changing = item(k.name, content, "application/octet-stream");
    std::thread changer([&] {
      platform::sleepMs(150);
      k.change(dir_.file(k.name));
    });
    upload(*c, {changing});
    changer.join();
    EXPECT_EQ(testsupport::storedContent(store, dir_.file(k.name)), k.after);
    localservice::CacheStore::StoredFile stored;
    ASSERT_TRUE(store.fileInfo(dir_.file(k.name), stored));
    EXPECT_NE(stored.metadata.find("origin.size=" + std::to_string(k.after.size()) + "\n"), std::string::npos);
    EXPECT_TRUE(indexed(dir_.file(k.name)));
    EXPECT_EQ(c->limits().processedFiles(), 1);
    EXPECT_NE(logText().find(dir_.file(k.name) + " changed while it was read; it is read again"), std::string::npos);
  }
}

// A file written to all the time goes from a private copy taken while it
// held still, and the copy is one whole version of it.
TEST_F(Uploads, AFileThatNeverHoldsStillGoesFromAPrivateCopy) {
  localservice::ServiceConfig config;
  config.latencyMs = 300;  // each answer takes long enough for the file to change before the next look
  testsupport::RunningService service(config);
  platform::Env::defaultEnv()->createDirectories(dir_.file("copies"));
  auto c = client(service.server(), "<transcodedFolder path='" + dir_.file("copies") + "'/>");
  const std::string path = dir_.file("mailbox.mbox");
  WorkItem mailbox = item("mailbox.mbox", std::string(400000, 'm'), "application/octet-stream");
  std::atomic<bool> done{false};
  std::thread writer([&] {
    // Appends whole 1000-byte records, one every 50 ms: more often than an
    // upload takes, less often than a copy does.
    while (!done.load()) {
      std::unique_ptr<platform::WritableFile> out;
      if (platform::Env::defaultEnv()->openAppendable(path, &out)) {
        out->append(std::string(999, 'r').append("\n").data(), 1000);
        out->close();
      }
      platform::sleepMs(50);
    }
  });
  upload(*c, {mailbox});
  done.store(true);
  writer.join();
  auto& store = service.service().store();
  std::string stored = testsupport::storedContent(store, path);
  ASSERT_GE(stored.size(), 400000u) << logText();
  EXPECT_EQ(stored.size() % 1000, 0u) << "a whole number of records";
  EXPECT_EQ(stored.substr(0, 400000), std::string(400000, 'm'));
  localservice::CacheStore::StoredFile info;
  ASSERT_TRUE(store.fileInfo(path, info));
  EXPECT_NE(info.metadata.find("origin.size=" + std::to_string(stored.size()) + "\n"), std::string::npos);
  EXPECT_NE(logText().find(path + " never held still; it goes from a private copy taken while it did"),
            std::string::npos) << logText();
}

TEST_F(Uploads, ACopyOfAnOlderVersionIsNeverFinalized) {
  testsupport::RunningService service;
  auto c = client(service.server());
  // The run first saw version one (in the action set), then prepared a copy;
  // the file changed before the copy went out.
  velkan::UploadItem prepared = velkan::UploadItem::fromWorkItem(item("doc.txt", "version one"));
  platform::FileInfo seen;
  ASSERT_TRUE(platform::Env::defaultEnv()->getFileInfo(dir_.file("doc.txt"), &seen));
  prepared.origin = seen;
  testsupport::writeFile(dir_.file("copy.zip"), "gzip of version one");
  prepared.transcodedObject = dir_.file("copy.zip");
  prepared.extraMetaData = "cache.mimetype=text/plain\ncache.encoding=gzip\n";
  prepared.prepared = true;
  testsupport::writeFile(dir_.file("doc.txt"), "version two, longer");
  velkan::UploadItem current = velkan::UploadItem::fromWorkItem(item("other.txt", "unchanged"));
  platform::FileInfo now;
  ASSERT_TRUE(platform::Env::defaultEnv()->getFileInfo(dir_.file("other.txt"), &now));
  current.origin = now;
  upload(*c, {prepared.toWorkItem(), current.toWorkItem()});
  EXPECT_FALSE(service.service().store().content(dir_.file("doc.txt")).found);
  EXPECT_FALSE(indexed(dir_.file("doc.txt")));
  EXPECT_FALSE(testsupport::fileExists(dir_.file("copy.zip"))) << "the stale copy is removed";
  EXPECT_TRUE(indexed(dir_.file("other.txt")));
  ZR::CFileEntry entry;
  ASSERT_TRUE(ZR::CCabinet::lookup(dir_.file("other.txt"), entry));
  EXPECT_EQ(entry.originSize(), "9");  // the version that was sent
  EXPECT_NE(logText().find(dir_.file("doc.txt") + " changed while it was being sent"), std::string::npos);
  EXPECT_EQ(c->limits().processedFiles(), 2);
}

}  // namespace
