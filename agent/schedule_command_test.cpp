#include "agent/schedule_command.h"

#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/process.h"
#include "tests/test_support.h"

namespace {

TEST(Schedule, SpansReadAsPeopleWriteThem) {
  struct Case {
    const char* text;
    int64_t seconds;  // 0: refused
  } cases[] = {{"90s", 90}, {"15min", 900}, {"15m", 900}, {"1h", 3600}, {"2d", 172800}, {"59s", 0}, {"0h", 0},
               {"1w", 0},   {"h", 0},       {"-1h", 0},   {"400d", 0},  {"1h30min", 0}, {"", 0},    {"9999999999h", 0}};
  for (const Case& c : cases) {
    int64_t seconds = 0;
    EXPECT_EQ(agent::parseSpan(c.text, seconds), c.seconds > 0) << c.text;
    if (c.seconds > 0) {
      EXPECT_EQ(seconds, c.seconds) << c.text;
    }
  }
}

TEST(Schedule, EachConfigurationHasANameOfItsOwnThatStays) {
  EXPECT_EQ(agent::scheduleName("/home/ann/backup.xml"), agent::scheduleName("/home/ann/backup.xml"));
  EXPECT_NE(agent::scheduleName("/home/ann/backup.xml"), agent::scheduleName("/home/ann/other.xml"));
  EXPECT_EQ(agent::scheduleName("/x").size(), std::string("cacheagent-").size() + 12);
}

TEST(Schedule, PathsAreQuotedForTheUnitAndTextKeptAsText) {
  std::string text = agent::unitText(
      "ExecStart=\"@CACHEAGENT@\" backup \"@CONFIG@\"\nDescription=@CONFIG_TEXT@ every "
      "@EVERY_TEXT@\nOnUnitActiveSec=@EVERY@\n",
      "/opt/my apps/cacheagent", "/home/ann/50% \"odd\" $HOME\\x.xml", 5400, "90min");
  EXPECT_EQ(text,
            "ExecStart=\"/opt/my apps/cacheagent\" backup \"/home/ann/50%% \\\"odd\\\" $$HOME\\\\x.xml\"\n"
            "Description=/home/ann/50%% \"odd\" $HOME\\x.xml every 90min\nOnUnitActiveSec=5400s\n");
}

TEST(Schedule, TheWindowsTaskRunsAsOftenAsAsked) {
  struct Case {
    int64_t seconds;
    std::vector<std::string> when;
  } cases[] = {{1800, {"/SC", "MINUTE", "/MO", "30"}}, {5400, {"/SC", "MINUTE", "/MO", "90"}},
               {3600, {"/SC", "HOURLY", "/MO", "1"}},  {7200, {"/SC", "HOURLY", "/MO", "2"}},
               {86400, {"/SC", "DAILY", "/MO", "1"}},  {0, {"/SC", "ONLOGON"}}};
  for (const Case& c : cases) {
    std::vector<std::string> argv =
        agent::taskCreation("cacheagent-1", "C:\\a b\\cacheagent.exe", "C:\\c.xml", c.seconds);
    ASSERT_GE(argv.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + 4),
              (std::vector<std::string>{"/Create", "/F", "/TN", "cacheagent-1"}));
    EXPECT_EQ(argv[5], c.seconds > 0 ? "\"C:\\a b\\cacheagent.exe\" backup \"C:\\c.xml\" -q"
                                     : "\"C:\\a b\\cacheagent.exe\" watch \"C:\\c.xml\"");
    EXPECT_EQ(std::vector<std::string>(argv.begin() + 6, argv.end()), c.when) << c.seconds;
  }
}

}  // namespace
