// cacheagent watch as a user meets it: changes of every kind reach the
// cache seconds after they settle, with the agent idle in between; a
// service that goes away and comes back, and an agent killed and started
// again, lose nothing.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "bindings/cabinet/file_index.h"
#include "platform/clock.h"
#include "tests/agent_fixture.h"
#include "tests/service_process.h"

namespace {

using testsupport::writeFile;

// `cacheagent watch` running beside the test, its output collected as it comes.
class WatchingAgent {
 public:
  ~WatchingAgent() { kill(); }
  bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& folder) {
    child_.readErrorsWithOutput();
    if (!child_.start(argv, env, folder)) return false;
    reader_ = std::thread([this] {
      std::string line;
      while (child_.readLine(line, 60000)) {
        std::lock_guard<std::mutex> lock(mutex_);
        output_ += line + "\n";
      }
    });
    return true;
  }
  // True once the output holds `text` (at or after `from`) within `seconds`.
  bool waitFor(const std::string& text, int seconds, size_t from = 0) {
    uint64_t until = platform::tickCountMs() + static_cast<uint64_t>(seconds) * 1000;
    while (platform::tickCountMs() < until) {
      if (output().find(text, from) != std::string::npos) return true;
      platform::sleepMs(100);
    }
    return false;
  }
  std::string output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
  }
  // The reader reads the output to its end before the child is reaped.
  int stop() {
    child_.requestStop();
    join();
    return child_.wait();
  }
  void kill() {
    if (child_.running()) child_.kill();
    join();
  }

 private:
  void join() {
    if (reader_.joinable()) reader_.join();
  }
  platform::ChildProcess child_;
  std::thread reader_;
  std::mutex mutex_;
  std::string output_;
};

class Watch : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
    if (testsupport::runningUnderWine()) {
      GTEST_SKIP() << "wine tells of changes only in folders made after the watch began";
    }
    AgentFixture::SetUp();
    ASSERT_TRUE(service_.start({}));
    configureAgent(service_.server(), "connectTimeout='3' replyTimeout='15'");
  }
  void startWatching() {
    agent_ = std::make_unique<WatchingAgent>();
    ASSERT_TRUE(
        agent_->start({CACHEAGENT_PATH, "watch", dir_.file("cfg.xml"), "--settle", "1"}, env_, dir_.file("work")));
    ASSERT_TRUE(agent_->waitFor("watching ", 60)) << agent_->output();
  }
  // The home tree, as the cache should hold it.
  std::map<std::string, std::string> tree() {
    std::map<std::string, std::string> out;
    for (auto& [name, content] : testsupport::filesBelow(home())) {
      if (name.size() < 4 || name.compare(name.size() - 4, 4, ".tmp") != 0) out[name] = content;
    }
    return out;
  }
  // True once the cache holds the tree as it is, within `seconds`.
  bool cacheCatchesUp(int seconds) {
    uint64_t until = platform::tickCountMs() + static_cast<uint64_t>(seconds) * 1000;
    while (platform::tickCountMs() < until) {
      if (cached() == tree()) return true;
      platform::sleepMs(500);
    }
    return false;
  }
  // True once the status page's file of the watch holds every one of
  // `parts`, within `seconds`.
  bool statusSays(const std::vector<std::string>& parts, int seconds) {
    uint64_t until = platform::tickCountMs() + static_cast<uint64_t>(seconds) * 1000;
    for (;;) {
      std::string status = testsupport::readFile(dir_.file("work/status/cs_watch.xml"));
      bool all = !status.empty();
      for (const std::string& part : parts) all = all && status.find(part) != std::string::npos;
      if (all) return true;
      if (platform::tickCountMs() >= until) {
        ADD_FAILURE() << "the watch's status:\n" << status;
        return false;
      }
      platform::sleepMs(200);
    }
  }
  testsupport::TempDir store_;
  testsupport::ServiceProcess service_{SERVICE_PATH, store_.path()};
  std::unique_ptr<WatchingAgent> agent_;
};

TEST_F(Watch, EveryKindOfChangeReachesTheCache) {
  writeFile(home("docs/a.txt"), "a");
  writeFile(home("docs/b.txt"), "b");
  writeFile(home("old/c.txt"), "c");
  startWatching();
  EXPECT_EQ(cached(), tree());
  platform::Env& env = *platform::Env::defaultEnv();
  struct Step {
    const char* what;
    std::function<void()> act;
  };
  const std::vector<Step> steps = {
      {"a new file", [&] { writeFile(home("docs/new.txt"), "new"); }},
      {"an edit", [&] { writeFile(home("docs/a.txt"), "a, edited"); }},
      {"a rename", [&] { env.renameFile(home("docs/b.txt"), home("docs/b-renamed.txt")); }},
      {"a deletion", [&] { env.removeFile(home("docs/new.txt")); }},
      {"a folder with files",
       [&] {
         writeFile(home("made/deep/x.txt"), "x");
         writeFile(home("made/y.txt"), "y");
       }},
      {"a folder moved out", [&] { env.renameFile(home("old"), dir_.file("elsewhere")); }},
      {"a folder moved in", [&] { env.renameFile(dir_.file("elsewhere"), home("back")); }},
      {"an excluded file", [&] { writeFile(home("docs/scratch.tmp"), "never sent"); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_TRUE(cacheCatchesUp(30)) << agent_->output();
  }
  EXPECT_TRUE(statusSays({"state=\"watching\"", "pending=\"0\"", "kind=\"changes\" exitCode=\"0\""}, 10));
  // Each cycle brought the file index up to date below its folder only:
  // it still knows every file.
  ZR::CFileIndex index(env, dir_.file("cabinet.db"));
  int64_t indexed = 0;
  EXPECT_TRUE(index.count(indexed));
  EXPECT_EQ(indexed, static_cast<int64_t>(tree().size()));
  EXPECT_EQ(agent_->stop(), 130);
  EXPECT_NE(agent_->output().find("watch stopped"), std::string::npos) << agent_->output();
  EXPECT_TRUE(statusSays({"state=\"stopped\""}, 1));
}

// A file appended to for a while is taken within the longest delay, and
// its last version once it is quiet.
TEST_F(Watch, AFileThatKeepsChangingIsTakenAndEndsCurrent) {
  writeFile(home("a.txt"), "a");
  agent_ = std::make_unique<WatchingAgent>();
  ASSERT_TRUE(agent_->start({CACHEAGENT_PATH, "watch", dir_.file("cfg.xml"), "--settle", "2", "--max-delay", "3"}, env_,
                            dir_.file("work")));
  ASSERT_TRUE(agent_->waitFor("watching ", 60)) << agent_->output();
  size_t before = agent_->output().size();
  std::string log;
  for (int i = 0; i < 40; ++i) {
    log += "line " + std::to_string(i) + "\n";
    writeFile(home("growing.log"), log);
    platform::sleepMs(200);
  }
  // Backed up while it still changed: the longest delay passed.
  EXPECT_NE(agent_->output().find("backing up the changes", before), std::string::npos) << agent_->output();
  EXPECT_TRUE(cacheCatchesUp(30)) << agent_->output();
}

// With a queue of three changes, many at once are lost: the watch says so
// and a full backup makes the cache equal the folder.
TEST_F(Watch, LostChangesEndInAFullBackup) {
  env_["ZR_WATCH_QUEUE_LIMIT"] = "3";
  writeFile(home("a.txt"), "a");
  for (int i = 0; i < 3; ++i) writeFile(home("burst/" + std::to_string(i) + "/seed"), "s");
  startWatching();
  // Files into watched folders: each one's changes come (a folder made
  // anew would be looked through whole, with one change).
  size_t before = agent_->output().size();
  for (int i = 0; i < 30; ++i) writeFile(home("burst/" + std::to_string(i % 3) + "/f" + std::to_string(i)), "x");
  EXPECT_TRUE(agent_->waitFor("the system lost some changes", 30, before)) << agent_->output();
  EXPECT_TRUE(cacheCatchesUp(30)) << agent_->output();
  EXPECT_NE(agent_->output().find("full backup of the watched folders", before), std::string::npos);
}

TEST_F(Watch, AServiceAwayForAWhileAndAKilledAgentLoseNothing) {
  writeFile(home("a.txt"), "a");
  startWatching();
  service_.kill();
  writeFile(home("while-away.txt"), "made while the service was away");
  ASSERT_TRUE(agent_->waitFor("trying again", 30)) << agent_->output();
  EXPECT_TRUE(statusSays({"state=\"waiting for the service\"", "pending=\"1\"", "exitCode=\"4\""}, 10));
  ASSERT_TRUE(service_.start({}));
  EXPECT_TRUE(cacheCatchesUp(60)) << agent_->output();

  // Killed with a change waiting: the next start takes it.
  writeFile(home("pending.txt"), "waiting when the agent died");
  platform::sleepMs(300);
  agent_->kill();
  EXPECT_NE(testsupport::readFile(dir_.file("work/pending-changes.txt")).find(home()), std::string::npos);
  startWatching();
  EXPECT_TRUE(cacheCatchesUp(30)) << agent_->output();
  EXPECT_EQ(testsupport::readFile(dir_.file("work/pending-changes.txt")), "");
  // One watch, or backup, at a time.
  EXPECT_EQ(backup().exitCode, 8);
}

}  // namespace
