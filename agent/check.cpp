// `check`: the watched folders against the service's listing.
#include <cstdio>
#include <map>

#include "agent/backup.h"
#include "agent/cache_service.h"
#include "agent/console.h"
#include "agent/exit_codes.h"
#include "agent/restore.h"
#include "bindings/zrcore/log.h"

namespace agent {
namespace {

// Collects what the scan finds, for the comparison.
class ScanListing : public ScanSink {
 public:
  void folder(std::string_view) override {}
  void file(std::string_view logicalPath, uint64_t size, int64_t modifiedSeconds) override {
    files[std::string(logicalPath)] = {size, modifiedSeconds};
  }
  std::map<std::string, std::pair<uint64_t, int64_t>> files;
};

}  // namespace

int runCheck(const AgentConfig& config, ZR::CLogger& log, RunReport& report) {
  CacheService service(config, log);
  service.tellWhenWaiting();
  std::vector<CachedFile> cached;
  if (platform::Status listed = listCache(service, config.watches, cached); !listed) {
    return fail(kExitService, listed.message());
  }
  ScanListing local;
  ScanResult scan;
  if (platform::Status scanned = scanFolders(*config.env, config.watches, local, scan); !scanned) {
    return fail(kExitConfiguration, scanned.message());
  }
  std::vector<std::string> missing, changed, onlyCached;
  for (const CachedFile& file : cached) {
    auto found = local.files.find(file.path);
    if (found == local.files.end()) {
      onlyCached.push_back(file.path);
      report.entry("onlyCached", file.path, "only in the cache");
      continue;
    }
    const auto& [size, modified] = found->second;
    if (file.originSize != std::to_string(size) || file.originModified != std::to_string(modified)) {
      std::string how = "folder: " + std::to_string(size) + " bytes, modified " + std::to_string(modified) +
                        "; cache: " + file.originSize + " bytes, modified " + file.originModified;
      changed.push_back(file.path + " (" + how + ")");
      report.entry("changed", file.path, how);
    }
    local.files.erase(found);
  }
  for (const auto& entry : local.files) {
    missing.push_back(entry.first);
    report.entry("missing", entry.first, "missing from the cache");
  }
  struct Group {
    const char* title;
    const std::vector<std::string>& paths;
  } groups[] = {{"missing from the cache", missing}, {"changed since they were cached", changed},
                {"only in the cache", onlyCached}};
  for (const Group& group : groups) {
    if (group.paths.empty()) continue;
    std::printf("%s: %s\n", group.title, countOf(group.paths.size(), "file", "files").c_str());
    printListed(group.paths, log);
  }
  uint64_t badNames = 0;
  for (const ScanProblem& problem : scan.problems) {
    if (!problem.leftOut) continue;
    badNames += problem.badName;
    std::printf("not compared: %s: %s\n", printable(problem.path).c_str(), problem.reason.c_str());
    report.entry("problems", problem.path, problem.reason);
  }
  // A name no snapshot can carry is told apart; alone it is no difference.
  if (badNames) std::printf("not compared (names that are not UTF-8): %s\n", countOf(badNames, "file", "files").c_str());
  bool matches = missing.empty() && changed.empty() && onlyCached.empty() && !scan.incompleteButForNames();
  std::printf("%s: %s in the folders, %s in the cache\n", matches ? "the cache matches the folders" : "differences found",
              countOf(scan.files, "file", "files").c_str(), humanCount(cached.size()).c_str());
  report.text("outcome", matches ? "matches" : "differs");
  report.figure("filesInFolders", static_cast<int64_t>(scan.files));
  report.figure("filesInCache", static_cast<int64_t>(cached.size()));
  report.figure("notComparedNames", static_cast<int64_t>(badNames));
  std::fflush(stdout);
  return matches ? kExitOk : kExitIncomplete;
}

}  // namespace agent
