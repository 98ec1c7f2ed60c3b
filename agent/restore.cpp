#include "agent/restore.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "agent/backup.h"
#include "agent/cache_service.h"
#include "agent/console.h"
#include "agent/exit_codes.h"
#include "agent/gunzip.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"

namespace agent {
namespace {

// What one getFile call asks for: the service answers at most 1 MiB.
constexpr int32_t kFetchBytes = 1 << 20;
// Deflate cannot inflate beyond about 1032 to 1: the bound of a copy whose
// origin size is not known.
constexpr uint64_t kMaxInflateRatio = 1032;
bool isSeparator(char c) { return c == '\\' || c == '/'; }

// What the metadata says of a stored copy.
struct StoredCopy {
  bool gzip = false;
  bool picture = false;  // scaled and re-encoded: its size is its own
  bool sizeKnown = false;
  uint64_t originSize = 0;
  bool timeKnown = false;
  int64_t originModified = 0;
};

StoredCopy describe(const std::string& metadata) {
  StoredCopy copy;
  copy.gzip = ZR::CStringUtils::lineValue(metadata, "cache.encoding") == "gzip";
  copy.picture = !ZR::CStringUtils::lineValue(metadata, "cache.image.width").empty();
  int64_t value = 0;
  if (ZR::CNumberText::parseExact(ZR::CStringUtils::lineValue(metadata, "origin.size"), value) && value >= 0) {
    copy.sizeKnown = true;
    copy.originSize = static_cast<uint64_t>(value);
  }
  copy.timeKnown = ZR::CNumberText::parseExact(ZR::CStringUtils::lineValue(metadata, "origin.modified"), value);
  copy.originModified = value;
  return copy;
}

struct RestoreTotals {
  uint64_t files = 0, bytes = 0, pictures = 0, existing = 0;
  std::vector<std::string> problems;
};

class Restorer {
 public:
  Restorer(CacheService& service, const RestoreOptions& options, RestoreTotals& totals)
      : service_(service), options_(options), totals_(totals) {}

  void restore(const CachedFile& file, const std::string& relative) {
    std::string target = platform::joinPath(options_.targetFolder, relative);
    platform::FileInfo existing;
    if (!options_.overwrite && platform::env()->getFileInfo(target, &existing)) {
      ++totals_.existing;
      return problem(target + " exists; not overwritten (--overwrite replaces it)");
    }
    std::string metadata;
    if (platform::Status got = service_.metadata(file.path, metadata); !got) return problem(got.message());
    StoredCopy copy = describe(metadata);
    platform::env()->createDirectories(platform::parentFolder(target));
    ZR::CAtomicFile out(target);
    uint64_t written = 0;
    if (std::string why = fetchInto(file, copy, out, written); !why.empty()) return problem(file.path + ": " + why);
    if (!copy.picture && copy.sizeKnown && written != copy.originSize) {
      return problem(file.path + ": " + std::to_string(written) + " bytes came back, the original had " +
                     std::to_string(copy.originSize) + "; not written");
    }
    if (!out.commit()) return problem("cannot write " + target + ": " + out.lastError());
    if (copy.timeKnown) platform::setModifiedTime(target, copy.originModified);
    ++totals_.files;
    totals_.bytes += written;
    if (copy.picture) ++totals_.pictures;
  }

 private:
  // Fetches the stored copy in ranges, inflating a gzip copy, into `out`.
  // Returns why it failed; empty on success.
  std::string fetchInto(const CachedFile& file, const StoredCopy& copy, ZR::CAtomicFile& out, uint64_t& written) {
    uint64_t limit = copy.sizeKnown ? copy.originSize : std::max<uint64_t>(file.size, 1) * kMaxInflateRatio;
    Gunzip gunzip(limit);
    std::string bytes, inflated;
    for (uint64_t offset = 0; offset < file.size;) {
      int32_t length = static_cast<int32_t>(std::min<uint64_t>(kFetchBytes, file.size - offset));
      if (platform::Status got = service_.fetch(file.path, static_cast<int64_t>(offset), length, bytes); !got) {
        return got.message();
      }
      if (bytes.empty()) return "the service sent " + std::to_string(offset) + " of " + std::to_string(file.size) + " bytes";
      offset += bytes.size();
      const std::string* data = &bytes;
      if (copy.gzip) {
        inflated.clear();
        if (!gunzip.feed(bytes.data(), bytes.size(), inflated)) return "the gzip copy: " + gunzip.error();
        data = &inflated;
      }
      if (!out.append(*data)) return "cannot write: " + out.lastError();
      written += data->size();
    }
    if (copy.gzip && !gunzip.complete()) return "the gzip copy ends in the middle";
    return "";
  }

  void problem(const std::string& text) { totals_.problems.push_back(text); }

  CacheService& service_;
  const RestoreOptions& options_;
  RestoreTotals& totals_;
};

}  // namespace

std::string safeRelativePath(const std::string& remotePath, const std::string& remoteFolder) {
  bool below = remotePath.size() > remoteFolder.size() + 1 &&
               remotePath.compare(0, remoteFolder.size(), remoteFolder) == 0 && isSeparator(remotePath[remoteFolder.size()]);
  if (!below && !remoteFolder.empty()) return "";
  std::string rest = remoteFolder.empty() ? remotePath : remotePath.substr(remoteFolder.size() + 1);
  std::string relative;
  size_t start = 0;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && !isSeparator(rest[i])) continue;
    std::string part = rest.substr(start, i - start);
    // No climbing out, no drive, no absolute path, no empty part.
    if (part.empty() || part == "." || part == ".." || part.find(':') != std::string::npos) return "";
    relative = relative.empty() ? part : platform::joinPath(relative, part);
    start = i + 1;
  }
  return relative;
}

int runRestore(const AgentConfig& config, const RestoreOptions& options, ZR::CLogger& log) {
  uint64_t started = platform::tickCountMs();
  std::string folder = logicalOf(options.remoteFolder);
  CacheService service(config, log);
  std::vector<CachedFile> files;
  if (platform::Status listed = service.listFolder(folder, files); !listed) return fail(kExitService, listed.message());
  if (files.empty()) return fail(kExitIncomplete, "the cache holds no file below " + folder);
  if (!platform::env()->createDirectories(options.targetFolder)) {
    return fail(kExitWrite, "cannot create the target folder " + options.targetFolder);
  }
  RestoreTotals totals;
  Restorer restorer(service, options, totals);
  ProgressConsole console(platform::standardOutputIsTerminal());
  for (size_t i = 0; i < files.size(); ++i) {
    std::string relative = safeRelativePath(files[i].path, folder);
    if (relative.empty()) {
      totals.problems.push_back(files[i].path + ": refused, it would land outside " + options.targetFolder);
      continue;
    }
    console.show("restoring " + humanCount(i + 1) + "/" + humanCount(files.size()) + ": " + relative);
    restorer.restore(files[i], relative);
  }
  console.end();
  std::printf("restored %s of %s files (%s) into %s in %s\n", humanCount(totals.files).c_str(),
              humanCount(files.size()).c_str(), humanBytes(totals.bytes).c_str(), options.targetFolder.c_str(),
              humanDuration(platform::tickCountMs() - started).c_str());
  if (totals.pictures) {
    std::printf("%s of them are pictures, restored as the cache keeps them (scaled and re-encoded)\n",
                humanCount(totals.pictures).c_str());
  }
  if (!totals.problems.empty()) std::printf("not restored:\n");
  printListed(totals.problems, log);
  std::fflush(stdout);
  return totals.problems.empty() ? kExitOk : kExitIncomplete;
}

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

int runCheck(const AgentConfig& config, ZR::CLogger& log) {
  CacheService service(config, log);
  std::vector<CachedFile> cached;
  if (platform::Status listed = listCache(service, config.watches, cached); !listed) {
    return fail(kExitService, listed.message());
  }
  ScanListing local;
  ScanResult scan;
  if (platform::Status scanned = scanFolders(config.watches, local, scan); !scanned) {
    return fail(kExitConfiguration, scanned.message());
  }
  std::vector<std::string> missing, changed, onlyCached;
  for (const CachedFile& file : cached) {
    auto found = local.files.find(file.path);
    if (found == local.files.end()) {
      onlyCached.push_back(file.path);
      continue;
    }
    const auto& [size, modified] = found->second;
    if (file.originSize != std::to_string(size) || file.originModified != std::to_string(modified)) {
      changed.push_back(file.path + " (folder: " + std::to_string(size) + " bytes, modified " +
                        std::to_string(modified) + "; cache: " + file.originSize + " bytes, modified " +
                        file.originModified + ")");
    }
    local.files.erase(found);
  }
  for (const auto& entry : local.files) missing.push_back(entry.first);
  struct Group {
    const char* title;
    const std::vector<std::string>& paths;
  } groups[] = {{"missing from the cache", missing}, {"changed since they were cached", changed},
                {"only in the cache", onlyCached}};
  for (const Group& group : groups) {
    if (group.paths.empty()) continue;
    std::printf("%s: %s files\n", group.title, humanCount(group.paths.size()).c_str());
    printListed(group.paths, log);
  }
  for (const ScanProblem& problem : scan.problems) {
    if (problem.leftOut) std::printf("not compared: %s: %s\n", problem.path.c_str(), problem.reason.c_str());
  }
  bool matches = missing.empty() && changed.empty() && onlyCached.empty() && !scan.incomplete();
  std::printf("%s: %s files in the folders, %s in the cache\n", matches ? "the cache matches the folders" : "differences found",
              humanCount(scan.files).c_str(), humanCount(cached.size()).c_str());
  std::fflush(stdout);
  return matches ? kExitOk : kExitIncomplete;
}

}  // namespace agent
