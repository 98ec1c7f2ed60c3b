// The programs' own files and their network surface, attacked: links
// planted at the files of the work folder, a work folder that cannot be
// written, and a service that takes the connection and never answers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/agent_fixture.h"
#include "tests/loopback_server.h"
#include "tests/service_process.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testsupport::readFile;
using testsupport::writeFile;

class Hardening : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
    AgentFixture::SetUp();
    writeFile(home("docs/a.txt"), "a");
  }
  testsupport::TempDir store_;
  testsupport::ServiceProcess service_{SERVICE_PATH, store_.path()};
};

#ifndef _WIN32
// A link planted at any file the backup writes is refused and named; what
// it leads to stays as it was.
TEST_F(Hardening, LinksPlantedAtTheWorkFolderFilesAreNeverWrittenThrough) {
  ASSERT_TRUE(service_.start());
  configureAgent(service_.server());
  writeFile(dir_.file("outside/victim.txt"), "untouched");
  const char* planted[] = {"work/cacheagent.lock", "work/cacheagent.lock.holder", "dir.xml", "cache.xml",
                           "actionset.xml", "work/status/cs_progress.xml"};
  for (const char* name : planted) {
    SCOPED_TRACE(name);
    platform::Env::defaultEnv()->removeFile(dir_.file(name));
    ASSERT_EQ(::symlink(dir_.file("outside/victim.txt").c_str(), dir_.file(name).c_str()), 0);
    auto run = backup();
    EXPECT_NE(run.exitCode, 0) << explain(run);
    EXPECT_EQ(readFile(dir_.file("outside/victim.txt")), "untouched");
    std::string said = run.standardError + run.standardOutput + readFile(dir_.file("logs/velkan.log"));
    EXPECT_NE(said.find(dir_.file(name) + " is a link"), std::string::npos) << said;
    platform::Env::defaultEnv()->removeFile(dir_.file(name));
  }
  EXPECT_EQ(backup().exitCode, 0) << "without the links the backup goes";
}

// A work folder that cannot be written is said to be so, never taken for a
// running backup.
TEST_F(Hardening, AWorkFolderThatCannotBeWrittenIsSaidToBeSo) {
  ASSERT_TRUE(service_.start());
  configureAgent(service_.server());
  std::string text = readFile(dir_.file("cfg.xml"));
  text.replace(text.find("workFolder='" + dir_.file("work") + "'"), 13 + dir_.file("work").size(),
               "workFolder='" + dir_.file("agentwork") + "'");
  writeFile(dir_.file("cfg.xml"), text);
  writeFile(dir_.file("agentwork"), "a file where the folder should be");
  auto run = backup();
  EXPECT_EQ(run.exitCode, 6) << explain(run);
  EXPECT_NE(run.standardError.find("cannot write in " + dir_.file("agentwork")), std::string::npos) << run.standardError;
  EXPECT_EQ(run.standardError.find("another backup"), std::string::npos);
  if (::geteuid() != 0) {  // root writes into any folder
    platform::Env::defaultEnv()->removeFile(dir_.file("agentwork"));
    platform::Env::defaultEnv()->createDirectories(dir_.file("agentwork"));
    ::chmod(dir_.file("agentwork").c_str(), 0555);
    auto readOnly = backup();
    ::chmod(dir_.file("agentwork").c_str(), 0755);
    EXPECT_EQ(readOnly.exitCode, 6) << explain(readOnly);
    EXPECT_NE(readOnly.standardError.find("Permission denied"), std::string::npos) << readOnly.standardError;
  }
}
#endif

// A service that takes the connection and says nothing: the run tells what
// it waits for every 10 s and ends at its reply time-out, with one line.
TEST_F(Hardening, ASilentServiceIsNoticedAndEndsTheRun) {
  std::atomic<bool> stop{false};
  testsupport::LoopbackServer silent([&](platform::TcpStream& stream) {
    char buffer[4096];
    while (!stop.load() && stream.read(buffer, sizeof buffer, 100) != 0) {
    }
  });
  configureAgent("127.0.0.1:" + std::to_string(silent.port()), "replyTimeout='12'");
  uint64_t started = platform::tickCountMs();
  auto run = backup();
  uint64_t took = platform::tickCountMs() - started;
  stop.store(true);
  EXPECT_EQ(run.exitCode, 4) << explain(run);
  EXPECT_GE(took, 11000u);
  EXPECT_LT(took, 40000u);
  EXPECT_NE(run.standardOutput.find("waiting for the cache manager at 127.0.0.1:" + std::to_string(silent.port()) +
                                    ": no answer to the log-in for 10"),
            std::string::npos)
      << run.standardOutput;
  EXPECT_EQ(testsupport::countOf(run.standardError, "\n"), 1u) << run.standardError;
}

}  // namespace
