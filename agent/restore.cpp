#include "agent/restore.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "agent/console.h"
#include "agent/exclude_rules.h"
#include "agent/exit_codes.h"
#include "agent/history_command.h"
#include "agent/restore_target.h"
#include "agent/stored_copy.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/interrupt.h"
#include "platform/path.h"
#include "platform/process.h"

namespace agent {
namespace {

constexpr size_t kListedLines = 10;
constexpr uint64_t kProgressEveryMs = 200;
// Room a file must leave on the target's disk.
constexpr uint64_t kReserveBytes = 1 << 20;
constexpr uint64_t kLookAtRoomEvery = 64ull << 20;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string joinedParts(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : "/") + part;
  return out;
}


class Filter {
 public:
  explicit Filter(const RestoreOptions& options) : includes_(options.includes), excludes_(options.excludes) {}
  bool takes(const std::vector<std::string>& parts) const {
    std::string relative = joinedParts(parts);
    if (!excludes_.empty() && excludes_.excludes(relative, parts.back())) return false;
    return includes_.empty() || includes_.excludes(relative, parts.back());
  }

 private:
  ExcludeRules includes_, excludes_;  // an "include" is a rule that must match
};

struct Totals {
  std::atomic<uint64_t> restored{0}, bytes{0}, pictures{0}, kept{0}, done{0};
  std::mutex mutex;
  std::vector<std::string> problems, keptNames, substitutes;
  std::vector<std::pair<std::string, std::string>> failed;  // path, why: the report's entries

  void fail(const std::string& path, const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    problems.push_back(path + ": " + why);
    failed.emplace_back(path, why);
  }

  void add(std::vector<std::string>& list, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    list.push_back(line);
  }
};

// One worker's part of a restore: files taken in turn from the shared
// list, each fetched on this worker's own session.
class RestoreWorker {
 public:
  RestoreWorker(const AgentConfig& config, ZR::CLogger& log, RestoreTarget& target, Totals& totals)
      : service_(config, log), target_(target), totals_(totals) {}

  void restore(const SelectedFile& selected) {
    std::unique_ptr<PendingFile> pending;
    std::string why, substitute;
    switch (target_.begin(selected.parts, &pending, why, substitute)) {
      case RestoreTarget::Begun::Kept:
        ++totals_.kept;
        return totals_.add(totals_.keptNames, joinedParts(selected.parts));
      case RestoreTarget::Begun::Failed: return problem(selected.file.path, why);
      case RestoreTarget::Begun::Ok: break;
    }
    StoredCopy copy;
    if (!describeFromListing(selected.file, copy)) {
      std::string metadata;
      if (platform::Status got = service_.metadata(selected.file.path, metadata); !got) {
        return problem(selected.file.path, got.message());
      }
      copy = describe(metadata);
    }
    if (std::string room = roomFor(copy, selected.file); !room.empty()) return problem(selected.file.path, room);
    uint64_t written = 0;
    std::string failed = fetchStoredCopy(
        service_, selected.file, copy, [&](const char* data, size_t size) { return pending->write(data, size); },
        written);
    if (failed.empty()) failed = pending->finish(copy.timeKnown, copy.originModified);
    if (!failed.empty()) return problem(selected.file.path, failed + "; not written");
    if (!substitute.empty()) totals_.add(totals_.substitutes, joinedParts(selected.parts) + " as " + substitute);
    totals_.bytes += written;
    if (copy.picture) ++totals_.pictures;
  }

 private:
  // A file whose original would not fit on the target's disk is not
  // begun. The disk is asked for every large file, and after every 64 MiB
  // of small ones.
  std::string roomFor(const StoredCopy& copy, const CachedFile& file) {
    uint64_t needed = copy.sizeKnown && !copy.picture ? copy.originSize : file.size;
    sinceLastLook_ += needed;
    if (needed < kReserveBytes && sinceLastLook_ < kLookAtRoomEvery) return "";
    sinceLastLook_ = 0;
    int64_t free = target_.freeBytes();
    if (free < 0 || needed + kReserveBytes <= static_cast<uint64_t>(free)) return "";
    return "needs " + humanBytes(needed) + ", the target's disk has " + humanBytes(static_cast<uint64_t>(free)) + " free";
  }
  void problem(const std::string& path, const std::string& why) { totals_.fail(path, why); }

  CacheService service_;
  RestoreTarget& target_;
  Totals& totals_;
  uint64_t sinceLastLook_ = 0;
};

void restoreAll(const AgentConfig& config, const RestoreOptions& options, ZR::CLogger& log,
                const std::vector<SelectedFile>& files, RestoreTarget& target, Totals& totals) {
  std::atomic<size_t> next{0};
  size_t workers = std::max<size_t>(1, std::min<size_t>(static_cast<size_t>(std::max(1, options.connections)), files.size()));
  std::vector<std::thread> threads;
  for (size_t w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      RestoreWorker worker(config, log, target, totals);
      for (size_t i; (i = next++) < files.size() && !platform::interruptionRequested();) {
        worker.restore(files[i]);
        ++totals.done;
      }
    });
  }
  ProgressConsole console(platform::standardOutputIsTerminal());
  while (totals.done.load() < files.size() && !platform::interruptionRequested()) {
    size_t at = std::min(files.size() - 1, static_cast<size_t>(totals.done.load()));
    console.show("restoring " + humanCount(totals.done.load()) + "/" + humanCount(files.size()) + ": " +
                 joinedParts(files[at].parts));
    for (uint64_t slept = 0; slept < kProgressEveryMs && totals.done.load() < files.size(); slept += 20) {
      platform::sleepMs(20);
    }
  }
  for (std::thread& thread : threads) thread.join();
  console.end();
  for (const std::string& line : target.commit()) totals.problems.push_back(line);
  totals.restored = target.published();
}

int printDryRun(const std::vector<SelectedFile>& files, const std::string& target) {
  uint64_t stored = 0, original = 0;
  for (const SelectedFile& selected : files) {
    stored += selected.file.size;
    int64_t size = ZR::CNumberText::toInt64(selected.file.originSize);
    original += size > 0 ? static_cast<uint64_t>(size) : selected.file.size;
  }
  std::printf("would restore %s into %s: %s to fetch, %s when restored\n", countOf(files.size(), "file", "files").c_str(),
              target.c_str(), humanBytes(stored).c_str(), humanBytes(original).c_str());
  for (size_t i = 0; i < files.size() && i < kListedLines; ++i) {
    std::printf("  %s\n", joinedParts(files[i].parts).c_str());
  }
  if (files.size() > kListedLines) std::printf("  ... and %s more\n", humanCount(files.size() - kListedLines).c_str());
  std::printf("dry run: nothing was fetched or written\n");
  return kExitOk;
}

void printSummary(Totals& totals, size_t selected, const RestoreOptions& options, uint64_t startedMs,
                  ZR::CLogger& log) {
  std::printf("restored %s of %s (%s) into %s in %s\n", humanCount(totals.restored.load()).c_str(),
              countOf(selected, "file", "files").c_str(), humanBytes(totals.bytes.load()).c_str(), options.targetFolder.c_str(),
              humanDuration(platform::tickCountMs() - startedMs).c_str());
  if (totals.pictures.load()) {
    std::printf("%s of them are pictures, restored as the cache keeps them (scaled and re-encoded)\n",
                humanCount(totals.pictures.load()).c_str());
  }
  if (!totals.substitutes.empty()) std::printf("restored under another name (this system cannot hold the name):\n");
  printListed(totals.substitutes, log, "restored under another name: ");
  if (totals.kept.load()) {
    std::printf("kept, already there: %s (--overwrite replaces them)\n", countOf(totals.kept.load(), "file", "files").c_str());
  }
  if (!totals.problems.empty()) {
    std::printf("not restored: %s\n", countOf(totals.problems.size(), "file", "files").c_str());
  }
  printListed(totals.problems, log, "not restored: ");
  std::fflush(stdout);
}

void record(const Totals& totals, size_t selected, RunReport& report) {
  report.figure("selected", static_cast<int64_t>(selected));
  report.figure("restored", static_cast<int64_t>(totals.restored.load()));
  report.figure("bytes", static_cast<int64_t>(totals.bytes.load()));
  report.figure("pictures", static_cast<int64_t>(totals.pictures.load()));
  report.figure("kept", static_cast<int64_t>(totals.kept.load()));
  std::set<std::string> tiedToAFile;
  for (const auto& [path, why] : totals.failed) {
    report.entry("notRestored", path, why);
    tiedToAFile.insert(path + ": " + why);
  }
  // Lines not tied to one fetched file (a path that holds nothing, a name
  // that would leave the target, a commit that failed).
  for (const std::string& line : totals.problems) {
    if (!tiedToAFile.count(line)) report.entry("notRestored", "", line);
  }
  for (const std::string& name : totals.keptNames) report.entry("kept", name, "already there");
  for (const std::string& name : totals.substitutes) report.entry("substituted", name, "restored under another name");
}

}  // namespace

std::vector<std::string> relativeParts(const std::string& remotePath, const std::string& remoteFolder) {
  bool below = remotePath.size() > remoteFolder.size() + 1 && platform::isBelow(remotePath, remoteFolder);
  if (!below && !remoteFolder.empty()) return {};
  std::string rest = remoteFolder.empty() ? remotePath : remotePath.substr(remoteFolder.size() + 1);
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && !isSeparator(rest[i])) continue;
    std::string part = rest.substr(start, i - start);
    // No climbing out, no empty part (an absolute path).
    if (part.empty() || part == "." || part == "..") return {};
    parts.push_back(std::move(part));
    start = i + 1;
  }
  return parts;
}

platform::Status viewAsAsked(CacheService& service, const RestoreOptions& options) {
  if (options.at.empty()) return platform::Status::ok();
  int64_t when = 0;
  std::string first = options.paths.empty() ? "" : options.paths[0];
  platform::Status resolved = resolveMoment(service, options.at, first, platform::unixTimeSeconds(), when);
  if (!resolved) return resolved;
  service.viewAt(when);
  std::printf("as the cache held it on %s", platform::localTimeText(when).c_str());
  return platform::Status::ok();
}

int seenFailure(const platform::Status& failed) {
  return fail(failed.code() == platform::Status::kInvalid ? kExitUsage : kExitService, failed.message());
}

std::string parentOf(const std::string& logical) {
  size_t separator = logical.find_last_of("\\/");
  return separator == std::string::npos ? "" : logical.substr(0, separator);
}

platform::Status selectFiles(CacheService& service, const RestoreOptions& options, std::vector<SelectedFile>& files,
                             std::vector<std::string>& problems) {
  Filter filter(options);
  for (const std::string& asked : options.paths) {
    std::string logical = logicalOf(asked);
    std::vector<CachedFile> listed;
    if (platform::Status got = service.listFolder(logical, listed); !got) return got;
    std::string folder = logical;
    if (listed.empty()) {
      // A file asked for by its own path: its folder's listing holds it.
      folder = parentOf(logical);
      std::vector<CachedFile> siblings;
      if (platform::Status got = service.listFolder(folder, siblings); !got) return got;
      for (CachedFile& file : siblings) {
        if (file.path == logical) listed.push_back(std::move(file));
      }
    }
    if (listed.empty()) problems.push_back(asked + ": the cache holds no file there");
    for (CachedFile& file : listed) {
      std::vector<std::string> parts = relativeParts(file.path, folder);
      if (parts.empty()) {
        problems.push_back(file.path + ": refused, it would land outside " + options.targetFolder);
      } else if (filter.takes(parts)) {
        files.push_back({std::move(file), std::move(parts)});
      }
    }
  }
  return platform::Status::ok();
}

int runRestore(const AgentConfig& config, const RestoreOptions& options, ZR::CLogger& log, RunReport& report) {
  uint64_t started = platform::tickCountMs();
  platform::watchForInterruption();
  std::vector<SelectedFile> files;
  Totals totals;
  {
    CacheService service(config, log);
    service.tellWhenWaiting();
    if (platform::Status seen = viewAsAsked(service, options); !seen) return seenFailure(seen);
    if (platform::Status listed = selectFiles(service, options, files, totals.problems); !listed) {
      return fail(kExitService, listed.message());
    }
  }
  if (files.empty()) {
    printListed(totals.problems, log, "not restored: ");
    for (const std::string& line : totals.problems) report.entry("notRestored", "", line);
    return fail(kExitIncomplete, "nothing to restore: the cache holds no file at the paths asked for");
  }
  if (options.dryRun) {
    for (const SelectedFile& selected : files) report.entry("wouldRestore", joinedParts(selected.parts), "");
    return printDryRun(files, options.targetFolder);
  }
  std::unique_ptr<RestoreTarget> target;
  if (platform::Status opened = RestoreTarget::open(*config.env, options.targetFolder, options.overwrite, &target); !opened) {
    return fail(kExitWrite, "cannot use the target folder: " + opened.message());
  }
  restoreAll(config, options, log, files, *target, totals);
  target.reset();
  printSummary(totals, files.size(), options, started, log);
  record(totals, files.size(), report);
  if (platform::interruptionRequested()) return fail(kExitInterrupted, "interrupted; the files restored so far are whole");
  return totals.problems.empty() && totals.kept.load() == 0 ? kExitOk : kExitIncomplete;
}

}  // namespace agent
