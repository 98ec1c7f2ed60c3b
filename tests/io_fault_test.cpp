// Every file operation of a run made to fail, one at a time, in the manner
// of SQLite's I/O-error tests: a clean run counts the operations under the
// run's folder, then the run is repeated failing the 1st, 2nd, ... n-th.
// After each: an exit code the program documents, every output either the
// old one or a whole new one, no temporary left behind, nothing indexed
// that was not stored, and a log line that names the file that failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "actionset/action_set_file.h"
#include "bindings/cabinet/cabinet.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/xml_builder.h"
#include "client/velkan_entry.h"
#include "engine/dornik.h"
#include "bindings/cabinet/file_index.h"
#include "platform/path.h"
#include "platform/process.h"
#include "tests/image_fixtures.h"
#include "tests/local_service_fixture.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "tests/fault_env.h"
#include "tests/test_support.h"

namespace {

using testsupport::FaultEnv;
using testsupport::readFile;
using testsupport::writeFile;

// What a failing run must leave: outputs old or whole, no temporaries.
struct Output {
  std::string path;
  std::function<bool(const std::string&)> whole;  // the content of a complete new output
};

bool parsesAsXml(const std::string& text) {
  std::string error;
  std::unique_ptr<ZR::CXmlElement> root(ZR::CXmlBuilder::textToDocument(text, error));
  return root != nullptr;
}

bool isTargetList(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    std::string line = text.substr(at, end - at);
    if (line.rfind("<dir>", 0) != 0 || line.size() < 11 || line.substr(line.size() - 6) != "</dir>") return false;
    at = end + 1;
  }
  return true;
}

std::vector<std::string> temporariesIn(const std::string& folder) {
  std::vector<std::string> names, left;
  platform::Env::defaultEnv()->listDirectory(folder, &names);
  for (const std::string& name : names) {
    if (name.find(".tmp-") != std::string::npos) left.push_back(name);
  }
  return left;
}

// The file a failed operation concerns, as a log line names it: SQLite's
// journal and shared-memory files belong to the index they serve.
std::string concernedFile(const std::string& path) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    std::string s = suffix;
    if (path.size() > s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0) {
      return path.substr(0, path.size() - s.size());
    }
  }
  return path;
}

class DornikIoFaults : public ::testing::Test {
 protected:
  void SetUp() override { platform::Env::defaultEnv()->createDirectories(logs_.path()); }
  std::string data(const std::string& name) const { return data_.file(name); }
  void configure(const std::vector<std::pair<std::string, std::string>>& settings) {
    std::string xml = "<CachingPolicyEngineConfiguration><policyEngine>";
    for (const auto& [name, value] : settings) xml += "<" + name + " value=\"" + value + "\"/>";
    xml += "</policyEngine><logging folder=\"" + logs_.path() + "\"/><cabinet path=\"" + data("index.db") +
           "\"/></CachingPolicyEngineConfiguration>";
    writeFile(data("cfg.xml"), xml);
  }
  int runDornik() {
    int code = dornik::runDornik(*platform::env(), {data("cfg.xml")});
    ZR::CLogManager::shutdown();
    ZR::CConfigManager::reset();
    ZR::CCachingPolicyEngineFileManager::reset();
    ZR::CCabinet::setIndexPath("");  // lets go of the index between runs
    return code;
  }
  // Runs the clean run, then every failing one; `prepare` puts the inputs
  // and old outputs back before each run.
  void failEachOperation(const std::function<void()>& prepare, const std::vector<Output>& outputs,
                         const std::set<int>& documentedCodes) {
    FaultEnv faults(platform::Env::defaultEnv(), platform::joinPath(data_.path(), ""));
    platform::ScopedEnvOverride override(&faults);
    prepare();
    faults.failAt(0);
    ASSERT_EQ(runDornik(), 0) << readFile(logs_.file("dornik.log"));
    int64_t total = faults.operations();
    ASSERT_GT(total, 5);
    std::vector<std::string> clean;
    for (const Output& out : outputs) clean.push_back(readFile(out.path));
    for (int64_t n = 1; n <= total; ++n) {
      prepare();
      platform::Env::defaultEnv()->removeFile(logs_.file("dornik.log"));
      faults.failAt(n);
      int code = runDornik();
      std::string failed = faults.failedPath();
      if (failed.empty()) continue;  // this run made fewer operations
      SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(total) + ": " + faults.failure());
      EXPECT_EQ(documentedCodes.count(code), 1u) << code;
      bool asClean = true;
      for (size_t i = 0; i < outputs.size(); ++i) {
        std::string content = readFile(outputs[i].path);
        EXPECT_TRUE(content == "old " + outputs[i].path || outputs[i].whole(content)) << outputs[i].path << ":\n" << content;
        asClean = asClean && content == clean[i];
      }
      EXPECT_TRUE(temporariesIn(data_.path()).empty());
      // A failure that changed the outcome is told, with the file it concerns.
      std::string said = readFile(logs_.file("dornik.log")) + ZR::CCachingPolicyEngineFileManager::lastError() +
                         ZR::CConfigManager::lastError();
      bool named = said.find(concernedFile(failed)) != std::string::npos;
      if (code != 0 || !asClean) {
        EXPECT_TRUE(named) << said;
      }
      if (std::getenv("ZR_IO_FAULT_TRACE")) {
        std::printf("%lld %s -> %d %s%s\n", static_cast<long long>(n), faults.failure().c_str(), code,
                    named ? "named" : "not named", asClean ? "" : ", outputs changed");
      }
    }
  }
  testsupport::TempDir data_;
  testsupport::TempDir logs_;
};

bool wholeActionSet(const std::string& text) {
  return parsesAsXml(text) && text.find("<action name=\"delete\"") != std::string::npos;
}

TEST_F(DornikIoFaults, ActionSetModeWithTheIndexRefresh) {
  configure({{"dircontent", data("dir.xml")},
             {"cachecontent", data("cache.xml")},
             {"actionset", data("actions.xml")},
             {"from_contentcleanup", "true"}});
  auto prepare = [&] {
    writeFile(data("dir.xml"),
              "<dir-content><directory path='c:/d'/><file path='c:/d/a.txt'><origin-size>1</origin-size>"
              "<origin-modified>2</origin-modified></file><file path='c:/d/b.txt'/></dir-content>");
    writeFile(data("cache.xml"),
              "<cache-content><directory path='c:/old'/><file path='c:/d/a.txt'><origin-size>1</origin-size>"
              "<origin-modified>2</origin-modified><state>1</state><cache-actualsize>1</cache-actualsize></file>"
              "</cache-content>");
    writeFile(data("actions.xml"), "old " + data("actions.xml"));
  };
  failEachOperation(prepare, {{data("actions.xml"), wholeActionSet}}, {0, 100, 101, 102, 103});
}

TEST_F(DornikIoFaults, UnpersistedDirectoriesMode) {
  configure({{"generate_action_set", "false"},
             {"currentpolicylist", data("current.xml")},
             {"prevpolicylist", data("previous.xml")},
             {"expiredpolicyfile", data("expired.xml")},
             {"unpersistedDirs", data("unpersisted.xml")},
             {"currentDirXml", data("current.txt")},
             {"prevDirXml", data("previous.txt")}});
  auto prepare = [&] {
    writeFile(data("current.xml"), "<p><policy value='1'><t><target>/c/Data</target></t></policy></p>");
    writeFile(data("previous.xml"),
              "<p><policy value='1'><t><target>/c/Data</target></t></policy>"
              "<policy value='2'><t><target>/d/Old</target></t></policy></p>");
    writeFile(data("expired.xml"), "<e><id>9</id></e>");
    for (const char* name : {"unpersisted.xml", "current.txt", "previous.txt"}) writeFile(data(name), "old " + data(name));
  };
  failEachOperation(prepare,
                    {{data("unpersisted.xml"), parsesAsXml},
                     {data("current.txt"), isTargetList},
                     {data("previous.txt"), isTargetList}},
                    {0, 100, 103, -1});
}

TEST_F(DornikIoFaults, UnpersistedActionSetMode) {
  configure({{"generate_action_set", "false"},
             {"generate_unpersisted_dirs", "false"},
             {"currdircontent", data("current.xml")},
             {"prevdircontent", data("previous.xml")},
             {"unpersistedactionset", data("delete.xml")}});
  auto prepare = [&] {
    writeFile(data("current.xml"), "<dir-content><file path='c:\\a'/></dir-content>");
    writeFile(data("previous.xml"), "<dir-content><file path='c:\\a'/><directory path='c:\\gone'/></dir-content>");
    writeFile(data("delete.xml"), "old " + data("delete.xml"));
  };
  failEachOperation(prepare, {{data("delete.xml"), wholeActionSet}}, {0, 100, 103, -1});
}

// ---- velkan: a getContents fetch, a deletion and three uploads (a gzip
// copy, a re-encoded picture, a file sent as it is), with the status files
// and the file index.

class VelkanIoFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Env::defaultEnv()->createDirectories(logs_.path());
    previousFolder_ = platform::currentFolder();
  }
  void TearDown() override { platform::setCurrentFolder(previousFolder_); }
  std::string data(const std::string& name) const { return data_.file(name); }
  // The logical path of a file of the home tree: drive c: is the data
  // folder (VELKAN_DRIVE_C) here, the real path on Windows.
  std::string logical(const std::string& name) const {
#ifdef _WIN32
    std::string path = platform::logicalPath(data("home\\ann\\" + name));
    if (!path.empty() && path[0] >= 'A' && path[0] <= 'Z') path[0] = static_cast<char>(path[0] - 'A' + 'a');
    return path;
#else
    return "c:\\home\\ann\\" + name;
#endif
  }

  // Inputs, old outputs and old state, as before every run.
  void prepare(const std::string& server) {
    platform::Env* env = platform::Env::defaultEnv();
    env->removeTree(data("transcoded"));
    env->removeTree(data("work"));
    env->removeFile(data("cabinet.db"));
    env->removeFile(data("cabinet.db-wal"));
    env->removeFile(data("cabinet.db-shm"));
    env->createDirectories(data("work/status"));
    writeFile(data("home/ann/notes.txt"), std::string(3000, 'n'));
    testsupport::writeGif(data("home/ann/anim.gif"), 40, 30);
    writeFile(data("home/ann/song.mp3"), std::string(2000, 'm'));
    // Written a while ago: a file changed this very second is read only once
    // the second is over, a wait each of the runs would sit out.
    for (const char* name : {"notes.txt", "anim.gif", "song.mp3"}) {
      platform::setModifiedTime(data(std::string("home/ann/") + name), platform::unixTimeSeconds() - 60);
    }
    writeFile(data("auth.xml"), "<agent>ann</agent>");
    writeFile(data("contents.xml"), "old " + data("contents.xml"));
    writeFile(data("work/status/cs_waiting.xml"),
              "<cs_waiting origin='velkan'><file><path>" + logical("notes.txt") +
                  "</path><policy>remotepolicies/p.xml</policy></file></cs_waiting>");
    std::string create;
    for (const char* name : {"notes.txt", "anim.gif", "song.mp3"}) {
      create += "<file path='" + logical(name) + "'><offset value='0'/><mimeType name='x/y'/></file>";
    }
    writeFile(data("actionset.xml"), "<action-set><action name='getContents'><directory path='" + logical("") +
                                         "'/></action><action name='delete'><file path='" + logical("gone.txt") +
                                         "'/></action><action name='create'>" + create + "</action></action-set>");
    writeFile(data("cfg.xml"), "<CachingPolicyEngineConfiguration><cacheManagerClient server='" + server +
                                   "'><accessDocument path='" + data("auth.xml") + "'/><actionset path='" +
                                   data("actionset.xml") + "'/><outputFile path='" + data("contents.xml") +
                                   "'/><CompressionWait value='0'/><transcodedFolder path='" + data("transcoded") +
                                   "'/></cacheManagerClient><logging folder='" + logs_.path() + "'/><cabinet path='" +
                                   data("cabinet.db") + "'/></CachingPolicyEngineConfiguration>");
    ZR::CFileIndex index(*platform::env(), data("cabinet.db"));
    index.addFileItem(logical("gone.txt"), 1, 1);
  }
  int runVelkan() {
    platform::setCurrentFolder(data("work"));
    int code = velkan::runVelkan({data("cfg.xml")});
    platform::setCurrentFolder(previousFolder_);
    ZR::CLogManager::shutdown();
    ZR::CConfigManager::reset();
    ZR::CCabinet::setIndexPath("");
    return code;
  }
  // The paths the index holds as uploaded, each checked against the store.
  std::set<std::string> indexedAndStored(testsupport::RunningService& service) {
    std::set<std::string> held;
    for (const char* name : {"notes.txt", "anim.gif", "song.mp3", "gone.txt"}) {
      ZR::CFileIndex index(*platform::env(), data("cabinet.db"));
      ZR::CFileEntry entry;
      if (!index.lookup(logical(name), entry)) continue;
      held.insert(name);
      if (std::string(name) == "gone.txt") continue;  // its deletion failed: it stays, as before the run
      localservice::CacheStore::Content stored = service.service().store().content(logical(name));
      EXPECT_TRUE(stored.found) << name << " is indexed but not stored";
      if (!stored.found) continue;
      std::string content = testsupport::storedContent(service.service().store(), logical(name));
      if (std::string(name) == "notes.txt") content = testsupport::gunzipBytes(content);
      if (std::string(name) == "anim.gif") {
        EXPECT_FALSE(content.empty());
      } else {
        EXPECT_EQ(content, readFile(data("home/ann/" + std::string(name)))) << name;
      }
    }
    return held;
  }
  std::vector<std::string> leftovers() {
    std::vector<std::string> left;
    for (const char* folder : {"", "work", "work/status"}) {
      for (const std::string& name : temporariesIn(data(folder))) left.push_back(std::string(folder) + "/" + name);
    }
    std::vector<std::string> runs;
    platform::Env::defaultEnv()->listDirectory(data("transcoded"), &runs);
    for (const std::string& name : runs) left.push_back("transcoded/" + name);
    return left;
  }

  testsupport::TempDir data_;
  testsupport::TempDir logs_;
  std::string previousFolder_;
};

TEST_F(VelkanIoFaults, EveryFileOperationOfARun) {
  testsupport::ScopedVariable drive("VELKAN_DRIVE_C", data_.path());
  testsupport::ScopedVariable ipc("ZR_IPC_NAMESPACE", "io-fault-" + std::to_string(platform::processId()));
  FaultEnv faults(platform::Env::defaultEnv(), platform::joinPath(data_.path(), ""));
  platform::ScopedEnvOverride override(&faults);
  std::set<std::string> cleanHeld;
  std::string cleanOutput;
  int64_t total = 0;
  {
    testsupport::RunningService service;
    prepare(service.server());
    faults.failAt(0);
    ASSERT_EQ(runVelkan(), 0) << readFile(logs_.file("velkan.log"));
    total = faults.operations();
    cleanHeld = indexedAndStored(service);
    cleanOutput = readFile(data("contents.xml"));
    ASSERT_EQ(cleanHeld, (std::set<std::string>{"notes.txt", "anim.gif", "song.mp3"}));
    ASSERT_TRUE(leftovers().empty());
  }
  ASSERT_GT(total, 20);
  for (int64_t n = 1; n <= total; ++n) {
    testsupport::RunningService service;
    faults.failAt(-1);
    prepare(service.server());
    platform::Env::defaultEnv()->removeFile(logs_.file("velkan.log"));
    faults.failAt(n);
    int code = runVelkan();
    std::string failed = faults.failedPath();
    if (failed.empty()) continue;
    SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(total) + ": " + faults.failure());
    // 2: the run ended, but a file it was to upload was not.
    std::set<int> documented = {0, 2, -1 & 0xFF, -102 & 0xFF};
    EXPECT_EQ(documented.count(code & 0xFF), 1u) << code;
    std::string output = readFile(data("contents.xml"));
    EXPECT_TRUE(output == "old " + data("contents.xml") || parsesAsXml(output)) << output;
    std::set<std::string> held = indexedAndStored(service);
    std::string said = readFile(logs_.file("velkan.log")) + ZR::CConfigManager::lastError();
    // The log names a file of the tree by its logical path.
    std::string home = data("home/ann/");
    std::string logicalName = failed.rfind(home, 0) == 0 ? logical(failed.substr(home.size())) : failed;
    std::string work = data("work/");
    std::string fromWork = failed.rfind(work, 0) == 0 ? failed.substr(work.size()) : failed;
    bool named = said.find(concernedFile(failed)) != std::string::npos || said.find(logicalName) != std::string::npos ||
                 said.find(concernedFile(fromWork)) != std::string::npos;
    // The status files stay whole, and a write of one that failed is told.
    for (const char* name : {"cs_waiting.xml", "cs_uploading.xml", "cs_uploadedtoday.xml"}) {
      std::string status = data("work/status/") + name;
      if (testsupport::fileExists(status)) {
        EXPECT_TRUE(parsesAsXml(readFile(status))) << name;
      }
    }
    std::string kind = faults.failure().substr(0, faults.failure().find(' '));
    bool writing = kind == "append" || kind == "sync" || kind == "close" || kind == "rename" ||
                   (kind == "open" && fromWork.find(".tmp-") != std::string::npos);
    bool statusWrite = fromWork.rfind("status/cs_", 0) == 0 && writing;
    if (statusWrite) {
      EXPECT_TRUE(named) << said;
    }
    // Only what could not be removed stays, and it is told.
    for (const std::string& left : leftovers()) {
      bool couldNotRemove = faults.failure().rfind("remove ", 0) == 0 && data(left).rfind(failed, 0) == 0;
      EXPECT_TRUE(couldNotRemove && named) << left << " left behind";
    }
    bool asClean = held == cleanHeld && output == cleanOutput;
    if (code != 0 || !asClean) {
      EXPECT_TRUE(named) << said;
    }
    // A run that left a file of its list unsent never says it did all (a
    // file index that missed a record is logged; the file was sent).
    if (held.size() < cleanHeld.size() && failed.find("cabinet.db") == std::string::npos) {
      EXPECT_NE(code, 0) << "files missing, yet exit code 0";
    }
    if (std::getenv("ZR_IO_FAULT_TRACE")) {
      std::printf("%lld %s -> %d %s%s\n", static_cast<long long>(n), faults.failure().c_str(), code,
                  named ? "named" : "not named", asClean ? "" : ", outcome changed");
    }
  }
}

}  // namespace
