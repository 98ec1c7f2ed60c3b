// The setting of the end-to-end runs: a scratch folder with a home tree,
// one configuration for dornik and velkan, and the steps a user's scheduler
// takes (snapshot, dornik, velkan, fetching the cache listing).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/process.h"
#include "platform/path.h"
#include "tests/local_service_fixture.h"
#include "tests/snapshot_maker.h"

namespace testsupport {

class VelkanFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = {{"ZR_IPC_NAMESPACE", "velkan-e2e-" + std::to_string(platform::processId())}};
#ifndef _WIN32
    // Drive c: of the programs is the scratch folder, so that the tree's
    // logical paths are c:\home\ann\... (on Windows they are real paths).
    env_["VELKAN_DRIVE_C"] = dir_.path();
#endif
    platform::Env::defaultEnv()->createDirectories(dir_.file("work/status"));
    writeFile(dir_.file("auth.xml"), "<agent>ann</agent>");
  }
  std::string home(const std::string& name = "") const { return dir_.file("home/ann" + (name.empty() ? "" : "/" + name)); }
  // The logical path of a file of the home tree, as listings name it.
  std::string logical(const std::string& name = "") const {
#ifdef _WIN32
    std::string out = platform::logicalPath(home(name));
    if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z') out[0] = static_cast<char>(out[0] - 'A' + 'a');  // as dornik writes it
    return out;
#else
    std::string out = "c:\\home\\ann" + (name.empty() ? "" : "\\" + name);
    for (char& c : out) c = c == '/' ? '\\' : c;
    return out;
#endif
  }
  // One configuration for both programs.
  void configure(const std::string& server, const std::string& clientExtra = "", const std::string& actionset = "") {
    std::string actions = actionset.empty() ? dir_.file("actionset.xml") : actionset;
    writeFile(dir_.file("cfg.xml"),
              "<CachingPolicyEngineConfiguration><policyEngine>"
              "<dircontent value='" + dir_.file("dir.xml") + "'/><cachecontent value='" + dir_.file("cache.xml") +
              "'/><actionset value='" + dir_.file("actionset.xml") + "'/></policyEngine>"
              "<cacheManagerClient server='" + server + "'><accessDocument path='" + dir_.file("auth.xml") +
              "'/><actionset path='" + actions + "'/><outputFile path='" + dir_.file("contents.xml") +
              "'/><CompressionWait value='0'/><transcodedFolder path='" + dir_.file("transcoded") + "'/>" +
              clientExtra + "</cacheManagerClient><logging folder='" + dir_.file("logs") +
              "'/><cabinet path='" + dir_.file("cabinet.db") + "'/></CachingPolicyEngineConfiguration>");
  }
  platform::ProcessResult runProgram(const std::vector<std::string>& argv) {
    return testsupport::run(argv, env_, dir_.file("work"));
  }
  // dornik on the current tree and cache listing: the action set for velkan.
  void plan(const std::string& server, const std::string& clientExtra = "") {
#ifdef _WIN32
    writeDirContent(home(), "", dir_.file("dir.xml"));
#else
    writeDirContent(home(), dir_.path(), dir_.file("dir.xml"));
#endif
    configure(server, clientExtra);
    auto engine = runProgram({DORNIK_PATH, dir_.file("cfg.xml")});
    EXPECT_EQ(engine.exitCode, 0) << readFile(dir_.file("logs/dornik.log"));
  }
  // plan(), then velkan on the action set (after `launcher`, e.g. a
  // program that kills it at some moment).
  platform::ProcessResult cycle(const std::string& server, const std::string& clientExtra = "",
                                const std::vector<std::string>& velkanExtra = {},
                                const std::vector<std::string>& launcher = {}) {
    plan(server, clientExtra);
    std::vector<std::string> argv = launcher;
    argv.push_back(VELKAN_PATH);
    argv.push_back(dir_.file("cfg.xml"));
    argv.insert(argv.end(), velkanExtra.begin(), velkanExtra.end());
    return runProgram(argv);
  }
  // What the cache holds, as the next dornik run sees it (velkan's getContents).
  void refreshCacheListing(const std::string& server) {
    writeOneActionSet(dir_.file("get.xml"), "getContents", logical());
    configure(server, "", dir_.file("get.xml"));
    auto fetch = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
    ASSERT_EQ(fetch.exitCode, 0) << readFile(dir_.file("logs/velkan.log"));
    writeCacheContent(dir_.file("contents.xml"), dir_.file("cache.xml"));
  }
  std::string velkanLog() { return readFile(dir_.file("logs/velkan.log")); }
  std::vector<std::string> stored(testsupport::RunningService& service) {
    std::vector<std::string> paths;
    for (const auto& f : service.service().store().filesUnder(logical())) paths.push_back(f.path);
    return paths;
  }

  testsupport::TempDir dir_;
  std::map<std::string, std::string> env_;
};

}  // namespace testsupport
