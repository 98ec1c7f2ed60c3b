// What a run leaves behind when it is cut short or the service misbehaves:
// velkan and dornik killed (SIGKILL; TerminateProcess on Windows) at
// random moments, and a service that injects result codes, drops
// connections and reads slowly. After every disturbed run nothing may be
// stored half, recorded without being stored,
// or written half; after undisturbed runs the store must equal the store of
// a run that was never disturbed.
//
// The sizes suit ctest; larger runs for a report:
//   ZR_KILL_CYCLES=200 ZR_SOAK_ROUNDS=20 ZR_SOAK_FILES=3000 tests/resilience_tests
// ZR_RESILIENCE_SEED repeats the random choices of an earlier run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bindings/cabinet/cabinet.h"
#include "bindings/cabinet/file_entry.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/xml_builder.h"
#include "actionset/action_set_file.h"
#include "snapshot/snapshot_writer.h"
#include "platform/env.h"
#include "tests/image_fixtures.h"
#include "tests/local_service_fixture.h"
#include "tests/velkan_fixture.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;
using Contents = std::map<std::string, std::string>;  // logical path -> stored bytes

// The launcher that ends a program outright after `ms` milliseconds.
std::vector<std::string> killAfter(int ms) {
#ifdef _WIN32
  return {KILL_AFTER_PATH, std::to_string(ms)};
#else
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3fs", ms / 1000.0);
  return {"/usr/bin/timeout", "-s", "KILL", seconds};
#endif
}

// Whether the launcher had to kill: timeout passes SIGKILL on to itself,
// kill_after ends with 137.
bool wasKilled(const platform::ProcessResult& run) {
#ifdef _WIN32
  return run.exitCode == 137;
#else
  return run.terminatedBySignal == 9;
#endif
}

int settingOf(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

std::mt19937& random() {
  static std::mt19937 generator([] {
    unsigned seed = static_cast<unsigned>(settingOf("ZR_RESILIENCE_SEED", static_cast<int>(std::random_device()())));
    std::printf("resilience seed: %u\n", seed);
    return seed;
  }());
  return generator;
}

int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random()); }

std::string randomBytes(size_t size, bool text) {
  std::string out(size, ' ');
  for (char& c : out) c = static_cast<char>(text ? 'a' + between(0, 25) : between(0, 255));
  return out;
}

bool parses(const std::string& path) {
  std::string error;
  std::unique_ptr<ZR::CXmlElement> document(ZR::CXmlBuilder::fileToDocument(path, error));
  return document != nullptr;
}

std::string backslashed(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

int64_t elapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

class Resilience : public testsupport::VelkanFixture {
 protected:
  // Files of every kind the client treats differently: gzip copies, files
  // sent as they are, pictures scaled down or kept.
  void makeTree(int files, size_t largest) {
    for (int i = 0; i < files; ++i) {
      std::string n = std::to_string(i);
      size_t size = static_cast<size_t>(between(1, static_cast<int>(largest)));
      switch (i % 5) {
        case 0: writeFile(home("docs/d" + std::to_string(i % 7) + "/f" + n + ".txt"), randomBytes(size, true)); break;
        case 1: writeFile(home("music/f" + n + ".mp3"), randomBytes(size, false)); break;
        case 2: writeFile(home("bin/f" + n + ".exe"), randomBytes(size / 4 + 1, false)); break;
        case 3: writeFile(home("docs/f" + n + ".doc"), randomBytes(size / 2 + 1, true)); break;
        default:
          if (i % 25 == 4) {
            testsupport::writeJpeg(home("pics/f" + n + ".jpg"), 1600, 1200);
          } else {
            testsupport::writeJpeg(home("pics/f" + n + ".jpg"), 320, 240);
          }
      }
    }
  }

  Contents contentsOf(testsupport::RunningService& service) const {
    Contents out;
    auto& store = service.service().store();
    for (const auto& file : store.filesUnder(logical())) out[file.path] = testsupport::storedContent(store, file.path);
    return out;
  }

  // Runs until velkan has nothing left to send (at most `attempts` runs).
  void completeUndisturbed(testsupport::RunningService& service, int attempts = 3) {
    for (int i = 0; i < attempts; ++i) {
      refreshCacheListing(service.server());
      auto run = cycle(service.server());
      ASSERT_EQ(run.exitCode, 0) << velkanLog();
      if (run.standardOutput.find("uploaded ") == std::string::npos) return;
    }
  }

  // What must hold after any run, disturbed or not: every stored file is a
  // whole copy (equal to the undisturbed run's), every file the index or
  // the uploaded-today list records is stored, and the files written
  // beside the run are whole documents. Returns the number of files checked.
  size_t checkConsistent(testsupport::RunningService& service, const Contents& reference, const std::string& when) {
    Contents now = contentsOf(service);
    for (const auto& [path, bytes] : now) {
      auto expected = reference.find(path);
      EXPECT_TRUE(expected != reference.end()) << when << ": unknown file stored: " << path;
      if (expected != reference.end()) {
        EXPECT_TRUE(expected->second == bytes) << when << ": stored half: " << path;
      }
    }
    ZR::CCabinet::setIndexPath(dir_.file("cabinet.db"));
    int64_t indexed = 0;
    if (testsupport::fileExists(dir_.file("cabinet.db"))) {
      EXPECT_TRUE(ZR::CCabinet::count(indexed)) << when;
    }
    int64_t indexedAndStored = 0;
    for (const auto& [path, bytes] : reference) {
      ZR::CFileEntry entry;
      if (!ZR::CCabinet::lookup(path, entry)) continue;
      ++indexedAndStored;
      EXPECT_TRUE(now.count(path)) << when << ": indexed but not stored: " << path;
    }
    EXPECT_EQ(indexed, indexedAndStored) << when << ": the index holds paths that were never uploaded";
    ZR::CCabinet::setIndexPath("");  // lets go of the index: Windows cannot remove an open file
    for (const char* name : {"cs_uploadedtoday.xml", "cs_waiting.xml", "cs_uploading.xml"}) {
      std::string path = dir_.file(std::string("work/status/") + name);
      if (testsupport::fileExists(path)) {
        EXPECT_TRUE(parses(path)) << when << ": " << name << " is not whole";
      }
    }
    checkUploadedToday(now, when);
    for (const char* name : {"actionset.xml", "contents.xml", "cache.xml", "dir.xml"}) {
      if (testsupport::fileExists(dir_.file(name))) {
        EXPECT_TRUE(parses(dir_.file(name))) << when << ": " << name;
      }
    }
    return now.size();
  }

  // A killed writer leaves its temporary beside the file; the next write of
  // that file removes it, so there is never more than one per file.
  void checkTemporariesDoNotPileUp(const std::string& when) {
    for (const std::string& folder : {dir_.path(), dir_.file("work/status")}) {
      std::vector<std::string> names;
      platform::Env::defaultEnv()->listDirectory(folder, &names);
      std::map<std::string, int> perFile;
      for (const std::string& name : names) {
        size_t at = name.find(".tmp-");
        if (at == std::string::npos) continue;
        EXPECT_LE(++perFile[name.substr(0, at)], 1) << when << ": " << folder << "/" << name;
      }
    }
  }

  void checkUploadedToday(const Contents& now, const std::string& when) {
    std::string error;
    std::unique_ptr<ZR::CXmlElement> list(
        ZR::CXmlBuilder::fileToDocument(dir_.file("work/status/cs_uploadedtoday.xml"), error));
    if (!list) return;
    for (size_t i = 0; i < list->getChildCount(); ++i) {
      std::string path, message;
      if (!list->getChild(i)->getValue("/file/path", path, message)) continue;
      EXPECT_TRUE(now.count(backslashed(path))) << when << ": listed as uploaded but not stored: " << path;
    }
  }
};

TEST_F(Resilience, VelkanKilledAtRandomMomentsEndsLikeAnUndisturbedRun) {
  const int cycles = settingOf("ZR_KILL_CYCLES", 6);
  makeTree(40, 1500000);
  Contents reference;
  int64_t undisturbedMs = 0;
  {
    testsupport::RunningService undisturbed;
    auto started = std::chrono::steady_clock::now();
    auto run = cycle(undisturbed.server());
    undisturbedMs = elapsedMs(started);
    ASSERT_EQ(run.exitCode, 0) << velkanLog();
    reference = contentsOf(undisturbed);
    ASSERT_EQ(reference.size(), 40u);
  }
  platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
  platform::Env::defaultEnv()->removeFile(dir_.file("work/status/cs_uploadedtoday.xml"));

  // Each cycle: a fresh store and index, one to three runs killed at random
  // moments (each a restart of the one before), then runs to the end.
  int killed = 0, runs = 0;
  size_t files = 0;
  for (int i = 0; i < cycles; ++i) {
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
    platform::Env::defaultEnv()->removeFile(dir_.file("work/status/cs_uploadedtoday.xml"));
    testsupport::RunningService service;
    for (int k = between(1, 3); k > 0; --k, ++runs) {
      refreshCacheListing(service.server());
      char after[32];
      int afterMs = between(0, static_cast<int>(undisturbedMs * 6 / 5));
      std::snprintf(after, sizeof after, "%d ms", afterMs);
      auto run = cycle(service.server(), "", {}, killAfter(afterMs));
      killed += wasKilled(run);
      ASSERT_NE(run.exitCode, ZR::kCrashExitCode) << velkanLog();
      checkConsistent(service, reference, "cycle " + std::to_string(i) + ", killed at " + after);
    }
    completeUndisturbed(service);
    ASSERT_EQ(contentsOf(service), reference) << "cycle " << i << ": the store differs from an undisturbed run's";
    files = checkConsistent(service, reference, "cycle " + std::to_string(i) + " at the end");
    int64_t indexed = 0;
    ZR::CCabinet::setIndexPath(dir_.file("cabinet.db"));
    ASSERT_TRUE(ZR::CCabinet::count(indexed));
    ZR::CCabinet::setIndexPath("");
    ASSERT_EQ(static_cast<size_t>(indexed), files) << "cycle " << i << ": the index lists exactly the stored files";
    checkTemporariesDoNotPileUp("cycle " + std::to_string(i));
  }
  std::printf("kill/restart: %d cycles, %d runs started, %d killed mid-run, undisturbed run %lld ms, "
              "%zu files equal to the undisturbed run's after every cycle\n",
              cycles, runs, killed, static_cast<long long>(undisturbedMs), files);
}

// Writes a snapshot of `files` files under c:\big for dornik.
void writeBigListing(const std::string& path, int files, bool cache) {
  dornik::SnapshotWriter out(*platform::Env::defaultEnv(), path,
                             cache ? dornik::kCacheContentKind : dornik::kDirContentKind);
  for (int i = 0; i < files; ++i) {
    std::string size = std::to_string(i), modified = std::to_string(1700000000 + i);
    out.file("c:/big/d" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".txt",
             {size, modified, cache ? "1" : "", cache ? "1" : ""});
  }
  ASSERT_TRUE(out.commit());
}

TEST_F(Resilience, DornikKilledWhileWritingLeavesTheOldOrTheNewActionSet) {
  const int cycles = settingOf("ZR_KILL_CYCLES", 12);
  configure("127.0.0.1:1");
  writeBigListing(dir_.file("dir.xml"), 10, false);
  writeBigListing(dir_.file("cache.xml"), 0, true);
  ASSERT_EQ(runProgram({DORNIK_PATH, dir_.file("cfg.xml")}).exitCode, 0);
  const std::string before = readFile(dir_.file("actionset.xml"));
  writeBigListing(dir_.file("dir.xml"), 150000, false);
  writeBigListing(dir_.file("cache.xml"), 75000, true);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(runProgram({DORNIK_PATH, dir_.file("cfg.xml")}).exitCode, 0);
  int64_t undisturbedMs = elapsedMs(started);
  const std::string after = readFile(dir_.file("actionset.xml"));
  ASSERT_NE(before, after);

  int killed = 0, old = 0;
  for (int i = 0; i < cycles; ++i) {
    writeFile(dir_.file("actionset.xml"), before);
    int momentMs = between(0, static_cast<int>(undisturbedMs * 6 / 5));
    std::string moment = std::to_string(momentMs) + " ms";
    std::vector<std::string> argv = killAfter(momentMs);
    argv.insert(argv.end(), {DORNIK_PATH, dir_.file("cfg.xml")});
    auto run = runProgram(argv);
    killed += wasKilled(run);
    std::string now = readFile(dir_.file("actionset.xml"));
    EXPECT_TRUE(now == before || now == after) << "a half-written action set after a kill at " << moment;
    old += now == before;
  }
  std::printf("dornik kills: %d cycles, %d killed mid-run (%d left the old action set), undisturbed run %lld ms\n",
              cycles, killed, old, static_cast<long long>(undisturbedMs));
}

// The faults of one soak run, chosen at random.
struct Faults {
  localservice::ServiceConfig config;
  std::string text;
  int planned = 0;
};

Faults randomFaults(const std::string& root) {
  static const char* const kOperations[] = {"createFile", "writeFileAttachment", "finalizeFileWithMetadata",
                                            "finalizeFile", "login"};
  static const int kCodes[] = {-3, -5, -9, -1};
  Faults f;
  f.config.root = root;
  for (int i = between(1, 3); i > 0; --i) {
    std::string operation = kOperations[between(0, 4)];
    if (f.config.injectedAnswers.count(operation)) continue;
    int code = kCodes[between(0, 3)], times = between(1, 4);
    f.config.injectedAnswers[operation] = {code, times};
    f.text += operation + " " + std::to_string(code) + " x" + std::to_string(times) + "; ";
    f.planned += times;
  }
  if (between(0, 2) == 0) {
    f.config.dropAfterBytes = between(2000, 400000);
    f.text += "drop after " + std::to_string(f.config.dropAfterBytes) + " bytes; ";
    ++f.planned;
  }
  if (between(0, 3) == 0) {
    f.config.slowReadBytesPerSecond = 1024 * 1024;
    f.text += "slow reads; ";
  }
  return f;
}

int delivered(const localservice::ServiceConfig& planned, testsupport::RunningService& service) {
  int count = 0;
  for (const auto& [operation, answer] : planned.injectedAnswers) {
    count += answer.second - service.service().injectedAnswersLeft(operation);
  }
  return count;
}

TEST_F(Resilience, FaultSoakLosesCorruptsAndFalselyRecordsNothing) {
  const int rounds = settingOf("ZR_SOAK_ROUNDS", 3);
  const int files = settingOf("ZR_SOAK_FILES", 150);
  makeTree(files, 6000);
  Contents reference;
  {
    testsupport::RunningService undisturbed;
    auto run = cycle(undisturbed.server());
    ASSERT_EQ(run.exitCode, 0) << velkanLog();
    reference = contentsOf(undisturbed);
    ASSERT_EQ(reference.size(), static_cast<size_t>(files));
  }
  platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
  platform::Env::defaultEnv()->removeFile(dir_.file("work/status/cs_uploadedtoday.xml"));

  // Each round: a fresh store and index, one or two runs under random
  // faults (each checked), then calm runs that must end at the reference.
  int faults = 0, drops = 0, faultyRuns = 0;
  size_t checked = 0;
  auto started = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round) {
    testsupport::TempDir storeRoot;
    const std::string root = storeRoot.file("store");
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
    platform::Env::defaultEnv()->removeFile(dir_.file("work/status/cs_uploadedtoday.xml"));
    localservice::ServiceConfig calm;
    calm.root = root;
    for (int k = between(1, 2); k > 0; --k, ++faultyRuns) {
      {
        testsupport::RunningService service(calm);
        refreshCacheListing(service.server());
      }
      Faults f = randomFaults(root);
      testsupport::RunningService service(f.config);
      auto run = cycle(service.server());
      ASSERT_NE(run.exitCode, ZR::kCrashExitCode) << velkanLog();
      ASSERT_EQ(run.terminatedBySignal, 0) << velkanLog();
      int now = delivered(f.config, service);
      faults += now;
      drops += f.config.dropAfterBytes >= 0;
      std::printf("round %d: %s%d injected answers delivered, velkan exit %d\n", round, f.text.c_str(), now,
                  run.exitCode);
      checked += checkConsistent(service, reference, "round " + std::to_string(round) + " (" + f.text + ")");
    }
    testsupport::RunningService service(calm);
    completeUndisturbed(service, 4);
    ASSERT_EQ(contentsOf(service), reference) << "round " << round << ": the store differs from an undisturbed run's";
    checked += checkConsistent(service, reference, "round " + std::to_string(round) + " at the end");
  }
  std::printf("soak: %d rounds, %d runs under faults over %d files in %lld s, %d injected answers delivered, "
              "%d runs with dropped connections, %zu stored files checked, every round ended equal to an "
              "undisturbed run\n",
              rounds, faultyRuns, files, static_cast<long long>(elapsedMs(started) / 1000), faults, drops, checked);
}

}  // namespace
