// dornik and velkan as a user runs them, against cachemanager-local: a
// folder tree, its snapshots, the action set, the uploads, and what the
// service holds afterwards.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>

#include "bindings/zrcore/xml_builder.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/file_lock.h"
#include "platform/process.h"
#include "prepare/image_codec.h"
#include "tests/image_fixtures.h"
#include "bindings/zrcore/configurator.h"
#include "client/session_key_store.h"
#include "tests/forwarding_proxy.h"
#include "tests/local_service_fixture.h"
#include "tests/velkan_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testsupport::exitByte;
using testsupport::readFile;
using testsupport::writeFile;
using testsupport::gunzip;

class Velkan : public testsupport::VelkanFixture {};

TEST_F(Velkan, FirstRunUploadsAllSecondRunOnlyTheChanges) {
  writeFile(home("docs/report.txt"), std::string(20000, 'r'));
  writeFile(home("docs/notes.doc"), "notes v1");
  writeFile(home("docs/gone.txt"), "soon deleted");
  writeFile(home("music/song.mp3"), std::string(3000, 'm'));
  writeFile(home("bin/tool.exe"), std::string(4096, 'x'));
  testsupport::writeJpeg(home("pics/small.jpg"), 200, 100);
  testsupport::writeJpeg(home("pics/large.jpg"), 2000, 1000);
  testsupport::RunningService service;

  auto first = cycle(service.server());
  ASSERT_EQ(first.exitCode, 0) << velkanLog();
  EXPECT_NE(first.standardOutput.find("uploaded " + logical("docs/report.txt")), std::string::npos) << first.standardOutput;
  auto& store = service.service().store();
  EXPECT_EQ(stored(service).size(), 7u);
  EXPECT_EQ(testsupport::gunzipBytes(testsupport::storedContent(store, logical("docs/report.txt"))),
            std::string(20000, 'r'));
  EXPECT_EQ(testsupport::storedContent(store, logical("music/song.mp3")), std::string(3000, 'm'));
  EXPECT_EQ(testsupport::storedContent(store, logical("pics/small.jpg")), readFile(home("pics/small.jpg")));
  int w = 0, h = 0;
  std::string scaled = dir_.file("scaled.jpg");
  testsupport::writeFile(scaled, testsupport::storedContent(store, logical("pics/large.jpg")));
  ASSERT_TRUE(velkan::readImageSize(*platform::Env::defaultEnv(), scaled, w, h));
  EXPECT_EQ(w, 768);
  EXPECT_EQ(h, 384);
  EXPECT_NE(readFile(dir_.file("work/status/cs_uploadedtoday.xml")).find("report.txt"), std::string::npos);

  refreshCacheListing(service.server());
  writeFile(home("docs/notes.doc"), "notes version two");  // changed
  platform::Env::defaultEnv()->removeFile(home("docs/gone.txt"));
  writeFile(home("docs/new.txt"), "brand new");
  auto second = cycle(service.server());
  ASSERT_EQ(second.exitCode, 0) << velkanLog();
  std::vector<std::string> expected = {logical("bin/tool.exe"),    logical("docs/new.txt"),   logical("docs/notes.doc"),
                                       logical("docs/report.txt"), logical("music/song.mp3"), logical("pics/large.jpg"),
                                       logical("pics/small.jpg")};
  EXPECT_EQ(stored(service), expected);
  EXPECT_EQ(testsupport::gunzipBytes(testsupport::storedContent(store, logical("docs/notes.doc"))),
            "notes version two");
  EXPECT_EQ(testsupport::gunzipBytes(testsupport::storedContent(store, logical("docs/new.txt"))), "brand new");
  // Only what changed went again.
  EXPECT_EQ(testsupport::countOf(second.standardOutput, "uploaded "), 2u) << second.standardOutput;
}

TEST_F(Velkan, LimitsStopARunAndTheNextRunTakesTheRest) {
  for (int i = 0; i < 6; ++i) writeFile(home("f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
  testsupport::RunningService service;
  auto limited = cycle(service.server(), "<MaxFiles value='2'/>");
  EXPECT_EQ(limited.exitCode, 0) << velkanLog();
  EXPECT_EQ(stored(service).size(), 2u);
  EXPECT_EQ(testsupport::countOf(velkanLog(), "Upload file limit of 2 is reached. Total files processed are 2."), 1u);
  refreshCacheListing(service.server());
  auto rest = cycle(service.server());
  EXPECT_EQ(rest.exitCode, 0);
  EXPECT_EQ(stored(service).size(), 6u);
  EXPECT_EQ(testsupport::countOf(rest.standardOutput, "uploaded "), 4u) << "nothing went twice";
}

// Several files at once, each on a session of its own: every file is
// stored whole and recorded, and the file limit holds for all of them.
TEST_F(Velkan, SeveralUploadSessionsStoreEveryFileAndKeepTheLimits) {
  std::map<std::string, std::string> files;
  for (int i = 0; i < 40; ++i) {
    std::string name = "many/f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin");
    files[name] = std::string(static_cast<size_t>(100 + i * 997), static_cast<char>('a' + i % 26));
    writeFile(home(name), files[name]);
  }
  for (int sessions : {1, 8}) {
    SCOPED_TRACE(std::to_string(sessions) + " sessions");
    platform::Env::defaultEnv()->removeFile(dir_.file("work/status/cs_uploadedtoday.xml"));
    {
      testsupport::RunningService service;
      auto run = cycle(service.server(), "<UploadSessions value='" + std::to_string(sessions) + "'/>");
      ASSERT_EQ(run.exitCode, 0) << velkanLog();
      EXPECT_EQ(stored(service).size(), 40u);
      for (const auto& [name, content] : files) {
        std::string stored = testsupport::storedContent(service.service().store(), logical(name));
        EXPECT_EQ(name.size() > 4 && name.substr(name.size() - 4) == ".txt" ? testsupport::gunzipBytes(stored) : stored,
                  content)
            << name;
      }
      EXPECT_EQ(testsupport::countOf(readFile(dir_.file("work/status/cs_uploadedtoday.xml")), "<path>"), 40u);
      refreshCacheListing(service.server());
      EXPECT_EQ(testsupport::countOf(cycle(service.server()).standardOutput, "uploaded "), 0u) << "all recorded";
    }
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
    platform::Env::defaultEnv()->removeFile(dir_.file("work/status/cs_uploadedtoday.xml"));
    writeFile(dir_.file("cache.xml"), "<cache-content/>");
    testsupport::RunningService limited;
    auto run = cycle(limited.server(), "<UploadSessions value='" + std::to_string(sessions) + "'/><MaxFiles value='5'/>");
    EXPECT_EQ(run.exitCode, 0) << velkanLog();
    EXPECT_EQ(stored(limited).size(), 5u);
    platform::Env::defaultEnv()->removeFile(dir_.file("cabinet.db"));
  }
}

// A long run tells each uploaded file while it goes on, not all at its end
// (the lines are passed on in batches, not one by one).
TEST_F(Velkan, EachUploadedFileIsToldWhileTheRunGoesOn) {
  constexpr size_t kFiles = 4;
  for (size_t i = 0; i < kFiles; ++i) writeFile(home("told/f" + std::to_string(i) + ".bin"), std::string(100 + i, 'x'));
  localservice::ServiceConfig slow;
  slow.latencyMs = 250;  // each file's three answers: 0.75 s
  testsupport::RunningService service(slow);
  plan(service.server(), "<UploadSessions value='1'/>");
  platform::ChildProcess velkan;
  ASSERT_TRUE(velkan.start({VELKAN_PATH, dir_.file("cfg.xml")}, env_, dir_.file("work")));
  std::vector<bool> runningWhenTold;
  for (std::string line; velkan.readLine(line, 20000);) {
    if (line.rfind("uploaded ", 0) == 0) runningWhenTold.push_back(velkan.running());
  }
  EXPECT_EQ(velkan.wait(), 0) << velkanLog();
  ASSERT_EQ(runningWhenTold.size(), kFiles);
  EXPECT_TRUE(runningWhenTold.front()) << "the first file was told only once the run had ended";
}

TEST_F(Velkan, AFullStoreEndsTheRunWithMinus9) {
  writeFile(home("a.txt"), "a");
  writeFile(home("b.txt"), "b");
  localservice::ServiceConfig config;
  config.quotaBytes = 0;
  testsupport::RunningService service(config);
  auto run = cycle(service.server());
  EXPECT_EQ(exitByte(run.exitCode), exitByte(-9)) << velkanLog();
  EXPECT_TRUE(stored(service).empty());
}

TEST_F(Velkan, CommandLineAndBrokenInputs) {
  auto usage = testsupport::run({VELKAN_PATH});
  EXPECT_EQ(exitByte(usage.exitCode), exitByte(-101));
  EXPECT_EQ(usage.standardOutput, "velkan usage: velkan.exe <configuration file>.\n");
  testsupport::RunningService service;
  configure(service.server());
  for (const char* share : {"101", "-5"}) {
    EXPECT_EQ(exitByte(runProgram({VELKAN_PATH, dir_.file("cfg.xml"), share}).exitCode), exitByte(-102)) << share;
  }
  EXPECT_NE(velkanLog().find("Wrong value for the second (cpu percentage) parameter."), std::string::npos);
  writeFile(dir_.file("actionset.xml"), "<action-set><action name='delete'><file path='c:\\x'/>");
  auto broken = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
  EXPECT_EQ(exitByte(broken.exitCode), exitByte(-102));
  EXPECT_NE(velkanLog().find("Loading of Action XML failed."), std::string::npos);
  EXPECT_FALSE(testsupport::fileExists(dir_.file("cabinet.db"))) << "nothing was deleted or recorded";
  writeFile(dir_.file("cfg.xml"), "<CachingPolicyEngineConfiguration/>");
  auto noSection = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
  EXPECT_EQ(exitByte(noSection.exitCode), exitByte(-102));
  // Without a logging element the log sits beside the configuration.
  EXPECT_NE(readFile(dir_.file("velkan.log")).find("While reading /CachingPolicyEngineConfiguration/cacheManagerClient@server"),
            std::string::npos);
}

TEST_F(Velkan, AConfigurationThatCannotBeLoadedEndsWithMinus102InBothModes) {
  struct Case {
    const char* name;
    const char* content;  // null: no such file
    const char* reason;   // on standard error
  } cases[] = {
      {"missing.xml", nullptr, "missing.xml"},
      {"broken.xml", "<CachingPolicyEngineConfiguration><cacheManagerClient>", "line 1, column"},
      {"foreign.xml", "<OtherRoot/>", "has root element 'OtherRoot'"},
  };
  for (const Case& c : cases) {
    if (c.content) writeFile(dir_.file(c.name), c.content);
    for (std::vector<std::string> share : {std::vector<std::string>{}, std::vector<std::string>{"50"}}) {
      std::vector<std::string> argv = {VELKAN_PATH, dir_.file(c.name)};
      argv.insert(argv.end(), share.begin(), share.end());
      platform::Env::defaultEnv()->removeFile(dir_.file("velkan.log"));
      auto result = runProgram(argv);
      SCOPED_TRACE(std::string(c.name) + (share.empty() ? "" : " throttled"));
      EXPECT_EQ(exitByte(result.exitCode), exitByte(-102));
      EXPECT_NE(result.standardError.find(c.reason), std::string::npos) << result.standardError;
      // The log starts with its defaults: beside the configuration file.
      EXPECT_EQ(testsupport::countOf(readFile(dir_.file("velkan.log")), "[info] "), 1u) << readFile(dir_.file("velkan.log"));
      EXPECT_NE(readFile(dir_.file("velkan.log")).find("[velkan.exe] Loading of Config XML failed."), std::string::npos);
    }
  }
}

TEST_F(Velkan, ALimitReachedBeforeTheFirstUploadSendsNothing) {
  for (int i = 0; i < 3; ++i) writeFile(home("f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
  struct Case {
    const char* limit;
    const char* message;
  } cases[] = {
      {"<MaxFiles value='0'/>", "Upload file limit of 0 is reached. Total files processed are 0."},
      {"<MaxSpace value='0'/>", "Upload data limit of 0 is reached. Total data uploaded is 0."},
  };
  for (const Case& c : cases) {
    testsupport::RunningService service;
    auto run = cycle(service.server(), c.limit);
    EXPECT_EQ(run.exitCode, 0) << velkanLog();
    EXPECT_TRUE(stored(service).empty()) << c.limit;
    EXPECT_EQ(testsupport::countOf(run.standardOutput, "uploaded "), 0u) << run.standardOutput;
    EXPECT_NE(velkanLog().find(c.message), std::string::npos) << velkanLog();
    EXPECT_EQ(velkanLog().find("CCPUBoundThread compressing"), std::string::npos) << "nothing was prepared";
  }
}

TEST_F(Velkan, ThrottledRunEndsWithTheSameResult) {
  for (int i = 0; i < 3; ++i) writeFile(home("t" + std::to_string(i) + ".txt"), "throttled " + std::to_string(i));
  testsupport::RunningService service;
  auto run = cycle(service.server(), "", {"50"});
  EXPECT_EQ(run.exitCode, 0) << velkanLog();
  EXPECT_EQ(stored(service).size(), 3u);
}

TEST_F(Velkan, PolicyStatusFileWhenNothingIsToUpload) {
  platform::Env::defaultEnv()->createDirectories(home());
  platform::Env::defaultEnv()->createDirectories(dir_.file("work/remotepolicies"));
  writeFile(dir_.file("work/status/cs_curpolicy.xml"), "remotepolicies/a.xml");
  testsupport::RunningService service;
  auto run = cycle(service.server());
  EXPECT_EQ(run.exitCode, 0) << velkanLog();
  EXPECT_EQ(readFile(dir_.file("work/remotepolicies/a.status")), std::string("\x02\x00\x00\x00", 4));
}

TEST_F(Velkan, SecretsStayOutOfLogsOutputsAndStatusFiles) {
  const std::string authentication = "s3cr3t-auth-Text-42", password = "pr0xy-Pa55word";
  writeFile(dir_.file("auth.xml"), "<agent>" + authentication + "</agent>");
  testsupport::ForwardingProxy proxy;
  writeFile(dir_.file("work/agent.xml"),
            "<properties><entry key='config.proxy.http.useproxy'>true</entry>"
            "<entry key='config.proxy.http.host'>127.0.0.1</entry>"
            "<entry key='config.proxy.http.port'>" + std::to_string(proxy.port()) + "</entry>"
            "<entry key='config.proxy.http.username'>ann</entry>"
            "<entry key='config.proxy.http.userpassword'>" + ZR::encodeBase64(password) + "</entry></properties>");
  writeFile(home("docs/a.txt"), "some text");
  // Held open here, the session key block outlives the run, so the key can
  // be looked for afterwards.
  platform::setEnvironmentVariable("ZR_IPC_NAMESPACE", env_["ZR_IPC_NAMESPACE"]);
  velkan::CSessionKeyStore keys;
  testsupport::RunningService service;
  auto run = cycle(service.server());
  ASSERT_EQ(run.exitCode, 0) << velkanLog();
  ASSERT_EQ(stored(service).size(), 1u);
  ASSERT_FALSE(proxy.authorizations().empty()) << "the run did not go through the proxy";
  const std::string key = keys.getKey();
  ASSERT_FALSE(key.empty());

  std::map<std::string, std::string> texts = {{"standard output", run.standardOutput},
                                              {"standard error", run.standardError}};
  for (const std::string& folder : {dir_.file("logs"), dir_.file("work/status")}) {
    std::vector<std::string> names;
    platform::Env::defaultEnv()->listDirectory(folder, &names);
    for (const std::string& name : names) texts[folder + "/" + name] = readFile(folder + "/" + name);
  }
  for (const std::string& secret : {authentication, password, ZR::encodeBase64(password), key}) {
    for (const auto& [where, text] : texts) EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in " << where;
  }
  platform::setEnvironmentVariable("ZR_IPC_NAMESPACE", "");
}

}  // namespace

namespace {

TEST_F(Velkan, RunsThatDoNotEndWellSayWhyAndEndNonZero) {
  for (int i = 0; i < 4; ++i) writeFile(home("f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
  testsupport::RunningService service;
  struct Case {
    const char* name;
    std::function<std::string()> breakIt;  // returns the server to use
    int exitCode;
    std::string says;
  } cases[] = {
      {"service down", [] { return std::string("127.0.0.1:1"); }, 3, "127.0.0.1:1"},
      {"no authentication file",
       [&] {
         platform::Env::defaultEnv()->removeFile(dir_.file("auth.xml"));
         return service.server();
       },
       4, dir_.file("auth.xml")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string server = c.breakIt();
    // Where a connection to a closed port waits for its time-out (wine), the wait is short.
    plan(server, "<ConnectTimeout value='3'/>");
    if (c.exitCode == 2) platform::Env::defaultEnv()->removeFile(home("f2.txt"));
    auto run = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
    EXPECT_EQ(run.exitCode, c.exitCode) << velkanLog();
    EXPECT_EQ(testsupport::countOf(run.standardError, "\n"), 1u) << run.standardError;
    EXPECT_NE(run.standardError.find(c.says), std::string::npos) << run.standardError;
    EXPECT_NE(velkanLog().find("velkan finished: "), std::string::npos);
    EXPECT_NE(velkanLog().find("exit code " + std::to_string(c.exitCode)), std::string::npos);
  }
  // A file gone since the action set was written costs no call and is no
  // failure: its cached copy goes with the next backup's deletions.
  writeFile(dir_.file("auth.xml"), "<agent>ann</agent>");
  plan(service.server());
  platform::Env::defaultEnv()->removeFile(home("f2.txt"));
  auto vanished = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
  EXPECT_EQ(vanished.exitCode, 0) << velkanLog();
  EXPECT_NE(velkanLog().find(logical("f2.txt") + " no longer exists; nothing was sent, its cached copy goes at the next backup"),
            std::string::npos);
  EXPECT_EQ(stored(service).size(), 3u);

  // Without an authentication file nothing is prepared: the long pause
  // before each compression is never sat out.
  platform::Env::defaultEnv()->removeFile(dir_.file("auth.xml"));
  writeFile(home("f2.txt"), "back again");
  plan(service.server());
  std::string text = readFile(dir_.file("cfg.xml"));
  text.replace(text.find("<CompressionWait value='0'/>"), 28, "<CompressionWait value='10000'/>");
  writeFile(dir_.file("cfg.xml"), text);
  platform::Env::defaultEnv()->removeFile(dir_.file("logs/velkan.log"));
  uint64_t started = platform::tickCountMs();
  EXPECT_EQ(runProgram({VELKAN_PATH, dir_.file("cfg.xml")}).exitCode, 4);
  EXPECT_LT(platform::tickCountMs() - started, 5000u);
  EXPECT_EQ(velkanLog().find("CCPUBoundThread compressing"), std::string::npos);
  writeFile(dir_.file("auth.xml"), "<agent>ann</agent>");

  auto abc = runProgram({VELKAN_PATH, dir_.file("cfg.xml"), "abc"});
  EXPECT_EQ(exitByte(abc.exitCode), exitByte(-102));
  EXPECT_NE(abc.standardError.find("\"abc\""), std::string::npos) << abc.standardError;
  auto help = runProgram({VELKAN_PATH, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.standardOutput.find("130 interrupted"), std::string::npos) << help.standardOutput;
  EXPECT_EQ(runProgram({VELKAN_PATH, "--version"}).standardOutput.rfind("velkan ", 0), 0u);
}

TEST_F(Velkan, ASecondRunOnTheSameIndexWaitsItsTurn) {
  writeFile(home("a.txt"), "a");
  testsupport::RunningService service;
  plan(service.server());
  {
    platform::FileLock running;
    ASSERT_TRUE(running.tryLock(dir_.file("cabinet.db.lock"), "velkan, process 4242"));
    auto second = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
    EXPECT_EQ(second.exitCode, 5);
    EXPECT_NE(second.standardError.find("process 4242"), std::string::npos) << second.standardError;
    EXPECT_TRUE(stored(service).empty());
  }
  // A lock whose holder is gone is taken over.
  auto after = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
  EXPECT_EQ(after.exitCode, 0) << velkanLog();
  EXPECT_EQ(stored(service).size(), 1u);
}

#ifndef _WIN32
TEST_F(Velkan, OnlyPlainFilesAreSentAndLongNamesFit) {
  std::string long240 = std::string(236, 'l') + ".txt", long255 = std::string(251, 'm') + ".txt";
  // Above the size of copies made in memory: these go through a file.
  std::string text(3 << 20, 'x');
  writeFile(home(long240), "two hundred and forty " + text);
  writeFile(home(long255), "two hundred and fifty-five " + text);
  ASSERT_EQ(::mkfifo(home("pipe.txt").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", home("zero.txt").c_str()), 0);
  testsupport::RunningService service;
  configure(service.server());
  std::string actions = "<action-set><action name='create'>";
  for (const std::string& name : {long240, long255, std::string("pipe.txt"), std::string("zero.txt")}) {
    actions += "<file path='" + logical(name) + "'><offset value='0'/><mimeType name='text/plain'/></file>";
  }
  writeFile(dir_.file("actionset.xml"), actions + "</action></action-set>");
  uint64_t started = platform::tickCountMs();
  auto run = runProgram({VELKAN_PATH, dir_.file("cfg.xml")});
  EXPECT_LT(platform::tickCountMs() - started, 20000u) << "a pipe or a device held the run";
  EXPECT_EQ(run.exitCode, 2) << velkanLog();
  EXPECT_EQ(stored(service), (std::vector<std::string>{logical(long240), logical(long255)})) << velkanLog();
  for (const char* name : {"pipe.txt", "zero.txt"}) {
    EXPECT_NE(velkanLog().find(logical(name) + " is not a plain file"), std::string::npos) << name << velkanLog();
  }
  EXPECT_EQ(testsupport::gunzipBytes(testsupport::storedContent(service.service().store(), logical(long255))),
            "two hundred and fifty-five " + text);
  // What velkan writes is its user's alone.
  for (const std::string& path : {dir_.file("logs/velkan.log"), dir_.file("cabinet.db"),
                                  dir_.file("work/status/cs_progress.xml")}) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 077, 0u) << path;
  }
}

TEST_F(Velkan, AnInterruptedRunRecordsNothingHalfAndSaysHowFarItGot) {
  std::string big = testsupport::patterned(3 << 20);
  writeFile(home("a-first.txt"), "small first");
  writeFile(home("big.mp3"), big);
  localservice::ServiceConfig slow;
  slow.slowReadBytesPerSecond = 256 << 10;
  testsupport::RunningService service(slow);
  plan(service.server(), "<SortUploads value='no'/>");
  platform::ChildProcess velkan;
  ASSERT_TRUE(velkan.start({VELKAN_PATH, dir_.file("cfg.xml")}, env_, dir_.file("work")));
  std::string progress;
  for (int i = 0; i < 200 && progress.find("big.mp3") == std::string::npos; ++i) {
    platform::sleepMs(50);
    progress = readFile(dir_.file("work/status/cs_progress.xml"));
  }
  ASSERT_NE(progress.find("big.mp3"), std::string::npos) << "the large upload never began";
  int code = velkan.stop();  // SIGTERM, as a shutdown sends it
  EXPECT_EQ(code, 130) << velkanLog();
  EXPECT_EQ(readFile(dir_.file("work/status/cs_uploading.xml")).find("big.mp3"), std::string::npos);
  EXPECT_NE(readFile(dir_.file("work/status/cs_progress.xml")).find("state=\"interrupted\""), std::string::npos);
  EXPECT_NE(velkanLog().find("interrupted after"), std::string::npos) << velkanLog();
  std::vector<std::string> held = stored(service);
  EXPECT_EQ(std::count(held.begin(), held.end(), logical("big.mp3")), 0) << "an interrupted upload is never finalized";
}
#endif

}  // namespace
