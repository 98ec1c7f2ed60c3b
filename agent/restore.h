// Getting files back, and checking that the cache holds what the folders
// hold: `restore` fetches every file the service lists below a folder into
// a target folder, whole or not at all, and `check` compares the watched
// folders with the service's listing.
#pragma once

#include <string>

#include "agent/agent_config.h"

namespace ZR {
class CLogger;
}

namespace agent {

struct RestoreOptions {
  std::string remoteFolder;  // logical (c:\home\ann) or a host path the platform maps
  std::string targetFolder;  // host path; created when missing
  bool overwrite = false;    // replace files that exist in the target
};

// The part of a remote path below the folder, as host path parts joined
// with the host's separator; empty when it would leave the target (a ".."
// or "." part, a drive, an empty part) or is not below the folder.
std::string safeRelativePath(const std::string& remotePath, const std::string& remoteFolder);

int runRestore(const AgentConfig& config, const RestoreOptions& options, ZR::CLogger& log);
int runCheck(const AgentConfig& config, ZR::CLogger& log);

}  // namespace agent
