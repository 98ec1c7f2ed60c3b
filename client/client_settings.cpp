#include "client/client_settings.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "bindings/zrcore/configurator.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/path.h"
#include "platform/process.h"

namespace velkan {
namespace {

std::string sectionExpression(const std::string& suffix) { return "/" + std::string(kClientSection) + suffix; }

int32_t clampToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

class SettingsReader {
 public:
  SettingsReader(const ZR::CXmlElement& document, ZR::CLogger& log) : document_(document), log_(log) {}

  void text(const char* element, bool required, std::string& out) {
    std::string value;
    if (readValue(document_, sectionExpression("/" + std::string(element) + "@path"), required, value, log_)) out = value;
  }

  // atoi of the `value` attribute; false when the setting is absent.
  bool number(const char* name, int32_t& out) {
    std::string value;
    if (!readValue(document_, sectionExpression("/" + std::string(name) + "@value"), false, value, log_)) return false;
    out = ZR::CNumberText::toInt32(value);
    return true;
  }

  bool text(const char* name, std::string& out) {
    return readValue(document_, sectionExpression("/" + std::string(name) + "@value"), false, out, log_);
  }

 private:
  const ZR::CXmlElement& document_;
  ZR::CLogger& log_;
};

void readNumbers(SettingsReader& read, ClientSettings& s, ZR::CLogger& log) {
  int32_t value = 0;
  if (read.number("MaxFiles", value)) s.maxFiles = value;
  if (read.number("MaxTime", value)) s.maxTime = value;
  if (read.number("MaxDeleteTime", value)) s.maxDeleteTime = value;
  if (read.number("MaxTimeWindow", value)) s.maxTimeWindow = value;
  // A negative size limit means no limit, like the default.
  if (read.number("MaxSpace", value)) s.maxSpace = value < 0 ? -1 : int64_t{value} * 1048576;
  if (read.number("MaxDataPerFile", value)) s.maxDataPerFile = value < 0 ? -1 : int64_t{value} * 1024;
  if (read.number("ChunkSize", value)) s.chunkSize = clampToInt32(int64_t{value} * 1024);
  // cacheagent's --bwlimit comes through the environment when the section names no rate.
  std::string fromAgent = platform::environmentVariable("ZR_MAX_BIT_RATE");
  int64_t agentRate = 0;
  if (read.number("MaxBitRate", value) ||
      (ZR::CNumberText::parseExact(fromAgent, agentRate) && agentRate > 0 && (value = clampToInt32(agentRate)) > 0)) {
    s.maxBitRate = value;
    s.rate = value * 0.001 * 0.125;
    if (s.rate < 1.0) s.rate = 1.0;
  }
  if (read.number("CompressionCpuPercent", value)) s.compressionCpuPercent = value > 100 ? -1 : value;
  if (read.number("CompressionExeSize", value)) {
    if (value <= 0) {
      log.info("File size limit for executable compression is less or equal to zero, file will not be compressed.");
      value = 0;
    }
    s.compressionExeSize = value;
  }
  std::string sort;
  if (read.text("SortUploads", sort)) s.sortUploads = ZR::CStringUtils::equalsIgnoreCaseASCII(sort, "yes");
  if (read.number("MaxImageWidth", value)) s.maxImageWidth = value;
  if (read.number("MaxImageHeight", value)) s.maxImageHeight = value;
  if (read.number("MaxImageQuality", value)) s.maxImageQuality = value;
}

// Settings of our own, read without log lines; absent ones keep their defaults.
void readOwnSettings(const ZR::CXmlElement& document, ClientSettings& s) {
  std::string value, message;
  if (document.getValue(sectionExpression("/CompressionWait@value"), value, message)) {
    int64_t ms = ZR::CNumberText::toInt64(value);
    s.compressionWaitMs = static_cast<uint32_t>(ms < 0 ? 0 : ms > 3600000 ? 3600000 : ms);
  }
  if (document.getValue(sectionExpression("/transcodedFolder@path"), value, message)) s.transcodedFolder = value;
  std::string keep = platform::environmentVariable("ZR_KEEP_PICTURES");
  if (document.getValue(sectionExpression("/KeepPictures@value"), value, message)) keep = value;
  s.keepPictures = ZR::CStringUtils::equalsIgnoreCaseASCII(keep, "yes");
  for (auto [name, variable, target, most] :
       {std::tuple{"/ConnectTimeout@value", "ZR_CONNECT_TIMEOUT", &s.connectTimeoutSeconds, 86400},
        std::tuple{"/ReplyTimeout@value", "ZR_REPLY_TIMEOUT", &s.replyTimeoutSeconds, 86400},
        std::tuple{"/UploadSessions@value", "ZR_UPLOAD_SESSIONS", &s.uploadSessions, 32}}) {
    std::string text = platform::environmentVariable(variable);
    if (document.getValue(sectionExpression(name), value, message)) text = value;
    int64_t n = 0;
    if (ZR::CNumberText::parseExact(text, n)) *target = static_cast<int>(n < 1 ? 1 : n > most ? most : n);
  }
  if (document.getValue(sectionExpression("/MaxReplySize@value"), value, message)) {
    int64_t mib = ZR::CNumberText::toInt64(value);
    s.maxReplyBytes = static_cast<uint64_t>(mib < 1 ? 1 : mib > 4096 ? 4096 : mib) << 20;
  }
}

}  // namespace

bool readValue(const ZR::CXmlElement& document, const std::string& expression, bool required, std::string& value,
               ZR::CLogger& log) {
  std::string message;
  if (document.getValue(expression, value, message)) {
    log.info("%s", ("Read " + value + " for " + expression + "\n").c_str());
    return true;
  }
  std::string line = "While reading " + expression + ", message is :  " + message + "\n";
  log.info("%s", line.c_str());
  if (required) throw std::runtime_error(line);
  return false;
}

void readConfiguration(platform::Env& env, const std::string& path, ClientSettings& settings, ZR::CLogger& log) {
  std::string error;
  std::unique_ptr<ZR::CXmlElement> document(ZR::CXmlBuilder::fileToDocument(env, path, error));
  if (!document) throw std::runtime_error(kConfigurationLoadFailed);
  readConfiguration(*document, settings, log);
}

namespace {

// Every element the section may hold: one misspelt is said, since it is
// otherwise silently left at its default.
void warnUnknownSettings(const ZR::CXmlElement& document, ZR::CLogger& log) {
  static const std::vector<std::string> kKnown = {
      "accessDocument", "actionset",      "outputFile",      "symlinkFile",           "ghostContentFile",
      "expiredPoliciesFile", "timestamp_file", "MaxFiles",   "MaxTime",               "MaxDeleteTime",
      "MaxSpace",       "MaxDataPerFile", "ChunkSize",       "MaxBitRate",            "MaxTimeWindow",
      "CompressionCpuPercent", "CompressionExeSize", "SortUploads", "MaxImageWidth", "MaxImageHeight",
      "MaxImageQuality", "CompressionWait", "transcodedFolder", "MaxReplySize", "ConnectTimeout", "ReplyTimeout", "UploadSessions", "KeepPictures"};
  const ZR::CXmlElement* section = document.getName() == "CachingPolicyEngineConfiguration"
                                       ? document.getChild("cacheManagerClient")
                                       : nullptr;
  for (size_t i = 0; section && i < section->getChildCount(); ++i) {
    const std::string& name = section->getChild(i)->getName();
    if (std::find(kKnown.begin(), kKnown.end(), name) != kKnown.end()) continue;
    std::string nearest = ZR::CStringUtils::nearestName(name, kKnown);
    log.warning("%s", ("unknown setting <" + name + "> in cacheManagerClient is ignored" +
                       (nearest.empty() ? "" : "; did you mean <" + nearest + ">?"))
                          .c_str());
  }
}

}  // namespace

void readConfiguration(const ZR::CXmlElement& document, ClientSettings& settings, ZR::CLogger& log) {
  warnUnknownSettings(document, log);
  std::string server;
  if (readValue(document, sectionExpression("@server"), true, server, log)) settings.server = server;
  SettingsReader read(document, log);
  read.text("accessDocument", true, settings.accessDocument);
  read.text("actionset", true, settings.actionset);
  read.text("outputFile", false, settings.outputFile);
  read.text("symlinkFile", false, settings.symlinkFile);
  read.text("ghostContentFile", false, settings.ghostContentFile);
  read.text("expiredPoliciesFile", false, settings.expiredPoliciesFile);
  read.text("timestamp_file", false, settings.timestampFile);
  readNumbers(read, settings, log);
  readOwnSettings(document, settings);
}

void ClientSettings::takePathsFrom(const std::string& folder) {
  for (std::string* path : {&accessDocument, &actionset, &outputFile, &symlinkFile, &ghostContentFile,
                            &expiredPoliciesFile, &timestampFile, &transcodedFolder}) {
    *path = platform::pathFrom(folder, *path);
  }
}

ProxySettings readProxySettings(platform::Env& env, const std::string& agentFile) {
  ProxySettings proxy;
  ZR::CConfiguratorXmlImpl2 agent(env);
  if (!agent.loadConfig(agentFile)) return proxy;
  std::string useProxy;
  if (!agent.getString("config.proxy.http.useproxy", useProxy) || useProxy != "true") return proxy;
  agent.getString("config.proxy.http.host", proxy.host);
  agent.getString("config.proxy.http.port", proxy.port);
  agent.getString("config.proxy.http.username", proxy.user);
  agent.getBase64String("config.proxy.http.userpassword", proxy.password);
  return proxy;
}

}  // namespace velkan
