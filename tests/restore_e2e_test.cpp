// Restore as a user runs it, and as a hostile service and planted links
// attack it: every file comes back byte for byte whatever its content or
// name, a lying service can make it neither write more than the original
// had nor fetch without end, nothing is ever written outside the target,
// a killed restore leaves nothing half-written, and a large file passes in
// bounded memory.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/agent_fixture.h"
#include "tests/service_process.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testsupport::patterned;
using testsupport::readFile;
using testsupport::writeFile;

[[maybe_unused]] int settingOf(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

class Restore : public testsupport::AgentFixture {
 protected:
  bool startService(const std::vector<std::string>& options = {}) {
    if (!service_.start(options)) return false;
    configureAgent(service_.server());
    return true;
  }
  platform::ProcessResult restore(const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"restore", dir_.file("cfg.xml")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return agent(arguments);
  }
  testsupport::TempDir store_;
  testsupport::ServiceProcess service_{SERVICE_PATH, store_.path()};
};

TEST_F(Restore, EveryFileComesBackWhateverItsContentOrName) {
  std::string boundary = patterned((1 << 20) + 5000, 1);
  boundary.replace(1 << 20, 3, "-7 ");  // a range of its own begins so
  std::map<std::string, std::string> files = {
      {"docs/-1.csv", "-1,2,3\n-4,5,6\n"},
      {"docs/minus.bin", "-3 is how this starts"},
      {"docs/boundary.bin", boundary},
      {"docs/empty.txt", ""},
      {"docs/" + std::string(250, 'n') + ".txt", "a long name"},
      {"big/text.txt", patterned(3 << 20, 2)},
#ifndef _WIN32
      {"docs/meeting 10:30.txt", "a colon is a name's"},
#endif
  };
  for (const auto& [name, content] : files) writeFile(home(name), content);
  ASSERT_TRUE(startService());
  auto backup1 = backup();
  ASSERT_EQ(backup1.exitCode, 0) << explain(backup1);
  std::string output;
  std::map<std::string, std::string> back = cached(&output);
  EXPECT_TRUE(back == files) << output;
  auto check = agent({"check", dir_.file("cfg.xml")});
  EXPECT_EQ(check.exitCode, 0) << check.standardOutput;
}

TEST_F(Restore, WhatYouAskForSingleFilesGlobsDryRunAndListing) {
  writeFile(home("docs/a.txt"), "a");
  writeFile(home("docs/b.bin"), "b");
  writeFile(home("docs/sub/c.txt"), "c");
  writeFile(home("other/d.txt"), "d");
  ASSERT_TRUE(startService());
  ASSERT_EQ(backup().exitCode, 0);
  auto one = restore({logical("docs\\sub\\c.txt"), dir_.file("one")});
  ASSERT_EQ(one.exitCode, 0) << explain(one);
  EXPECT_EQ(testsupport::filesBelow(dir_.file("one")), (std::map<std::string, std::string>{{"c.txt", "c"}}));
  auto globbed = restore({logical("docs"), logical("other"), dir_.file("globbed"), "--include", "*.txt", "--exclude",
                          "sub/**"});
  ASSERT_EQ(globbed.exitCode, 0) << explain(globbed);
  EXPECT_EQ(testsupport::filesBelow(dir_.file("globbed")),
            (std::map<std::string, std::string>{{"a.txt", "a"}, {"d.txt", "d"}}));
  auto dry = restore({logical(), dir_.file("dry"), "--dry-run"});
  EXPECT_EQ(dry.exitCode, 0);
  EXPECT_NE(dry.standardOutput.find("would restore 4 files"), std::string::npos) << dry.standardOutput;
  EXPECT_FALSE(testsupport::fileExists(dir_.file("dry/docs/a.txt")));
  auto nothing = restore({logical("nowhere"), dir_.file("none")});
  EXPECT_EQ(nothing.exitCode, 1);
  auto listed = agent({"ls", dir_.file("cfg.xml"), logical("docs"), "--long"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_NE(listed.standardOutput.find("gzip   " + logical("docs\\a.txt")), std::string::npos) << listed.standardOutput;
  EXPECT_NE(listed.standardOutput.find("3 files"), std::string::npos) << listed.standardOutput;
}

// Each way a service can lie about sizes ends the file's restore at once,
// with nothing written beyond the original and nothing left behind.
TEST_F(Restore, ALyingServiceCannotMakeRestoreWriteMoreOrFetchForEver) {
  writeFile(home("docs/small.bin"), "ten bytes!");
  writeFile(home("docs/large.bin"), patterned((3 << 20) + 5, 3));
  ASSERT_TRUE(startService());
  ASSERT_EQ(backup().exitCode, 0);
  struct Case {
    std::vector<std::string> fault;
    std::string says;
  } cases[] = {
      {{"--fault-listed-size", "1000000000000"}, "the listing says the stored copy has 1000000000000 bytes"},
      {{"--fault-answer-bytes", "1048576"}, "bytes for"},
      {{"--fault-answer-bytes", "1"}, "sent 1 bytes for"},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    ASSERT_TRUE(startService(c.fault));
    std::string target = dir_.file("lied-" + std::to_string(++round));
    uint64_t started = platform::tickCountMs();
    auto run = restore({logical(), target});
    EXPECT_LT(platform::tickCountMs() - started, 30000u);
    EXPECT_EQ(run.exitCode, 1) << explain(run);
    EXPECT_NE(run.standardOutput.find(c.says), std::string::npos) << run.standardOutput;
    EXPECT_TRUE(testsupport::filesBelow(target).empty());
  }
}

#ifndef _WIN32
// Links planted in the target never lead a restore outside it.
TEST_F(Restore, PlantedLinksNeverLeadOutside) {
  writeFile(home("docs/a.txt"), "restored a");
  writeFile(home("docs/sub/b.txt"), "restored b");
  ASSERT_TRUE(startService());
  ASSERT_EQ(backup().exitCode, 0);
  writeFile(dir_.file("outside/victim.txt"), "untouched");
  struct Case {
    const char* name;
    std::string link, to;  // below the target
    bool overwrite;
  } cases[] = {
      {"dangling link where a file goes", "a.txt", dir_.file("outside/created.txt"), false},
      {"dangling link replaced with --overwrite", "a.txt", dir_.file("outside/created.txt"), true},
      {"link to an outside file with --overwrite", "a.txt", dir_.file("outside/victim.txt"), true},
      {"link to an outside folder where a folder goes", "sub", dir_.file("outside"), true},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string target = dir_.file("target-" + std::to_string(++round));
    platform::Env::defaultEnv()->createDirectories(target);
    ASSERT_EQ(::symlink(c.to.c_str(), (target + "/" + c.link).c_str()), 0);
    std::vector<std::string> arguments = {logical("docs"), target};
    if (c.overwrite) arguments.push_back("--overwrite");
    auto run = restore(arguments);
    EXPECT_EQ(testsupport::filesBelow(dir_.file("outside")), (std::map<std::string, std::string>{{"victim.txt", "untouched"}}))
        << run.standardOutput;
    if (c.link == "sub") {
      EXPECT_NE(run.standardOutput.find("is a link; links are not followed"), std::string::npos) << run.standardOutput;
    } else if (c.overwrite) {
      EXPECT_EQ(readFile(target + "/a.txt"), "restored a");  // the link itself was replaced
    } else {
      EXPECT_NE(run.standardOutput.find("kept, already there: 1"), std::string::npos) << run.standardOutput;
    }
  }
}

// A restore killed outright leaves temporaries at most; the next one
// removes them and finishes.
TEST_F(Restore, AKilledRestoreLeavesNothingHalfWritten) {
  for (int i = 0; i < 12; ++i) writeFile(home("docs/f" + std::to_string(i) + ".bin"), patterned(400000, i));
  ASSERT_TRUE(startService());
  ASSERT_EQ(backup().exitCode, 0);
  ASSERT_TRUE(startService({"--fault-latency", "100"}));  // a file takes two answers: 200 ms
  std::string target = dir_.file("killed");
  platform::ChildProcess run;
  ASSERT_TRUE(run.start({CACHEAGENT_PATH, "restore", dir_.file("cfg.xml"), logical(), target, "--connections", "1"},
                        env_, dir_.file("work")));
  platform::sleepMs(900);
  run.kill();
  ASSERT_TRUE(startService());
  auto again = restore({logical(), target});
  EXPECT_EQ(again.exitCode, 0) << explain(again);
  for (const auto& [name, content] : testsupport::filesBelow(target)) {
    EXPECT_EQ(name.find(".cacheagent-"), std::string::npos) << name;
  }
  EXPECT_EQ(testsupport::filesBelow(target).size(), 12u);
}

// The user's files come back as the user's: the usual permissions, the
// time they had.
TEST_F(Restore, RestoredFilesHaveTheUsersPermissionsAndTheirTimes) {
  writeFile(home("docs/a.txt"), "a");
  platform::setModifiedTime(home("docs/a.txt"), 1600000000);
  ASSERT_TRUE(startService());
  ASSERT_EQ(backup().exitCode, 0);
  mode_t previous = ::umask(022);
  auto run = restore({logical(), dir_.file("modes")});
  ::umask(previous);
  ASSERT_EQ(run.exitCode, 0) << explain(run);
  struct stat file {}, folder {};
  ASSERT_EQ(::stat(dir_.file("modes/docs/a.txt").c_str(), &file), 0);
  ASSERT_EQ(::stat(dir_.file("modes/docs").c_str(), &folder), 0);
  EXPECT_EQ(file.st_mode & 0777, 0644u);
  EXPECT_EQ(folder.st_mode & 0777, 0755u);
  EXPECT_EQ(file.st_mtime, 1600000000);
}

// A large file passes through both programs in bounded memory.
TEST_F(Restore, ALargeFileComesBackInBoundedMemory) {
  const uint64_t size = static_cast<uint64_t>(settingOf("ZR_RESTORE_BIG_MB", 4096)) << 20;
  std::string path = home("video/sparse.bin");
  writeFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  {
    std::unique_ptr<platform::WritableFile> out;
    ASSERT_TRUE(platform::Env::defaultEnv()->openAppendable(path, &out));
    out->append("the end", 7);
  }
  ASSERT_TRUE(startService());
  auto stored = backup();
  ASSERT_EQ(stored.exitCode, 0) << explain(stored);
  auto run = restore({logical("video"), dir_.file("big")});
  ASSERT_EQ(run.exitCode, 0) << explain(run);
  platform::FileInfo info;
  ASSERT_TRUE(platform::Env::defaultEnv()->getFileInfo(dir_.file("big/sparse.bin"), &info));
  EXPECT_EQ(info.size, size + 7);
  struct rusage children {};
  ::getrusage(RUSAGE_CHILDREN, &children);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // their shadow memory is no program's
  EXPECT_LT(children.ru_maxrss, 256 * 1024) << "kB at the peak of a child";
#endif
  std::printf("restore of %llu MiB: peak resident size of a child %ld kB\n",
              static_cast<unsigned long long>(size >> 20), children.ru_maxrss);
}
#endif

}  // namespace
