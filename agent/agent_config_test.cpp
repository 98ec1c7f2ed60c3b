#include "agent/agent_config.h"

#include <gtest/gtest.h>

#include "platform/env.h"
#include "tests/test_support.h"

namespace {

std::string configuration(const std::string& agentSection, const std::string& clientActionSet = "actionset.xml") {
  return "<CachingPolicyEngineConfiguration><policyEngine><dircontent value='dir.xml'/>"
         "<cachecontent value='cache.xml'/><actionset value='actionset.xml'/></policyEngine>"
         "<cacheManagerClient server='127.0.0.1:1'><accessDocument path='auth.xml'/><actionset path='" +
         clientActionSet + "'/></cacheManagerClient>" + agentSection + "</CachingPolicyEngineConfiguration>";
}

TEST(AgentConfig, ReadsTheSectionWithDefaultsAndPathsFromTheWorkFolder) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("cfg.xml"),
                         configuration("<agent workFolder='work' cpu='40'><watch path='" + dir.file("home/") +
                                       "'><exclude pattern='*.tmp'/><exclude pattern='build/**'/></watch>"
                                       "<watch path='relative'/></agent>"));
  agent::AgentConfig config;
  platform::Status loaded = agent::loadAgentConfig(*platform::Env::defaultEnv(), dir.file("cfg.xml"), config);
  ASSERT_TRUE(loaded) << loaded.message();
  std::string work = dir.file("work");
  EXPECT_EQ(config.workFolder, work);
  // Relative settings start at the configuration's folder, as dornik and velkan take them.
  EXPECT_EQ(config.dirContent, dir.file("dir.xml"));
  EXPECT_EQ(config.client.accessDocument, dir.file("auth.xml"));
  EXPECT_EQ(config.cpuPercent, 40);
  EXPECT_EQ(config.maxDeletePercent, 50);
  ASSERT_EQ(config.watches.size(), 2u);
  EXPECT_EQ(config.watches[0].hostPath, dir.file("home"));  // no trailing separator
  EXPECT_EQ(config.watches[0].excludes, (std::vector<std::string>{"*.tmp", "build/**"}));
  EXPECT_EQ(config.watches[1].hostPath, dir.file("relative"));
}

TEST(AgentConfig, MistakesAreNamed) {
  struct Case {
    std::string text;
    const char* says;
  } cases[] = {
      {"<not-xml", "line 1"},
      {"<other/>", "root element is other"},
      {configuration("<agent><watch/></agent>"), "watch element has no path"},
      {configuration("<agent cpu='abc'><watch path='/x'/></agent>"), "cpu=\"abc\""},
      {configuration("<agent cpu='0'><watch path='/x'/></agent>"), "1 to 100"},
      {configuration("<agent maxDeletePercent='101'><watch path='/x'/></agent>"), "maxDeletePercent"},
      {configuration("<agent><watch path='/x'><exclude/></watch></agent>"), "has no pattern"},
      {configuration("<agent><watch path='/x'/></agent>", "other.xml"), "name the same file"},
  };
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    testsupport::writeFile(dir.file("cfg.xml"), c.text);
    agent::AgentConfig config;
    platform::Status loaded = agent::loadAgentConfig(*platform::Env::defaultEnv(), dir.file("cfg.xml"), config);
    EXPECT_FALSE(loaded) << c.text;
    EXPECT_NE(loaded.message().find(c.says), std::string::npos) << loaded.message();
  }
  agent::AgentConfig config;
  EXPECT_NE(agent::loadAgentConfig(*platform::Env::defaultEnv(), dir.file("missing.xml"), config).message().find("missing.xml"), std::string::npos);
}

TEST(AgentConfig, TheExampleLoads) {
  agent::AgentConfig config;
  platform::Status loaded = agent::loadAgentConfig(*platform::Env::defaultEnv(), std::string(ZR_SOURCE_DIR) + "/examples/backup.xml", config);
  ASSERT_TRUE(loaded) << loaded.message();
  EXPECT_EQ(config.watches.size(), 2u);
  EXPECT_EQ(config.client.compressionWaitMs, 0u);
}

}  // namespace
