#include "agent/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "agent/backup.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/testing/memory_env.h"
#include "tests/test_support.h"

namespace {

using testsupport::writeFile;

// What a walk told its sink.
class Recorder : public agent::ScanSink {
 public:
  void folder(std::string_view path) override { folders.emplace_back(path); }
  void file(std::string_view path, uint64_t size, int64_t modified) override {
    files[std::string(path)] = {size, modified};
  }
  std::vector<std::string> folders;
  std::map<std::string, std::pair<uint64_t, int64_t>> files;
};

// Folder listings of one path fail, as an unreadable folder's do.
class UnreadableFolderEnv : public platform::EnvWrapper {
 public:
  UnreadableFolderEnv(platform::Env* target, std::string folder) : EnvWrapper(target), folder_(std::move(folder)) {}
  platform::Status scanDirectory(const std::string& p, std::vector<platform::DirectoryEntry>* e) override {
    if (p == folder_) return platform::Status::ioError("cannot list " + p + ": Permission denied");
    return target()->scanDirectory(p, e);
  }

 private:
  std::string folder_;
};

class FolderScan : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.file("ann");
    platform::Env::defaultEnv()->createDirectories(root_ + "/docs/sub");
    platform::Env::defaultEnv()->createDirectories(root_ + "/with space/\xE6\x97\xA5\xE6\x9C\xAC");
    writeFile(root_ + "/docs/a.txt", "hello");
    writeFile(root_ + "/docs/sub/b.tmp", "scratch");
    writeFile(root_ + "/with space/\xE6\x97\xA5\xE6\x9C\xAC/caf\xC3\xA9.txt", "12345678");
    writeFile(root_ + "/empty.txt", "");
    platform::setModifiedTime(root_ + "/docs/a.txt", 1700000000);
    watch_.hostPath = root_;
    watch_.logicalPath = "c:\\home\\ann";
    watch_.excludes = {"*.tmp"};
  }
  testsupport::TempDir dir_;
  std::string root_;
  agent::WatchedFolder watch_;
};

TEST_F(FolderScan, ListsEveryFileWithSizeAndTimeUnderLogicalPaths) {
  Recorder sink;
  agent::ScanResult result;
  ASSERT_TRUE(agent::scanFolders(*platform::Env::defaultEnv(), {watch_}, sink, result));
  EXPECT_EQ(sink.files.size(), 3u);
  EXPECT_EQ(sink.files["c:\\home\\ann\\docs\\a.txt"], std::make_pair(uint64_t{5}, int64_t{1700000000}));
  EXPECT_EQ(sink.files["c:\\home\\ann\\empty.txt"].first, 0u);
  EXPECT_EQ(sink.files["c:\\home\\ann\\with space\\\xE6\x97\xA5\xE6\x9C\xAC\\caf\xC3\xA9.txt"].first, 8u);
  EXPECT_EQ(result.excluded, 1u);
  EXPECT_EQ(result.files, 3u);
  EXPECT_EQ(result.bytes, 13u);
  EXPECT_FALSE(result.incomplete());
  // Folders come before what they hold.
  ASSERT_FALSE(sink.folders.empty());
  EXPECT_EQ(sink.folders.front(), "c:\\home\\ann");
}


// What the exclude patterns leave out of a walk, on a tree held in memory:
// names at any depth, whole paths, a folder with everything below it.
TEST(FolderScanRules, ExcludePatternsLeaveOutWhatTheyName) {
  platform::MemoryEnv tree;
  for (const char* file : {"docs/a.txt", "docs/a.tmp", "docs/sub/b.tmp", "docs/sub/c.txt", "build/out/x.o",
                           "build/y.o", "node_modules/m/index.js", "src/node_modules.txt", "src/main.cpp"}) {
    tree.addFile(std::string("/home/ann/") + file, "12345");
  }
  struct Case {
    std::vector<std::string> patterns;
    std::vector<std::string> kept;  // below c:\home\ann, "/" between parts
  };
  const Case cases[] = {
      {{}, {"build/out/x.o", "build/y.o", "docs/a.tmp", "docs/a.txt", "docs/sub/b.tmp", "docs/sub/c.txt",
            "node_modules/m/index.js", "src/main.cpp", "src/node_modules.txt"}},
      {{"*.tmp"}, {"build/out/x.o", "build/y.o", "docs/a.txt", "docs/sub/c.txt", "node_modules/m/index.js",
                   "src/main.cpp", "src/node_modules.txt"}},
      {{"node_modules", "build/**"}, {"docs/a.tmp", "docs/a.txt", "docs/sub/b.tmp", "docs/sub/c.txt",
                                      "src/main.cpp", "src/node_modules.txt"}},
      {{"build", "docs/*.t?t", "src"}, {"docs/a.tmp", "docs/sub/b.tmp", "docs/sub/c.txt", "node_modules/m/index.js"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.patterns));
    agent::WatchedFolder watch{"/home/ann", "c:\\home\\ann", c.patterns};
    Recorder sink;
    agent::ScanResult result;
    ASSERT_TRUE(agent::scanFolders(tree, {watch}, sink, result));
    std::vector<std::string> kept;
    for (const auto& [path, data] : sink.files) {
      std::string relative = path.substr(std::string("c:\\home\\ann\\").size());
      std::replace(relative.begin(), relative.end(), '\\', '/');
      kept.push_back(relative);
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(result.files, c.kept.size());
    EXPECT_EQ(result.bytes, 5 * c.kept.size());
  }
}

TEST_F(FolderScan, AnUnreadableFolderIsReportedAndKeptAsTheCacheHoldsIt) {
  UnreadableFolderEnv unreadable(platform::Env::defaultEnv(), platform::joinPath(root_, "docs"));
  agent::AgentConfig config;
  config.env = &unreadable;
  config.watches = {watch_};
  config.dirContent = dir_.file("dir.xml");
  std::vector<agent::CachedFile> cached = {
      {"c:\\home\\ann\\docs\\a.txt", 40, "5", "1700000000", "", "", false, 0},
      {"c:\\home\\ann\\docs\\sub\\old.txt", 9, "20", "1600000000", "", "", false, 0},
      {"c:\\home\\ann\\docsx.txt", 9, "20", "1600000000", "", "", false, 0},  // beside the folder, not in it
  };
  agent::ScanResult result;
  ASSERT_TRUE(agent::writeDirContent(config, &cached, result));
  EXPECT_TRUE(result.incomplete());
  ASSERT_EQ(result.unreadable.size(), 1u);
  EXPECT_EQ(result.unreadable[0], "c:\\home\\ann\\docs");
  std::string snapshot = testsupport::readFile(config.dirContent);
  EXPECT_NE(snapshot.find("<file path=\"c:\\home\\ann\\docs\\sub\\old.txt\"><origin-size>20</origin-size>"
                          "<origin-modified>1600000000</origin-modified></file>"),
            std::string::npos)
      << snapshot;
  EXPECT_EQ(snapshot.find("docsx.txt"), std::string::npos);
  std::string error;
  std::unique_ptr<ZR::CXmlElement> document(ZR::CXmlBuilder::fileToDocument(config.dirContent, error));
  ASSERT_TRUE(document) << error;
}

TEST_F(FolderScan, AMissingWatchedFolderFailsAndWritesNothing) {
  agent::AgentConfig config;
  config.env = platform::Env::defaultEnv();
  agent::WatchedFolder missing = watch_;
  missing.hostPath = dir_.file("no-such-folder");
  config.watches = {missing};
  config.dirContent = dir_.file("dir.xml");
  agent::ScanResult result;
  platform::Status status = agent::writeDirContent(config, nullptr, result);
  EXPECT_FALSE(status);
  EXPECT_NE(status.message().find("no-such-folder"), std::string::npos);
  EXPECT_FALSE(testsupport::fileExists(config.dirContent));
}

}  // namespace
