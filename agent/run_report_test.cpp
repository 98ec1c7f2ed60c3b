#include "agent/run_report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "agent/agent_config.h"
#include "platform/env.h"
#include "platform/path.h"
#include "tests/test_support.h"

namespace {

TEST(RunReport, JsonStringsStayValidWhateverTheName) {
  struct Case {
    std::string text, json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"c:\\home\\ann", "\"c:\\\\home\\\\ann\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"tab\there\nline", "\"tab\\u0009here\\\\x0Aline\""},  // a line break is shown, as on the terminal
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {std::string("bad\xFF"), "\"bad\\\\xFF\""},  // not UTF-8: written as \xNN text
  };
  for (const Case& c : cases) EXPECT_EQ(agent::jsonString(c.text), c.json) << c.text;
}

TEST(RunReport, KeepsListsInOrderAndTheLastReportsOnly) {
  agent::RunReport report("backup");
  report.figure("uploaded", 3);
  report.entry("failures", "c:\\a", "locked");
  report.entry("skips", "c:\\b", "a link");
  report.entry("failures", "c:\\c", "");
  report.end(1);
  EXPECT_EQ(report.lines("failures"), (std::vector<std::string>{"c:\\a: locked", "c:\\c"}));
  std::string json = report.json();
  EXPECT_LT(json.find("\"failures\""), json.find("\"skips\""));
  EXPECT_NE(json.find("\"exitCode\": 1, \"uploaded\": 3"), std::string::npos) << json;

  testsupport::TempDir dir;
  std::string folder = dir.file("reports"), path;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(report.save(*platform::Env::defaultEnv(), folder, path, 3));
  std::vector<std::string> names;
  platform::Env::defaultEnv()->listDirectory(folder, &names);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(platform::joinPath(folder, names.back()), path) << "the newest stays";
  EXPECT_NE(testsupport::readFile(path).find("failures (2):\n  c:\\a: locked\n  c:\\c\n"), std::string::npos);
}

TEST(RunReport, RatesReadAsAPersonWritesThem) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t bytes;
  } cases[] = {{"500", true, 500},       {"500K", true, 512000},  {"2M", true, 2u << 20}, {"1g", true, 1u << 30},
               {"", false, 0},           {"0", false, 0},         {"K", false, 0},        {"5X", false, 0},
               {"1.5M", false, 0},       {"-3", false, 0},        {"99999999999", false, 0}};
  for (const Case& c : cases) {
    uint64_t bytes = 0;
    EXPECT_EQ(agent::parseRate(c.text, bytes), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

}  // namespace
