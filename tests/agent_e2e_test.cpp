// cacheagent as a user runs it, against cachemanager-local: backups of a
// tree with awkward names, a large file, links and pipes; changes and a
// second backup; check; restore into a fresh folder compared byte for byte;
// a service that is down; a dry run; the deletion guard; and backups killed
// at random moments and started again.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/image_fixtures.h"
#include "tests/loopback_server.h"
#include "tests/local_service_fixture.h"
#include "tests/agent_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testsupport::readFile;
using testsupport::writeFile;

constexpr const char* kNames[] = {"docs/report.txt", "docs/with space/caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt",
                                  "docs/empty.txt", "music/song.mp3", "bin/tool.exe"};

int settingOf(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

std::string pseudoRandom(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(generator() & 0xFF);
  return out;
}

class Agent : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
    AgentFixture::SetUp();
    writeFile(home(kNames[0]), std::string(20000, 'r'));
    writeFile(home(kNames[1]), "caf\xC3\xA9\n");
    writeFile(home(kNames[2]), "");
    writeFile(home(kNames[3]), pseudoRandom(300000, 1));
    writeFile(home(kNames[4]), pseudoRandom(50000, 2));
  }
  std::map<std::string, std::string> filesOf(const std::string& folder) { return testsupport::filesBelow(folder); }
};

TEST_F(Agent, BackupChangeBackupCheckAndRestoreGiveBackEveryFile) {
  const size_t bigMb = static_cast<size_t>(settingOf("ZR_AGENT_BIG_MB", 200));
  writeFile(home("video/big.bin"), pseudoRandom(bigMb << 20, 3));
  testsupport::writeJpeg(home("pics/photo.jpg"), 1600, 1200);
  writeFile(home("docs/scratch.tmp"), "left out");
#ifndef _WIN32
  ASSERT_EQ(::symlink("../docs", home("docs/loop").c_str()), 0);
  ASSERT_EQ(::mkfifo(home("pipe").c_str(), 0600), 0);
#endif
  testsupport::RunningService service;
  configureAgent(service.server());

  auto first = backup();
  ASSERT_EQ(first.exitCode, 0) << explain(first);
  EXPECT_NE(first.standardOutput.find("uploaded: 7 of 7 files"), std::string::npos) << first.standardOutput;
  EXPECT_EQ(stored(service).size(), 7u);
  auto check = agent({"check", dir_.file("cfg.xml")});
  EXPECT_EQ(check.exitCode, 0) << check.standardOutput;

  writeFile(home(kNames[0]), std::string(30000, 's'));
  platform::setModifiedTime(home(kNames[0]), 1700000000);
  platform::Env::defaultEnv()->removeFile(home(kNames[4]));
  writeFile(home("docs/new.txt"), "new");
  check = agent({"check", dir_.file("cfg.xml")});
  EXPECT_EQ(check.exitCode, 1);
  for (const char* group : {"missing from the cache: 1", "changed since they were cached: 1", "only in the cache: 1"}) {
    EXPECT_NE(check.standardOutput.find(group), std::string::npos) << check.standardOutput;
  }

  auto second = backup();
  ASSERT_EQ(second.exitCode, 0) << explain(second);
  EXPECT_NE(second.standardOutput.find("to upload: 2 files (1 new, 1 changed)"), std::string::npos)
      << second.standardOutput;
  check = agent({"check", dir_.file("cfg.xml")});
  EXPECT_EQ(check.exitCode, 0) << check.standardOutput;

  auto restore = agent({"restore", dir_.file("cfg.xml"), logical(), dir_.file("restored")});
  ASSERT_EQ(restore.exitCode, 0) << explain(restore);
  EXPECT_NE(restore.standardOutput.find("1 of them are pictures"), std::string::npos) << restore.standardOutput;
  std::map<std::string, std::string> original = filesOf(home()), restored = filesOf(dir_.file("restored"));
  original.erase("docs/scratch.tmp");
  ASSERT_TRUE(restored.count("pics/photo.jpg"));
  EXPECT_LT(restored["pics/photo.jpg"].size(), original["pics/photo.jpg"].size());  // kept as stored: scaled
  original.erase("pics/photo.jpg");
  restored.erase("pics/photo.jpg");
  EXPECT_TRUE(original == restored) << "restored files differ from the originals";
  platform::FileInfo before, after;
  ASSERT_TRUE(platform::Env::defaultEnv()->getFileInfo(home(kNames[0]), &before));
  ASSERT_TRUE(platform::Env::defaultEnv()->getFileInfo(dir_.file("restored/docs/report.txt"), &after));
  EXPECT_EQ(after.modifiedUnixSeconds, before.modifiedUnixSeconds);

  // Never over a file that is there, unless asked.
  writeFile(dir_.file("restored/docs/report.txt"), "mine");
  restore = agent({"restore", dir_.file("cfg.xml"), logical("docs"), dir_.file("restored/docs")});
  EXPECT_EQ(restore.exitCode, 1);
  EXPECT_EQ(readFile(dir_.file("restored/docs/report.txt")), "mine");
  restore = agent({"restore", dir_.file("cfg.xml"), logical("docs"), dir_.file("restored/docs"), "--overwrite"});
  EXPECT_EQ(restore.exitCode, 0) << explain(restore);
  EXPECT_EQ(readFile(dir_.file("restored/docs/report.txt")), std::string(30000, 's'));
}

TEST_F(Agent, AServiceThatIsDownEndsWithoutTouchingTheSnapshots) {
  // Where a connection to a closed port waits for its time-out (wine), the wait is short.
  configureAgent("127.0.0.1:1", "connectTimeout='3' replyTimeout='15'");
  writeFile(dir_.file("cache.xml"), "<cache-content/>");
  auto run = backup();
  EXPECT_EQ(run.exitCode, 4) << explain(run);
  EXPECT_NE(run.standardError.find("127.0.0.1:1"), std::string::npos) << run.standardError;
  EXPECT_EQ(readFile(dir_.file("cache.xml")), "<cache-content/>");
  EXPECT_FALSE(testsupport::fileExists(dir_.file("dir.xml")));
  EXPECT_EQ(agent({"cache-snapshot", dir_.file("cfg.xml")}).exitCode, 4);
  EXPECT_EQ(readFile(dir_.file("cache.xml")), "<cache-content/>");
}

TEST_F(Agent, ADryRunTellsWhatWouldBeDoneAndDoesNothing) {
  testsupport::RunningService service;
  configureAgent(service.server());
  auto run = backup({"--dry-run"});
  ASSERT_EQ(run.exitCode, 0) << explain(run);
  EXPECT_NE(run.standardOutput.find("to upload: 5 files (5 new, 0 changed)"), std::string::npos) << run.standardOutput;
  EXPECT_NE(run.standardOutput.find(logical("docs\\report.txt")), std::string::npos) << run.standardOutput;
  EXPECT_TRUE(stored(service).empty());
}

TEST_F(Agent, ABackupThatWouldDeleteMostOfTheCacheWaitsForPermission) {
  testsupport::RunningService service;
  configureAgent(service.server());
  ASSERT_EQ(backup().exitCode, 0);
  for (int i = 1; i < 5; ++i) platform::Env::defaultEnv()->removeFile(home(kNames[i]));
  auto refused = backup();
  EXPECT_EQ(refused.exitCode, 7) << explain(refused);
  EXPECT_NE(refused.standardError.find("would delete 4 files"), std::string::npos) << refused.standardError;
  EXPECT_NE(refused.standardError.find("--allow-deletions"), std::string::npos);
  EXPECT_EQ(stored(service).size(), 5u);
  auto allowed = backup({"--allow-deletions"});
  EXPECT_EQ(allowed.exitCode, 0) << explain(allowed);
  EXPECT_EQ(stored(service).size(), 1u);
}

TEST_F(Agent, CommandLineAndConfigurationMistakesAreNamed) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    const char* says;
  } cases[] = {
      {{}, 2, "no command"},
      {{"restore", dir_.file("cfg.xml")}, 2, "takes 2 or more arguments"},
      {{"backup", dir_.file("cfg.xml"), "--cpu", "abc"}, 2, "--cpu"},
      {{"backup", dir_.file("cfg.xml"), "--force"}, 2, "--force"},
      {{"frobnicate", dir_.file("cfg.xml")}, 2, "frobnicate"},
      {{"scan", dir_.file("missing.xml")}, 3, "missing.xml"},
  };
  configureAgent("127.0.0.1:1");
  for (const Case& c : cases) {
    auto run = agent(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.says;
    EXPECT_NE(run.standardError.find(c.says), std::string::npos) << run.standardError;
  }
  auto help = agent({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.standardOutput.find("restore CONFIG PATH... TARGET_FOLDER"), std::string::npos);
  platform::Env::defaultEnv()->removeTree(home());
  auto missing = agent({"backup", dir_.file("cfg.xml")});
  EXPECT_NE(missing.exitCode, 0);
}

TEST(Programs, EachSaysHowItIsUsedAndWhichVersionItIs) {
  for (const char* program : {CACHEAGENT_PATH, DORNIK_PATH, VELKAN_PATH, SERVICE_PATH}) {
    auto help = testsupport::run({program, "--help"});
    EXPECT_EQ(help.exitCode, 0) << program;
    EXPECT_NE(help.standardOutput.find("usage:"), std::string::npos) << program << ": " << help.standardOutput;
    auto version = testsupport::run({program, "--version"});
    EXPECT_EQ(version.exitCode, 0) << program;
    EXPECT_TRUE(testsupport::matchesWhole(version.standardOutput, "[a-z-]+ [0-9]+\\.[0-9]+\\.[0-9]+\n"))
        << program << ": " << version.standardOutput;
  }
}

#ifndef _WIN32
// A headless browser, as a person's would show the page; the flags keep it
// off the network and out of the machine's profile.
platform::ProcessResult browse(const std::string& url, const std::string& profile, const std::string& extra) {
  return testsupport::run({"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                           "--no-first-run", "--disable-background-networking", "--disable-component-update",
                           "--disable-sync", "--user-data-dir=" + profile, "--virtual-time-budget=4000",
                           "--window-size=1000,1000", extra, url},
                          {}, "");
}

void screenshot(const std::string& url, const std::string& name) {
  testsupport::TempDir scratch;
  std::string png = scratch.file(name + ".png");
  auto shot = browse(url, scratch.file("profile"), "--screenshot=" + png);
  EXPECT_EQ(readFile(png).substr(0, 4), "\x89PNG") << name << shot.standardError;
  if (const char* keep = std::getenv("ZR_KEEP_SCREENSHOTS")) writeFile(std::string(keep) + "/" + name + ".png", readFile(png));
}

// A page of another site, open in the user's browser, tries to log in to
// the cache manager and to read the status data: both are refused.
TEST_F(Agent, AnotherSitesPageReachesNeitherTheServiceNorTheStatusPage) {
  if (!testsupport::fileExists("/usr/bin/chromium")) GTEST_SKIP() << "no chromium on this machine";
  testsupport::RunningService service;
  configureAgent(service.server());
  ASSERT_EQ(backup().exitCode, 0);
  platform::ChildProcess status;
  ASSERT_TRUE(status.start({CACHEAGENT_PATH, "status", dir_.file("cfg.xml"), "--port", "0"}, env_, dir_.file("work")));
  std::string line;
  ASSERT_TRUE(status.readLine(line, 10000));
  std::string statusUrl = line.substr(line.find("http://"), line.find("/www/") - line.find("http://"));
  std::string page =
      "<html><body><pre id='out'>start</pre><script>"
      "const out = document.getElementById('out'); const log = t => { out.textContent += '\\n' + t; };"
      "const login = '<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:ns1=\"urn:com.orbek.cachemanager\"><SOAP-ENV:Body><ns1:login><in0>agent</in0></ns1:login>"
      "</SOAP-ENV:Body></SOAP-ENV:Envelope>';"
      "fetch('http://" + service.server() + "/cacheManager/services/CacheManager', {method: 'POST', "
      "headers: {'Content-Type': 'text/plain'}, body: login}).then(r => r.text())"
      ".then(t => log('service answered ' + t)).catch(() => log('service refused'));"
      "fetch('" + statusUrl + "/status/cs_progress.xml').then(r => r.text())"
      ".then(t => log('status answered ' + t)).catch(() => log('status refused'));"
      "</script></body></html>";
  testsupport::LoopbackServer site([&](platform::TcpStream& stream) {
    char buffer[4096];
    stream.read(buffer, sizeof buffer, 2000);
    stream.writeAll("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
                    "\r\nConnection: close\r\n\r\n" + page);
  });
  auto dom = browse("http://127.0.0.1:" + std::to_string(site.port()) + "/", dir_.file("profile"), "--dump-dom");
  status.stop();
  size_t from = dom.standardOutput.find("start"), to = dom.standardOutput.find("</pre>");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << dom.standardOutput;
  std::string said = dom.standardOutput.substr(from, to - from);
  EXPECT_NE(said.find("service refused"), std::string::npos) << said;
  EXPECT_NE(said.find("status refused"), std::string::npos) << said;
  EXPECT_EQ(said.find("answered"), std::string::npos) << said;
}

// Keeps a screenshot of the page when ZR_KEEP_SCREENSHOTS names a folder.
void screenshot(const std::string& url, const std::string& name);

TEST_F(Agent, TheStatusPageShowsARunningUploadWithItsBars) {
  if (!testsupport::fileExists("/usr/bin/chromium")) GTEST_SKIP() << "no chromium on this machine";
  std::string big = testsupport::patterned(4 << 20);
  writeFile(home("music/big.mp3"), big);
  localservice::ServiceConfig slow;
  slow.slowReadBytesPerSecond = 128 << 10;  // 32 s for the file: time enough for a browser on a busy machine
  testsupport::RunningService service(slow);
  configureAgent(service.server());
  platform::ChildProcess backup;
  ASSERT_TRUE(backup.start({CACHEAGENT_PATH, "backup", dir_.file("cfg.xml")}, env_, dir_.file("work")));
  std::string progress;
  for (int i = 0; i < 300 && progress.find("big.mp3\" size") == std::string::npos; ++i) {
    platform::sleepMs(50);
    progress = readFile(dir_.file("work/status/cs_progress.xml"));
  }
  ASSERT_NE(progress.find("big.mp3\" size"), std::string::npos) << "the large upload never began: " << progress;
  platform::ChildProcess status;
  ASSERT_TRUE(status.start({CACHEAGENT_PATH, "status", dir_.file("cfg.xml"), "--port", "0"}, env_, dir_.file("work")));
  std::string line;
  ASSERT_TRUE(status.readLine(line, 10000));
  std::string url = line.substr(line.find("http://"), line.find(" (") - line.find("http://"));

  auto dom = browse(url, dir_.file("profile"), "--dump-dom");
  EXPECT_NE(dom.standardOutput.find("state running"), std::string::npos) << dom.standardOutput << dom.standardError;
  EXPECT_NE(dom.standardOutput.find("big.mp3"), std::string::npos);
  // The file's bar has moved: its width is above 0 %.
  size_t bar = dom.standardOutput.find("id=\"fileBar\"");
  ASSERT_NE(bar, std::string::npos);
  size_t width = dom.standardOutput.find("width: ", bar);
  ASSERT_NE(width, std::string::npos) << dom.standardOutput.substr(bar, 300);
  EXPECT_GT(std::atof(dom.standardOutput.c_str() + width + 7), 0.0) << dom.standardOutput.substr(bar, 300);
  // A third browser start while the upload runs only when the pictures are kept.
  if (std::getenv("ZR_KEEP_SCREENSHOTS")) screenshot(url, "running");
  // A termination sent to cacheagent alone reaches velkan too: the run
  // stops in order, and the file it was sending is not finalized.
  EXPECT_EQ(backup.stop(), 130);
  for (const std::string& path : stored(service)) EXPECT_NE(path, logical("music\\big.mp3"));
  std::string ended = readFile(dir_.file("work/status/cs_progress.xml"));
  EXPECT_NE(ended.find("state=\"interrupted\""), std::string::npos);
  dom = browse(url, dir_.file("profile"), "--dump-dom");
  EXPECT_NE(dom.standardOutput.find("state interrupted\">interrupted<"), std::string::npos) << dom.standardOutput;
  size_t figures = dom.standardOutput.find("id=\"runFigures\"");
  ASSERT_NE(figures, std::string::npos);
  std::string told = dom.standardOutput.substr(figures, dom.standardOutput.find("</p>", figures) - figures);
  EXPECT_NE(told.find(", took "), std::string::npos) << told;
  EXPECT_EQ(told.find("so far"), std::string::npos) << told;
  screenshot(url, "interrupted");

  // The same run as if it had ended with a file not uploaded, and as if it
  // had failed: the words and colour say which.
  struct Outcome {
    const char* state;
    const char* failed;
    const char* says;
  } outcomes[] = {{"finished\" exitCode=\"2", "1", "state problems\">finished with problems (1 not uploaded)<"},
                  {"failed\" exitCode=\"3", "0", "state failed\">failed (exit code 3)<"},
                  {"finished\" exitCode=\"0", "0", "state finished\">finished<"}};
  for (const Outcome& outcome : outcomes) {
    std::string edited = ended;
    const std::string interrupted = "interrupted\" exitCode=\"130", failed = " failed=\"";
    ASSERT_NE(edited.find(interrupted), std::string::npos) << edited;
    edited.replace(edited.find(interrupted), interrupted.size(), outcome.state);
    size_t count = edited.find(failed);
    ASSERT_NE(count, std::string::npos) << edited;
    count += failed.size();
    edited.replace(count, edited.find('"', count) - count, outcome.failed);
    writeFile(dir_.file("work/status/cs_progress.xml"), edited);
    dom = browse(url, dir_.file("profile"), "--dump-dom");
    EXPECT_NE(dom.standardOutput.find(outcome.says), std::string::npos) << outcome.says << dom.standardOutput;
    if (std::string(outcome.failed) == "1") screenshot(url, "finished-with-problems");
  }
  // Paths as this machine names them, not as the cache does.
  EXPECT_NE(dom.standardOutput.find(home("music/big.mp3")), std::string::npos) << dom.standardOutput;
  status.stop();
}

// Ends the program outright after `ms` milliseconds, its children with it.
std::vector<std::string> killAfter(int ms) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3fs", ms / 1000.0);
  return {"/usr/bin/timeout", "-s", "KILL", seconds};
}

TEST_F(Agent, BackupsKilledAtRandomMomentsEndLikeAnUndisturbedOne) {
  const int cycles = settingOf("ZR_KILL_CYCLES", 4);
  for (int i = 0; i < 30; ++i) writeFile(home("many/f" + std::to_string(i) + ".txt"), pseudoRandom(40000, 10 + i));
  std::map<std::string, std::string> reference;
  int64_t undisturbedMs = 0;
  {
    testsupport::RunningService undisturbed;
    configureAgent(undisturbed.server());
    uint64_t started = platform::tickCountMs();
    ASSERT_EQ(backup().exitCode, 0);
    undisturbedMs = static_cast<int64_t>(platform::tickCountMs() - started);
    for (const auto& file : undisturbed.service().store().filesUnder(logical())) {
      reference[file.path] = testsupport::storedContent(undisturbed.service().store(), file.path);
    }
  }
  std::mt19937 random(static_cast<unsigned>(settingOf("ZR_RESILIENCE_SEED", 7)));
  int killed = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
    testsupport::RunningService service;
    configureAgent(service.server());
    int afterMs = std::uniform_int_distribution<int>(0, static_cast<int>(undisturbedMs))(random);
    std::vector<std::string> argv = killAfter(afterMs);
    argv.insert(argv.end(), {CACHEAGENT_PATH, "backup", dir_.file("cfg.xml")});
    killed += runProgram(argv).terminatedBySignal == 9;
    auto again = backup();
    ASSERT_EQ(again.exitCode, 0) << "cycle " << cycle << " killed at " << afterMs << " ms: " << explain(again);
    std::map<std::string, std::string> now;
    for (const auto& file : service.service().store().filesUnder(logical())) {
      now[file.path] = testsupport::storedContent(service.service().store(), file.path);
    }
    ASSERT_TRUE(now == reference) << "cycle " << cycle << " killed at " << afterMs << " ms";
  }
  std::printf("cacheagent kill/restart: %d cycles, %d killed mid-run\n", cycles, killed);
}
#endif

}  // namespace
