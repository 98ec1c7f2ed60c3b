#include "agent/agent_config.h"

#include <memory>
#include <stdexcept>

#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"

namespace agent {
namespace {

constexpr const char* kRoot = "CachingPolicyEngineConfiguration";

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') && path[path.size() - 2] != ':') {
    path.pop_back();
  }
  return path;
}

// Beside cacheagent, as an installation has them; else where the build
// tree puts them (engine/dornik and client/velkan beside agent/).
std::string findProgram(platform::Env& env, const std::string& name, const std::string& buildFolder) {
  std::string here = platform::executableFolder();
  std::string file = platform::programFileName(name);
  std::string beside = platform::joinPath(here, file);
  if (env.fileExists(beside)) return beside;
  std::string built = platform::joinPath(platform::joinPath(platform::joinPath(here, ".."), buildFolder), file);
  return env.fileExists(built) ? built : beside;
}

std::string attributeOf(const ZR::CXmlElement* element, const char* name) {
  const ZR::CXmlAttribute* attribute = element ? element->getAttribute(name) : nullptr;
  return attribute ? attribute->value : "";
}

platform::Status readPolicyEngine(const ZR::CXmlElement& root, AgentConfig& config) {
  struct Setting {
    const char* name;
    std::string* target;
  } settings[] = {{"dircontent", &config.dirContent}, {"cachecontent", &config.cacheContent},
                  {"actionset", &config.actionSet}};
  for (const Setting& s : settings) {
    std::string value = attributeOf(root.getChild("policyEngine") ? root.getChild("policyEngine")->getChild(s.name) : nullptr,
                                    "value");
    if (value.empty()) {
      return platform::Status::invalid(config.configurationPath + ": policyEngine has no " + s.name + " value");
    }
    *s.target = config.resolve(value);
  }
  return platform::Status::ok();
}

platform::Status readClient(const ZR::CXmlElement& root, AgentConfig& config) {
  const ZR::CXmlElement* section = root.getChild("cacheManagerClient");
  config.compressionWaitSet = section && section->getChild("CompressionWait");
  try {
    velkan::readConfiguration(root, config.client, ZR::CLogger::discarding());
  } catch (const std::exception& e) {
    std::string why = ZR::CStringUtils::rtrim(e.what(), "\n ");
    return platform::Status::invalid(config.configurationPath + ": " + why);
  }
  config.client.accessDocument = config.resolve(config.client.accessDocument);
  config.client.actionset = config.resolve(config.client.actionset);
  if (config.client.actionset != config.actionSet) {
    return platform::Status::invalid(config.configurationPath + ": velkan reads the action set " +
                                     config.client.actionset + " but dornik writes " + config.actionSet +
                                     "; name the same file in both sections");
  }
  return platform::Status::ok();
}

platform::Status readWatches(const ZR::CXmlElement& section, AgentConfig& config) {
  for (size_t i = 0; i < section.getChildCount(); ++i) {
    const ZR::CXmlElement* watch = section.getChild(i);
    if (watch->getName() != "watch") continue;
    std::string path = attributeOf(watch, "path");
    if (path.empty()) return platform::Status::invalid(config.configurationPath + ": a watch element has no path");
    WatchedFolder folder;
    folder.hostPath = withoutTrailingSeparators(config.resolve(path));
    folder.logicalPath = logicalOf(folder.hostPath);
    for (size_t j = 0; j < watch->getChildCount(); ++j) {
      const ZR::CXmlElement* exclude = watch->getChild(j);
      if (exclude->getName() != "exclude") continue;
      std::string pattern = attributeOf(exclude, "pattern");
      if (pattern.empty()) {
        return platform::Status::invalid(config.configurationPath + ": an exclude of " + path + " has no pattern");
      }
      folder.excludes.push_back(pattern);
    }
    config.watches.push_back(std::move(folder));
  }
  return platform::Status::ok();
}

// An attribute that holds a whole number from `lowest` to `highest` (what
// it is, for the message); kept as it is when absent.
platform::Status readNumber(const ZR::CXmlElement* section, const char* name, int lowest, int highest,
                            const std::string& what, const AgentConfig& config, int& value) {
  std::string text = attributeOf(section, name);
  if (text.empty()) return platform::Status::ok();
  int64_t number = -1;
  if (!ZR::CNumberText::parseExact(text, number) || number < lowest || number > highest) {
    return platform::Status::invalid(config.configurationPath + ": " + name + "=\"" + text + "\" is not " + what +
                                     " of " + std::to_string(lowest) + " to " + std::to_string(highest));
  }
  value = static_cast<int>(number);
  return platform::Status::ok();
}

platform::Status readPercent(const ZR::CXmlElement* section, const char* name, int lowest, const AgentConfig& config,
                             int& value) {
  std::string what = "a share in percent";
  return readNumber(section, name, lowest, 100, what, config, value);
}

platform::Status readAgentSection(const ZR::CXmlElement* section, AgentConfig& config) {
  std::string dornik = attributeOf(section, "dornik"), velkanPath = attributeOf(section, "velkan");
  config.dornikPath = dornik.empty() ? findProgram(*config.env, "dornik", "engine") : config.resolve(dornik);
  config.velkanPath = velkanPath.empty() ? findProgram(*config.env, "velkan", "client") : config.resolve(velkanPath);
  if (platform::Status s = readPercent(section, "cpu", 1, config, config.cpuPercent); !s) return s;
  if (platform::Status s = readPercent(section, "maxDeletePercent", 0, config, config.maxDeletePercent); !s) return s;
  if (platform::Status s = readPercent(section, "maxChangePercent", 0, config, config.maxChangePercent); !s) return s;
  for (auto [name, target] : {std::pair{"connectTimeout", &config.connectTimeoutSeconds},
                              std::pair{"replyTimeout", &config.replyTimeoutSeconds}}) {
    if (platform::Status s = readNumber(section, name, 1, 86400, "a time in seconds", config, *target); !s) return s;
  }
  if (platform::Status s = readNumber(section, "uploadSessions", 1, 32, "a count", config, config.uploadSessions); !s) {
    return s;
  }
  std::string pictures = attributeOf(section, "pictures");
  if (!pictures.empty() && pictures != "keep" && pictures != "scale") {
    return platform::Status::invalid(config.configurationPath + ": pictures=\"" + pictures + "\" is neither keep nor scale");
  }
  config.keepPictures = pictures == "keep";
  std::string rate = attributeOf(section, "bwlimit");
  if (!rate.empty() && !parseRate(rate, config.bytesPerSecond)) {
    return platform::Status::invalid(config.configurationPath + ": bwlimit=\"" + rate +
                                     "\" is no rate (bytes per second, such as 500K or 2M)");
  }
  return section ? readWatches(*section, config) : platform::Status::ok();
}

}  // namespace

bool parseRate(const std::string& text, uint64_t& bytesPerSecond) {
  if (text.empty()) return false;
  size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  if (digits == 0) return false;
  std::string suffix = text.substr(digits);
  uint64_t unit = suffix.empty() ? 1 : suffix == "K" || suffix == "k" ? 1024 : suffix == "M" || suffix == "m" ? 1 << 20
                  : suffix == "G" || suffix == "g" ? 1 << 30 : 0;
  if (unit == 0 || digits > 9) return false;
  bytesPerSecond = std::stoull(text.substr(0, digits)) * unit;
  return bytesPerSecond > 0;
}

std::string logicalOf(const std::string& path) {
  std::string logical = platform::hasDriveLetter(path) ? path : platform::logicalPath(path);
  for (char& c : logical) c = c == '/' ? '\\' : c;
  if (logical.size() >= 2 && logical[1] == ':' && logical[0] >= 'A' && logical[0] <= 'Z') logical[0] += 'a' - 'A';
  return withoutTrailingSeparators(logical);
}

std::string AgentConfig::resolve(const std::string& path) const {
  if (platform::hasDriveLetter(path)) return platform::hostPath(path);
  return platform::pathFrom(platform::parentFolder(configurationPath), path);
}

platform::Status loadAgentConfig(platform::Env& env, const std::string& path, AgentConfig& config) {
  config = AgentConfig();
  config.env = &env;
  config.configurationPath = env.resolvedPath(path);
  if (config.configurationPath.empty()) return platform::Status::notFound(path + ": no such configuration file");
  std::string error;
  std::unique_ptr<ZR::CXmlElement> root(ZR::CXmlBuilder::fileToDocument(env, config.configurationPath, error));
  if (!root) return platform::Status::invalid(path + ": " + error);
  if (root->getName() != kRoot) {
    return platform::Status::invalid(path + ": the root element is " + root->getName() + ", not " + kRoot);
  }
  const ZR::CXmlElement* section = root->getChild("agent");
  std::string work = attributeOf(section, "workFolder");
  config.workFolder =
      withoutTrailingSeparators(work.empty() ? platform::parentFolder(config.configurationPath) : config.resolve(work));
  if (platform::Status s = readPolicyEngine(*root, config); !s) return s;
  if (platform::Status s = readClient(*root, config); !s) return s;
  return readAgentSection(section, config);
}

}  // namespace agent
