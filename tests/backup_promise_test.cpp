// What a backup promises, each promise against the built programs and a
// cachemanager-local of its own: the last good copy of a file stays until
// its new version is stored, an unchanged file never goes again, a change
// is never missed for falling in the same second, a link is never
// followed, skips by rule are no problems, and a full store says so.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/agent_fixture.h"
#include "tests/service_process.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testsupport::readFile;
using testsupport::writeFile;

class Promise : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
    AgentFixture::SetUp();
    writeFile(home("docs/report.txt"), "the report, first version\n");
    writeFile(home("docs/data.csv"), "-1,2,3\n");
    writeFile(home("music/tune.bin"), std::string(70000, 't'));
  }
  bool startService(const std::vector<std::string>& options = {}) {
    if (!service_.start(options)) return false;
    configureAgent(service_.server());
    return true;
  }
  testsupport::TempDir store_;
  testsupport::ServiceProcess service_{SERVICE_PATH, store_.path()};
};

// A changed file whose upload fails keeps its cached copy: every way the
// new version can fail leaves the old one restorable.
TEST_F(Promise, AChangedFileKeepsItsCachedCopyUntilTheNewOneIsStored) {
  ASSERT_TRUE(startService());
  auto first = backup();
  ASSERT_EQ(first.exitCode, 0) << explain(first);
  writeFile(home("docs/report.txt"), "the report, second version, longer\n");
  for (const char* failing : {"createFile=-8:5", "writeFileAttachment=-7:5", "finalizeFile=-5:5"}) {
    SCOPED_TRACE(failing);
    ASSERT_TRUE(startService({"--fault-answer", failing}));
    auto failed = backup();
    EXPECT_EQ(failed.exitCode, 1) << explain(failed);
    EXPECT_NE(failed.standardOutput.find("to delete: 0 files"), std::string::npos) << failed.standardOutput;
    EXPECT_NE(failed.standardOutput.find("deletions: 0 of 0 carried out"), std::string::npos) << failed.standardOutput;
    EXPECT_EQ(cached()["docs/report.txt"], "the report, first version\n");
  }
  ASSERT_TRUE(startService());
  auto check = agent({"check", dir_.file("cfg.xml")});
  EXPECT_NE(check.standardOutput.find("changed since they were cached: 1"), std::string::npos) << check.standardOutput;
  ASSERT_EQ(backup().exitCode, 0);
  EXPECT_EQ(cached()["docs/report.txt"], "the report, second version, longer\n");
}

// Every file velkan could not store reaches the user with its reason, as
// many as there are (velkan's progress file keeps only the last few while
// it runs), each once, on the terminal and in the JSON report.
TEST_F(Promise, EveryFileNotUploadedIsListedOnceWithItsReason) {
  constexpr int kFiles = 45;
  for (int i = 0; i < kFiles; ++i) writeFile(home("many/f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
  ASSERT_TRUE(startService({"--fault-answer", "createFile=-8:1000"}));
  auto run = backup({"--json"});
  EXPECT_EQ(run.exitCode, 1) << explain(run);
  size_t listed = 0;
  for (size_t at = run.standardOutput.find("\"what\": "); at != std::string::npos;
       at = run.standardOutput.find("\"what\": ", at + 1)) {
    ++listed;
  }
  EXPECT_EQ(listed, static_cast<size_t>(kFiles + 3)) << run.standardOutput;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt\"";
    EXPECT_NE(run.standardOutput.find(name), std::string::npos) << name;
  }

  auto plain = backup();
  size_t lines = 0;
  for (size_t at = plain.standardOutput.find("not uploaded "); at != std::string::npos;
       at = plain.standardOutput.find("not uploaded ", at + 1)) {
    ++lines;
  }
  EXPECT_GE(lines, static_cast<size_t>(kFiles + 3)) << plain.standardOutput;
}

// Whatever the local file index holds (none, another configuration's),
// what the service lists decides: the plan and the run agree.
TEST_F(Promise, UnchangedFilesNeverGoAgainWhateverTheIndexHolds) {
  ASSERT_TRUE(startService());
  writeFile(home("docs/empty.txt"), "");
  ASSERT_EQ(backup().exitCode, 0);
  for (const char* state : {"missing", "empty"}) {
    SCOPED_TRACE(state);
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
    if (std::string(state) == "empty") writeFile(dir_.file("cabinet.db"), "");
    auto again = backup();
    ASSERT_EQ(again.exitCode, 0) << explain(again);
    EXPECT_NE(again.standardOutput.find("to upload: 0 files"), std::string::npos) << again.standardOutput;
    EXPECT_NE(again.standardOutput.find("uploaded: 0 of 0 files"), std::string::npos) << again.standardOutput;
  }
}

// A change in the same second as the file's last upload, with the same
// size, is seen by the next backup.
TEST_F(Promise, AChangeInTheSameSecondWithTheSameSizeIsSeen) {
  ASSERT_TRUE(startService());
  for (int round = 0; round < 2; ++round) {
    int64_t now = platform::unixTimeMs();
    platform::sleepMs(static_cast<uint32_t>(1000 - now % 1000 + 20));  // just after a second begins
    writeFile(home("docs/report.txt"), "version A of the text " + std::to_string(round));
    ASSERT_EQ(backup().exitCode, 0);
    writeFile(home("docs/report.txt"), "version B of the text " + std::to_string(round));
    auto check = agent({"check", dir_.file("cfg.xml")});
    EXPECT_EQ(check.exitCode, 1) << "a stale copy called current: " << check.standardOutput;
    ASSERT_EQ(backup().exitCode, 0);
    EXPECT_EQ(cached()["docs/report.txt"], "version B of the text " + std::to_string(round));
  }
}

#ifndef _WIN32
// A watched subfolder moved elsewhere and replaced by a link is no
// deletion: its cached files stay and the backup says why.
TEST_F(Promise, AFolderThatBecameALinkKeepsItsCachedFiles) {
  ASSERT_TRUE(startService());
  ASSERT_EQ(backup().exitCode, 0);
  platform::Env::defaultEnv()->createDirectories(dir_.file("elsewhere"));
  ASSERT_TRUE(platform::Env::defaultEnv()->renameFile(home("docs"), dir_.file("elsewhere/docs")));
  ASSERT_EQ(::symlink(dir_.file("elsewhere/docs").c_str(), home("docs").c_str()), 0);
  auto run = backup();
  EXPECT_EQ(run.exitCode, 0) << explain(run);
  EXPECT_NE(run.standardOutput.find("1 x a link to a folder"), std::string::npos) << run.standardOutput;
  EXPECT_NE(run.standardOutput.find("to delete: 0 files"), std::string::npos) << run.standardOutput;
  EXPECT_EQ(cached()["docs/report.txt"], "the report, first version\n");
}

// A folder swapped for a link after the scan: velkan refuses the file,
// names the link, and stores nothing from outside the watched folders.
TEST_F(Promise, AFolderSwappedForALinkAfterTheScanIsNeverFollowed) {
  ASSERT_TRUE(startService());
  writeFile(home("docs/new.txt"), "inside");
  writeFile(dir_.file("outside/new.txt"), "a secret from outside");
  ASSERT_EQ(backup({"--dry-run"}).exitCode, 0);  // the action set velkan is to carry out
  platform::Env::defaultEnv()->removeTree(home("docs"));
  ASSERT_EQ(::symlink(dir_.file("outside").c_str(), home("docs").c_str()), 0);
  auto run = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
  EXPECT_NE(run.exitCode, 0);
  EXPECT_NE(velkanLog().find(home("docs") + " is a link; links are not followed"), std::string::npos) << velkanLog();
  std::map<std::string, std::string> now = cached();
  EXPECT_EQ(now.count("docs/new.txt"), 0u) << now["docs/new.txt"];
}

// Skips by rule are counted and end well (0); a real problem is listed and
// ends with 1.
TEST_F(Promise, SkipsByRuleAreNoProblemsAndRealProblemsComeFirst) {
  ASSERT_TRUE(startService());
  ASSERT_EQ(::symlink("..", home("docs/up").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", home("docs/dangling").c_str()), 0);
  ASSERT_EQ(::symlink(home("docs/report.txt").c_str(), home("docs/alias.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(home("pipe").c_str(), 0600), 0);
  auto clean = backup();
  EXPECT_EQ(clean.exitCode, 0) << explain(clean);
  EXPECT_NE(clean.standardOutput.find("skipped by rule"), std::string::npos) << clean.standardOutput;
  EXPECT_EQ(clean.standardOutput.find("problems:"), std::string::npos) << clean.standardOutput;
  writeFile(home("docs/caf\xE9.txt"), "a name that is not UTF-8");
  auto troubled = backup();
  EXPECT_EQ(troubled.exitCode, 1) << explain(troubled);
  size_t problems = troubled.standardOutput.find("problems: 1 file or folder could not be read");
  ASSERT_NE(problems, std::string::npos) << troubled.standardOutput;
  EXPECT_NE(troubled.standardOutput.find("not UTF-8", problems), std::string::npos) << troubled.standardOutput;
}

// Ctrl-C in the middle of a large changed file's upload: the cached copy
// of the old version stays.
TEST_F(Promise, AnInterruptedUploadLeavesTheOldCopy) {
  ASSERT_TRUE(startService({"--fault-slow-read", "2000000"}));
  std::string big(6 << 20, 'o');
  writeFile(home("video/big.bin"), big);
  ASSERT_EQ(backup().exitCode, 0);
  writeFile(home("video/big.bin"), std::string(6 << 20, 'n'));
  platform::ChildProcess run;
  std::map<std::string, std::string> environment = env_;
  ASSERT_TRUE(run.start({CACHEAGENT_PATH, "backup", dir_.file("cfg.xml")}, environment, dir_.file("work"), true));
  std::string line;
  while (run.readLine(line, 20000) && line.rfind("to upload:", 0) != 0) {
  }
  platform::sleepMs(1500);  // well into the upload
  ::kill(-run.processId(), SIGINT);
  EXPECT_EQ(run.wait(), 130);
  EXPECT_EQ(cached()["video/big.bin"], big);
}
#endif

// A store that is full says so in one line, and the cached copies stay.
TEST_F(Promise, AFullStoreIsNamedInOneLine) {
  ASSERT_TRUE(startService({"--quota", "100000"}));
  ASSERT_EQ(backup().exitCode, 0);
  for (int i = 0; i < 5; ++i) writeFile(home("more/f" + std::to_string(i) + ".bin"), std::string(40000, 'm'));
  auto full = backup();
  EXPECT_EQ(full.exitCode, 1) << explain(full);
  EXPECT_EQ(testsupport::countOf(full.standardError, "\n"), 1u) << "[" << full.standardError << "]";
  EXPECT_NE(full.standardError.find("the cache manager's store at " + service_.server() + " is full"), std::string::npos)
      << full.standardError;
  // The uploads stop at the first -9: the files under way on the run's
  // upload sessions at most, each told as it ends and once in the summary.
  EXPECT_LE(testsupport::countOf(full.standardOutput, "(result -9)"), 2 * 8u) << full.standardOutput;
  EXPECT_EQ(cached()["docs/report.txt"], "the report, first version\n");
}

}  // namespace
