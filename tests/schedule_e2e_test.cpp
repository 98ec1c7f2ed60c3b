// cacheagent schedule as a user meets it on Linux: the unit files it
// writes, the systemctl calls it makes (a stand-in systemctl records them),
// and the units as systemd itself reads them where systemd-analyze is
// installed.
#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/process.h"
#include "tests/agent_fixture.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

class Schedule : public testsupport::AgentFixture {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows side runs schtasks, which the test machine does not have";
#endif
    AgentFixture::SetUp();
    configureAgent("127.0.0.1:1");
    platform::Env::defaultEnv()->createDirectories(dir_.file("bin"));
    // A stand-in systemctl that records what it is asked.
    writeFile(dir_.file("bin/systemctl"), "#!/bin/sh\necho \"$@\" >> " + dir_.file("systemctl.log") +
                                              "\ncase \"$2\" in is-active) echo active;; esac\n");
    platform::ProcessResult made;
    platform::runProcess({"/bin/chmod", "755", dir_.file("bin/systemctl")}, {}, "", &made);
    env_["PATH"] = dir_.file("bin") + ":/usr/bin:/bin";
    env_["XDG_CONFIG_HOME"] = dir_.file("xdg");
  }
  std::string units() const { return dir_.file("xdg/systemd/user"); }
  std::string unitNamed(const std::string& suffix) {
    for (const auto& [name, content] : testsupport::filesBelow(units())) {
      if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return units() + "/" + name;
      }
    }
    return "";
  }
};

TEST_F(Schedule, InstallSwitchStatusAndRemove) {
  auto every = agent({"schedule", "install", dir_.file("cfg.xml"), "--every", "1h"});
  ASSERT_EQ(every.exitCode, 0) << explain(every);
  std::string timer = unitNamed(".timer"), service = unitNamed(".service");
  ASSERT_FALSE(timer.empty());
  EXPECT_NE(readFile(timer).find("OnUnitActiveSec=3600s"), std::string::npos) << readFile(timer);
  EXPECT_NE(
      readFile(service).find("ExecStart=\"" + std::string(CACHEAGENT_PATH) + "\" backup \"" + dir_.file("cfg.xml")),
      std::string::npos)
      << readFile(service);
  std::string log = readFile(dir_.file("systemctl.log"));
  std::string timerName = timer.substr(timer.rfind('/') + 1);
  EXPECT_NE(log.find("--user daemon-reload"), std::string::npos) << log;
  EXPECT_NE(log.find("--user enable --now " + timerName), std::string::npos) << log;

  // Where systemd is installed, it reads the units as written.
  if (platform::Env::defaultEnv()->fileExists("/usr/bin/systemd-analyze")) {
    platform::Env::defaultEnv()->createDirectories(dir_.file("run"));
    platform::ProcessResult verified;
    ASSERT_TRUE(platform::runProcess({"/usr/bin/systemd-analyze", "verify", "--user", service, timer},
                                     {{"XDG_CONFIG_HOME", dir_.file("xdg")}, {"XDG_RUNTIME_DIR", dir_.file("run")}}, "",
                                     &verified));
    EXPECT_EQ(verified.exitCode, 0) << verified.standardOutput << verified.standardError;
    // It says nothing of units it reads without complaint (a value it ignores is said, not failed).
    EXPECT_EQ(verified.standardOutput + verified.standardError, "");
  }

  auto watch = agent({"schedule", "install", dir_.file("cfg.xml"), "--watch"});
  ASSERT_EQ(watch.exitCode, 0) << explain(watch);
  EXPECT_EQ(unitNamed(".timer"), "");  // switched: the timer is gone
  EXPECT_NE(readFile(unitNamed(".service")).find("\" watch \""), std::string::npos);
  auto status = agent({"schedule", "status", dir_.file("cfg.xml")});
  EXPECT_EQ(status.exitCode, 0) << explain(status);
  EXPECT_NE(status.standardOutput.find("watching (active)"), std::string::npos) << status.standardOutput;

  auto removed = agent({"schedule", "remove", dir_.file("cfg.xml")});
  EXPECT_EQ(removed.exitCode, 0) << explain(removed);
  EXPECT_EQ(unitNamed(".service"), "");
  EXPECT_NE(readFile(dir_.file("systemctl.log")).find("disable --now"), std::string::npos);
  EXPECT_NE(agent({"schedule", "status", dir_.file("cfg.xml")}).standardOutput.find("not scheduled"),
            std::string::npos);
}

TEST_F(Schedule, MistakesAreNamed) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    const char* says;
  } cases[] = {
      {{"schedule", "install", dir_.file("cfg.xml")}, 2, "--watch or --every"},
      {{"schedule", "install", dir_.file("cfg.xml"), "--watch", "--every", "1h"}, 2, "--watch or --every"},
      {{"schedule", "install", dir_.file("cfg.xml"), "--every", "5s"}, 2, "--every needs a span"},
      {{"schedule", "remove", dir_.file("cfg.xml"), "--watch"}, 2, "go with schedule install"},
      {{"schedule", "start", dir_.file("cfg.xml")}, 2, "install, remove or status"},
  };
  for (const Case& c : cases) {
    auto run = agent(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << explain(run);
    EXPECT_NE(run.standardError.find(c.says), std::string::npos) << run.standardError;
  }
  env_["PATH"] = dir_.file("nothing-here");
  auto none = agent({"schedule", "install", dir_.file("cfg.xml"), "--every", "1h"});
  EXPECT_EQ(none.exitCode, 5) << explain(none);
  EXPECT_NE(none.standardError.find("systemctl is not on the PATH"), std::string::npos) << none.standardError;
}

}  // namespace
