// The backup's promise as a property: on random trees (names with blanks,
// accents, colons and leading dashes; contents that begin like result
// codes; empty files; files up to a few MiB), after random edits, renames
// and deletions, and with the service killed, the agent interrupted or a
// file appended to at random moments, every backup leaves each file in the
// cache either as it is on disk or as its last good copy, never lost;
// `check` says the cache matches exactly when it does; and a last backup
// without faults makes the cache equal the folder, byte for byte as a
// restore gives it back.
//
// ZR_PROMISE_SEEDS (default 2), ZR_PROMISE_FIRST_SEED (1) and
// ZR_PROMISE_ROUNDS (4) set the amount; scripts/promise-soak.sh runs
// thousands of seeds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/agent_fixture.h"
#include "tests/service_process.h"

#ifndef _WIN32
#include <signal.h>

namespace {

using Files = std::map<std::string, std::string>;
using testsupport::writeFile;

int settingOf(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

class PromiseProperty : public testsupport::AgentFixture {
 protected:
  std::string randomName(std::mt19937& random) {
    static const char* const kStems[] = {"report", "-1 notes", "caf\xC3\xA9", "meeting 10:30", "a b", "\xE6\x97\xA5\xE8\xAA\x8C",
                                         "data", "-7", "x"};
    static const char* const kExtensions[] = {".txt", ".bin", ".csv", ""};
    std::string folder = random() % 3 == 0 ? "" : std::string(random() % 2 ? "docs/" : "deep/er/") ;
    return folder + kStems[random() % 9] + std::to_string(random() % 40) + kExtensions[random() % 4];
  }
  std::string randomContent(std::mt19937& random) {
    static const char* const kStarts[] = {"-1", "-3,", "-7 ", "plain ", ""};
    size_t size = random() % 10 == 0 ? random() % (3 << 20) : random() % 20000;
    if (random() % 8 == 0) size = 0;
    std::string out = kStarts[random() % 5];
    bool text = random() % 2 == 0;
    while (out.size() < size) out += text ? static_cast<char>('a' + random() % 26) : static_cast<char>(random());
    return out.substr(0, size);
  }
  void edit(std::mt19937& random, const Files& disk) {
    std::vector<std::string> names;
    for (const auto& entry : disk) names.push_back(entry.first);
    for (int n = 1 + static_cast<int>(random() % 5); n > 0; --n) {
      int what = static_cast<int>(random() % 6);
      std::string victim = names.empty() ? "" : names[random() % names.size()];
      if (what == 0 || victim.empty()) {
        writeFile(home(randomName(random)), randomContent(random));
      } else if (what == 1) {
        platform::Env::defaultEnv()->removeFile(home(victim));
      } else if (what == 2) {
        platform::Env::defaultEnv()->renameFile(home(victim), home(randomName(random)));
      } else if (what == 3) {
        std::string same = testsupport::readFile(home(victim));  // same size, new bytes, same second
        for (char& c : same) c = static_cast<char>(c ^ 0x5A);
        writeFile(home(victim), same);
      } else {
        writeFile(home(victim), randomContent(random));
      }
    }
  }

  // One backup, disturbed as `fault` says: 0 none, 1 the service killed,
  // 2 the agent interrupted, 3 a file appended to while it runs.
  void backupWith(int fault, std::mt19937& random, const std::string& appended) {
    platform::ChildProcess run;
    ASSERT_TRUE(run.start({CACHEAGENT_PATH, "backup", dir_.file("cfg.xml"), "--allow-deletions"}, env_,
                          dir_.file("work"), true));
    uint32_t after = static_cast<uint32_t>(random() % 1500);
    std::atomic<bool> ended{false};
    std::thread disturber([&] {
      if (fault == 3) {
        for (int i = 0; i < 40 && !ended.load(); ++i) {
          std::unique_ptr<platform::WritableFile> out;
          if (platform::Env::defaultEnv()->openAppendable(home(appended), &out)) out->append("appended line\n", 14);
          platform::sleepMs(20);
        }
        return;
      }
      platform::sleepMs(after);
      if (fault == 1) service_.kill();
      if (fault == 2 && !ended.load()) ::kill(-run.processId(), SIGINT);
    });
    std::string line;
    while (run.readLine(line, 60000)) {
    }
    run.wait();
    ended.store(true);
    disturber.join();
    if (!service_.running()) {
      ASSERT_TRUE(service_.start());
    }
  }

  testsupport::TempDir store_;
  testsupport::ServiceProcess service_{SERVICE_PATH, store_.path()};
};

TEST_F(PromiseProperty, RandomTreesEditsAndFaultsNeverLoseTheLastGoodCopy) {
  const int seeds = settingOf("ZR_PROMISE_SEEDS", 2), first = settingOf("ZR_PROMISE_FIRST_SEED", 1);
  const int rounds = settingOf("ZR_PROMISE_ROUNDS", 4);
  for (int seed = first; seed < first + seeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(static_cast<unsigned>(seed));
    platform::Env::defaultEnv()->removeTree(home());
    platform::Env::defaultEnv()->removeTree(store_.path());
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
    for (int i = 0; i < 12; ++i) writeFile(home(randomName(random)), randomContent(random));
    ASSERT_TRUE(service_.start());
    configureAgent(service_.server());
    Files lastGood;
    for (int round = 0; round < rounds; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      if (round > 0) edit(random, testsupport::filesBelow(home()));
      Files before = testsupport::filesBelow(home());
      int fault = round == 0 ? 0 : static_cast<int>(random() % 4);
      std::string appended = before.empty() ? "" : std::next(before.begin(), static_cast<long>(random() % before.size()))->first;
      backupWith(fault == 3 && appended.empty() ? 0 : fault, random, appended);
      Files disk = testsupport::filesBelow(home());
      std::string output;
      Files cached = this->cached(&output);
      for (const auto& [name, content] : disk) {
        auto found = cached.find(name);
        bool had = lastGood.count(name) != 0;
        if (found == cached.end()) {
          EXPECT_FALSE(had) << name << ": the last good copy was lost (fault " << fault << ")\n" << output;
          continue;
        }
        bool current = found->second == content, previous = had && found->second == lastGood[name];
        bool between = name == appended && content.rfind(found->second, 0) == 0 &&
                       found->second.rfind(before[name], 0) == 0;  // a version while it was appended to
        EXPECT_TRUE(current || previous || between) << name << ": the cache holds a copy that never was (fault " << fault << ")";
      }
      for (const auto& [name, content] : cached) {
        if (!disk.count(name)) {
          EXPECT_EQ(content, lastGood[name]) << name << ": a deleted file's copy was changed";
        }
      }
      auto check = agent({"check", dir_.file("cfg.xml")});
      EXPECT_EQ(check.exitCode == 0, cached == disk) << "check's verdict is wrong:\n" << check.standardOutput;
      lastGood = cached;
    }
    auto last = backup({"--allow-deletions"});
    ASSERT_EQ(last.exitCode, 0) << explain(last);
    EXPECT_TRUE(cached() == testsupport::filesBelow(home())) << "after a backup without faults the cache equals the folder";
    service_.kill();
  }
}

}  // namespace
#endif
