// `ls`: what the cache holds below a path, from the service's listing alone
// (one call per folder asked for, whatever the number of files).
#include <algorithm>
#include <cstdio>

#include "agent/backup.h"
#include "agent/console.h"
#include "agent/exit_codes.h"
#include "agent/history_command.h"
#include "agent/restore.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"

namespace agent {
namespace {

std::string dateOf(const std::string& seconds) {
  int64_t value = 0;
  if (!ZR::CNumberText::parseExact(seconds, value)) return "-";
  return utcTimeText(value);
}

void printEntry(const CachedFile& file, bool detailed) {
  if (!detailed) {
    std::printf("%s\n", file.path.c_str());
    return;
  }
  std::string size = file.originSize.empty() ? "-" : file.originSize;
  std::string encoding = file.encoding.empty() ? "-" : file.encoding;
  std::printf("%12s  %s UTC  %12s  %-5s  %s\n", size.c_str(), dateOf(file.originModified).c_str(),
              std::to_string(file.size).c_str(), encoding.c_str(), file.path.c_str());
}

// The file's line in the report: what --long shows.
std::string describeEntry(const CachedFile& file) {
  return (file.originSize.empty() ? "-" : file.originSize) + " bytes, modified " + dateOf(file.originModified) +
         " UTC, stored " + std::to_string(file.size) + " bytes" + (file.encoding.empty() ? "" : ", " + file.encoding);
}

}  // namespace

int runList(const AgentConfig& config, const std::string& path, bool detailed, const std::string& at, ZR::CLogger& log,
            RunReport& report) {
  CacheService service(config, log);
  service.tellWhenWaiting();
  RestoreOptions seenAt;
  seenAt.paths = {path};
  seenAt.at = at;
  if (platform::Status seen = viewAsAsked(service, seenAt); !seen) return seenFailure(seen);
  std::vector<CachedFile> files;
  if (path.empty()) {
    if (platform::Status listed = listCache(service, config.watches, files); !listed) return fail(kExitService, listed.message());
  } else {
    RestoreOptions options;
    options.paths = {path};
    std::vector<SelectedFile> selected;
    std::vector<std::string> problems;
    if (platform::Status listed = selectFiles(service, options, selected, problems); !listed) {
      return fail(kExitService, listed.message());
    }
    for (SelectedFile& entry : selected) files.push_back(std::move(entry.file));
    std::sort(files.begin(), files.end(), [](const CachedFile& a, const CachedFile& b) { return a.path < b.path; });
  }
  if (detailed) std::printf("%12s  %-23s  %12s  %-5s  %s\n", "size", "modified", "stored", "coded", "path");
  uint64_t stored = 0;
  for (const CachedFile& file : files) {
    printEntry(file, detailed);
    stored += file.size;
    report.entry("files", file.path, describeEntry(file));
  }
  std::printf("%s, %s stored\n", countOf(files.size(), "file", "files").c_str(), humanBytes(stored).c_str());
  report.figure("fileCount", static_cast<int64_t>(files.size()));
  report.figure("storedBytes", static_cast<int64_t>(stored));
  std::fflush(stdout);
  return files.empty() && !path.empty() ? fail(kExitIncomplete, "the cache holds no file at " + path) : kExitOk;
}

}  // namespace agent
