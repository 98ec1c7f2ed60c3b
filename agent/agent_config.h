// What cacheagent reads from the configuration file that dornik and velkan
// share: the paths of the snapshots and the action set (policyEngine), the
// client's settings (cacheManagerClient), and our own `agent` section with
// the watched folders:
//
//   <agent workFolder="..." dornik="..." velkan="..." cpu="100" maxDeletePercent="50"
//          connectTimeout="60" replyTimeout="60">
//     <watch path="/home/ann"> <exclude pattern="*.tmp"/> </watch>
//   </agent>
//
// Every relative path of the file is taken from the file's own folder, by
// both programs and by us; both programs are started in the work folder
// (where velkan keeps status/).
#pragma once

#include <string>
#include <vector>

#include "client/client_settings.h"
#include "platform/status.h"

namespace platform {
class Env;
}

namespace agent {

struct WatchedFolder {
  std::string hostPath;     // as the host opens it, without a trailing separator
  std::string logicalPath;  // as the snapshots name it (c:\home\ann)
  std::vector<std::string> excludes;
  // For a part of a watched folder (what cacheagent watch looks through
  // after a change): its path below the watched folder, "/" between parts,
  // so that the exclude patterns keep their meaning. Empty for the whole.
  std::string below{};
};

struct AgentConfig {
  // The file system the run works through (never null once loaded).
  platform::Env* env = nullptr;
  std::string configurationPath;  // absolute
  std::string workFolder;         // absolute; logs, status/, velkan's relative files
  std::string dornikPath;
  std::string velkanPath;
  int cpuPercent = 100;           // velkan's share of one core; 100: not throttled
  // A backup that would delete more than this share of the cached files
  // stops and asks for --allow-deletions.
  int maxDeletePercent = 50;
  // The same for replacing cached files with changed ones (all of them
  // garbled at once, say); --allow-changes carries it out.
  int maxChangePercent = 50;
  // How long a connection to the cache manager, and each of its answers,
  // may take before the run ends (ours and velkan's calls alike).
  int connectTimeoutSeconds = 60;
  int replyTimeoutSeconds = 60;
  // Files velkan uploads at once (each on a connection of its own), unless
  // velkan's own section says.
  int uploadSessions = 8;
  // Pictures sent as they are ("keep") or scaled and re-encoded as velkan
  // does by default ("scale").
  bool keepPictures = false;
  // velkan's bandwidth, bytes per second; 0: not limited.
  uint64_t bytesPerSecond = 0;
  // Whether velkan's section names CompressionWait (when not, velkan waits
  // 10 s before each compressible file, which is worth saying once).
  bool compressionWaitSet = false;
  // policyEngine: host paths.
  std::string dirContent;
  std::string cacheContent;
  std::string actionSet;
  velkan::ClientSettings client;  // its paths made host paths too
  std::vector<WatchedFolder> watches;

  // A path of the file made one the host opens: logical paths mapped,
  // relative ones taken from the configuration file's folder.
  std::string resolve(const std::string& path) const;
};

// The logical form of a path as the snapshots carry it: backslashes, a
// lower-case drive letter, no trailing separator. A host path is mapped
// to its drive first (on Windows host paths are logical ones).
std::string logicalOf(const std::string& path);

// A rate such as "500K" or "2M": bytes per second, K, M and G meaning
// powers of 1024; false when the text is none.
bool parseRate(const std::string& text, uint64_t& bytesPerSecond);

// Reads the file; an error names the file and what is wrong or missing.
// The run that uses it works through `env`.
platform::Status loadAgentConfig(platform::Env& env, const std::string& path, AgentConfig& config);

}  // namespace agent
