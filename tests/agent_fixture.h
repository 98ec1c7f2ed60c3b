// cacheagent as a user runs it: the shared configuration with an agent
// section watching home/ann, the commands, and what the cache holds as a
// restore gives it back.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/velkan_fixture.h"

namespace testsupport {

class AgentFixture : public VelkanFixture {
 protected:
  // The shared configuration with an agent section watching home/ann.
  void configureAgent(const std::string& server, const std::string& agentAttributes = "",
                      const std::string& clientExtra = "") {
    configure(server, clientExtra, "");
    std::string text = readFile(dir_.file("cfg.xml"));
    std::string section = "<agent workFolder='" + dir_.file("work") + "' " + agentAttributes + "><watch path='" +
                          home() + "'><exclude pattern='*.tmp'/></watch></agent>";
    text.insert(text.find("</CachingPolicyEngineConfiguration>"), section);
    writeFile(dir_.file("cfg.xml"), text);
  }
  platform::ProcessResult agent(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {CACHEAGENT_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv);
  }
  platform::ProcessResult backup(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {"backup", dir_.file("cfg.xml")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return agent(arguments);
  }
  std::string explain(const platform::ProcessResult& run) {
    return run.standardOutput + run.standardError + readFile(dir_.file("logs/velkan.log"));
  }
  // What the cache holds of the home tree, restored into a fresh folder
  // (names relative to home/ann). Empty on a failed restore.
  std::map<std::string, std::string> cached(std::string* output = nullptr) {
    std::string target = dir_.file("restored-" + std::to_string(++restores_));
    auto run = agent({"restore", dir_.file("cfg.xml"), logical(), target});
    if (output) *output = explain(run);
    return filesBelow(target);
  }

 private:
  int restores_ = 0;
};

}  // namespace testsupport
