// The cache client's settings: the cacheManagerClient section of the
// configuration file, and the proxy keys of the agent's agent.xml.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace ZR {
class CLogger;
class CXmlElement;
}  // namespace ZR

namespace velkan {

// Pacing window used when MaxBitRate is set and MaxTimeWindow is not.
constexpr int32_t kDefaultTimeWindowMs = 1000;

struct ClientSettings {
  // Texts (attribute `path` of a child element; `server` of the section).
  std::string server;
  std::string accessDocument;
  std::string actionset;
  std::string outputFile;
  std::string symlinkFile;
  std::string ghostContentFile;
  std::string expiredPoliciesFile;
  std::string timestampFile;

  // Numbers as the client uses them (bytes, milliseconds, seconds); -1 is
  // "no limit" where it applies.
  int32_t maxFiles = -1;
  int32_t maxTime = -1;
  int32_t maxDeleteTime = -1;
  int32_t maxTimeWindow = kDefaultTimeWindowMs;
  int64_t maxSpace = -1;
  int64_t maxDataPerFile = 8388608;
  int32_t chunkSize = 8388608;
  int32_t maxBitRate = -1;
  double rate = -1.0;  // bytes per millisecond; not above 0: no pacing
  int32_t compressionCpuPercent = -1;
  int32_t compressionExeSize = -1;
  bool sortUploads = true;
  int32_t maxImageWidth = 768;
  int32_t maxImageHeight = 1024;
  int32_t maxImageQuality = 80;

  // Our own, read without log lines: <CompressionWait value="ms"/> (the
  // pause before each compression) and <transcodedFolder path="..."/>.
  uint32_t compressionWaitMs = 10000;
  std::string transcodedFolder;
  // <MaxReplySize value="MiB"/>: the largest reply the service may send (a
  // folder's listing is the largest); beyond it the call fails.
  uint64_t maxReplyBytes = uint64_t{256} << 20;
  // How long a connection and each reply may take (ConnectTimeout,
  // ReplyTimeout, seconds); cacheagent passes its own through the
  // environment (ZR_CONNECT_TIMEOUT, ZR_REPLY_TIMEOUT) when the section
  // names none.
  int connectTimeoutSeconds = 100;
  int replyTimeoutSeconds = 300;
  // How many files are uploaded at once, each on a connection of its own
  // (UploadSessions, 1 to 32; ZR_UPLOAD_SESSIONS from cacheagent when the
  // section names none). 1 keeps the one network worker and its order.
  int uploadSessions = 1;
  // Pictures sent as they are, never scaled or re-encoded (KeepPictures
  // "yes"; ZR_KEEP_PICTURES from cacheagent when the section says nothing).
  bool keepPictures = false;

  // Relative file settings are taken from `folder`, the configuration
  // file's folder, wherever the program was started.
  void takePathsFrom(const std::string& folder);
};

// What a configuration that cannot be loaded ends a run with.
constexpr const char* kConfigurationLoadFailed = "[velkan.exe] Loading of Config XML failed.";

// The section every expression starts from.
constexpr const char* kClientSection = "CachingPolicyEngineConfiguration/cacheManagerClient";

// Evaluates one expression on a document and logs what it found ("Read
// <value> for <expression>") or why not ("While reading <expression>,
// message is :  <why>"). A required value that is missing throws a
// standard exception with that same line.
bool readValue(const ZR::CXmlElement& document, const std::string& expression, bool required, std::string& value,
               ZR::CLogger& log);

// Reads the client section of a configuration file into `settings`
// (fields not in the file keep their values). Throws a standard exception
// "[velkan.exe] Loading of Config XML failed." when the file cannot be
// parsed, and the "While reading" line when a required setting is missing.
void readConfiguration(platform::Env& env, const std::string& path, ClientSettings& settings, ZR::CLogger& log);
// The same from a document already loaded.
void readConfiguration(const ZR::CXmlElement& document, ClientSettings& settings, ZR::CLogger& log);

struct ProxySettings {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
};

// The proxy keys of the agent settings file; all empty when the file cannot
// be loaded or config.proxy.http.useproxy is not exactly "true".
ProxySettings readProxySettings(platform::Env& env, const std::string& agentFile = "agent.xml");

}  // namespace velkan
