// What cacheagent tells, and the choices it leaves to the user: --json
// gives one document on standard output, -q only the problems, a backup's
// report stays in the work folder, pictures="keep" sends pictures as they
// are, and --bwlimit holds the upload to its rate.
#include <gtest/gtest.h>

#include <random>

#include "platform/clock.h"
#include "platform/env.h"
#include "tests/agent_fixture.h"
#include "tests/image_fixtures.h"
#include "tests/local_service_fixture.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

std::string noise(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(generator() & 0xFF);
  return out;
}

std::string jsonEscaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

bool holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class AgentOutput : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
    AgentFixture::SetUp();
    writeFile(home("a.txt"), "alpha");
    writeFile(home("sub/b.txt"), "beta");
  }
  std::vector<std::string> reports() {
    std::vector<std::string> names;
    platform::Env::defaultEnv()->listDirectory(dir_.file("work/reports"), &names);
    return names;
  }
};

TEST_F(AgentOutput, JsonIsTheOneThingOnStandardOutput) {
  testsupport::RunningService service;
  configureAgent(service.server(), "", "<CompressionWait value='0'/>");
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::vector<std::string> fields;
  } cases[] = {
      {{"backup", dir_.file("cfg.xml"), "--json"}, 0,
       {"\"command\": \"backup\"", "\"exitCode\": 0", "\"uploaded\": 2", "\"scannedFiles\": 2"}},
      {{"ls", dir_.file("cfg.xml"), "--json"}, 0, {"\"fileCount\": 2", "b.txt\", \"what\": \"4 bytes"}},
      {{"check", dir_.file("cfg.xml"), "--json"}, 0, {"\"outcome\": \"matches\"", "\"filesInCache\": 2"}},
      {{"restore", dir_.file("cfg.xml"), logical(), dir_.file("back"), "--json"}, 0,
       {"\"restored\": 2", "\"selected\": 2"}},
  };
  for (const Case& c : cases) {
    auto run = agent(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments[0] << explain(run);
    const std::string& out = run.standardOutput;
    ASSERT_FALSE(out.empty()) << c.arguments[0];
    EXPECT_EQ(out.front(), '{') << c.arguments[0] << ": " << out;
    EXPECT_EQ(out.substr(out.size() - 2), "}\n") << c.arguments[0] << ": " << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << c.arguments[0] << ": one line, one document";
    for (const std::string& field : c.fields) EXPECT_TRUE(holds(out, field)) << field << " in " << out;
  }
  // A difference is named in its list.
  writeFile(home("new.txt"), "new");
  auto check = agent({"check", dir_.file("cfg.xml"), "--json"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_TRUE(holds(check.standardOutput, "\"missing\": [{\"path\": \"" + jsonEscaped(logical("new.txt"))))
      << check.standardOutput;
}

TEST_F(AgentOutput, QuietPrintsOnlyProblemsAndEveryBackupLeavesItsReport) {
  testsupport::RunningService service;
  configureAgent(service.server(), "", "<CompressionWait value='0'/>");
  auto quiet = backup({"-q"});
  EXPECT_EQ(quiet.exitCode, 0) << explain(quiet);
  EXPECT_EQ(quiet.standardOutput, "");
  EXPECT_EQ(quiet.standardError, "");
  auto quietJson = backup({"-q", "--json"});
  EXPECT_EQ(quietJson.standardError, "") << "-q keeps the summary away from standard error too";
  EXPECT_TRUE(holds(quietJson.standardOutput, "\"command\": \"backup\"")) << quietJson.standardOutput;
  auto verbose = backup({"-v"});
  EXPECT_EQ(verbose.exitCode, 0);
  writeFile(home("c.txt"), "gamma");
  verbose = backup({"-v"});
  EXPECT_TRUE(holds(verbose.standardOutput, "uploaded " + logical("c.txt"))) << verbose.standardOutput;

  std::vector<std::string> names = reports();
  ASSERT_EQ(names.size(), 4u);
  std::sort(names.begin(), names.end());
  std::string last = readFile(dir_.file("work/reports/" + names.back()));
  EXPECT_TRUE(holds(last, "cacheagent backup, exit code 0")) << last;
  EXPECT_TRUE(holds(last, "uploaded: 1 of 1 file")) << last;
  EXPECT_TRUE(holds(verbose.standardOutput, "report: ")) << verbose.standardOutput;
  EXPECT_TRUE(backup({"--dry-run"}).exitCode == 0);
  EXPECT_EQ(reports().size(), 4u) << "a dry run leaves no report";
}

TEST_F(AgentOutput, PicturesKeptAsTheyAreComeBackByteForByte) {
  testsupport::writeJpeg(home("photo.jpg"), 1600, 1200);
  struct Case {
    const char* pictures;
    bool same;
  } cases[] = {{"keep", true}, {"scale", false}};
  for (const Case& c : cases) {
    testsupport::RunningService service;
    configureAgent(service.server(), std::string("pictures='") + c.pictures + "'", "<CompressionWait value='0'/>");
    auto run = backup();
    ASSERT_EQ(run.exitCode, 0) << explain(run);
    EXPECT_EQ(holds(run.standardOutput, "re-encoded"), !c.same) << c.pictures << ": " << run.standardOutput;
    std::map<std::string, std::string> back = cached();
    ASSERT_TRUE(back.count("photo.jpg")) << c.pictures;
    EXPECT_EQ(back["photo.jpg"] == readFile(home("photo.jpg")), c.same) << c.pictures;
  }
}

TEST_F(AgentOutput, BandwidthLimitHoldsTheUploadToItsRate) {
  testsupport::RunningService service;
  configureAgent(service.server(), "", "<CompressionWait value='0'/>");
  const size_t bytes = 3u << 20;
  writeFile(home("big.bin"), noise(bytes, 7));
  uint64_t started = platform::tickCountMs();
  auto run = backup({"--bwlimit", "1M"});
  double seconds = static_cast<double>(platform::tickCountMs() - started) / 1000.0;
  ASSERT_EQ(run.exitCode, 0) << explain(run);
  // 3 MiB at 1 MiB/s: not faster than the rate allows (10 % slack for the
  // first burst), and not held far below it.
  EXPECT_GE(seconds, 2.7) << run.standardOutput;
  EXPECT_LE(seconds, 9.0) << run.standardOutput;
  EXPECT_EQ(cached()["big.bin"], readFile(home("big.bin")));
}

}  // namespace
