#include "agent/watch_command.h"

#include <algorithm>
#include <cstdio>

#include "agent/console.h"
#include "agent/exclude_rules.h"
#include "agent/exit_codes.h"
#include "agent/run_report.h"
#include "agent/watch_status.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/folder_watcher.h"
#include "platform/interrupt.h"
#include "platform/path.h"
#include "platform/process.h"
#include "status/status_files.h"

namespace agent {
namespace {

constexpr const char* kPendingFile = "pending-changes.txt";
constexpr int64_t kFirstRetryMs = 5000;
constexpr int64_t kLongestRetryMs = 5 * 60 * 1000;

// `path` itself or a path below `folder`.
bool within(const std::string& path, const std::string& folder) {
  return path == folder || platform::isBelow(path, folder);
}

const WatchedFolder* watchHolding(const AgentConfig& config, const std::string& hostPath) {
  const WatchedFolder* found = nullptr;
  for (const WatchedFolder& watch : config.watches) {
    // The innermost, when watched folders lie inside one another.
    if (within(hostPath, watch.hostPath) && (!found || watch.hostPath.size() > found->hostPath.size())) found = &watch;
  }
  return found;
}

// The part of `hostPath` below `folder`, "/" between parts.
std::string relativeBelow(const std::string& hostPath, const std::string& folder) {
  std::string relative = hostPath.size() > folder.size() ? hostPath.substr(folder.size() + 1) : "";
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return relative;
}

// Whether the watched folder's patterns leave out `relative` or a folder above it.
bool excluded(const ExcludeRules& rules, const std::string& relative) {
  for (size_t end = relative.find('/'); !relative.empty(); end = relative.find('/', end + 1)) {
    std::string part = relative.substr(0, end);
    if (rules.excludes(part, part.substr(part.rfind('/') + 1))) return true;
    if (end == std::string::npos) break;
  }
  return false;
}

}  // namespace

// Files each cycle writes: a change of them is our own doing, and taking
// it for a user's would start a cycle after every cycle.
bool ownFile(const AgentConfig& config, const WatchedFolder& watch, const std::string& hostPath) {
  if (within(config.workFolder, watch.hostPath) && within(hostPath, config.workFolder)) return true;
  for (const std::string* file : {&config.dirContent, &config.cacheContent, &config.actionSet}) {
    if (!file->empty() && hostPath.compare(0, file->size(), *file) == 0) return true;  // and its temporaries
  }
  return false;
}

std::string folderToLookThrough(platform::Env& env, const AgentConfig& config, const std::string& hostPath) {
  const WatchedFolder* watch = watchHolding(config, hostPath);
  if (!watch || ownFile(config, *watch, hostPath)) return "";
  std::string folder = hostPath == watch->hostPath ? hostPath : platform::parentFolder(hostPath);
  platform::FileInfo info;
  while (folder.size() > watch->hostPath.size() && !(env.getFileInfo(folder, &info) && info.isDirectory)) {
    folder = platform::parentFolder(folder);
  }
  return within(folder, watch->hostPath) ? folder : watch->hostPath;
}

std::vector<WatchedFolder> partsToLookThrough(const AgentConfig& config, const std::vector<std::string>& folders) {
  std::vector<std::string> sorted = folders;
  std::sort(sorted.begin(), sorted.end());
  std::vector<WatchedFolder> parts;
  std::string last;
  for (const std::string& folder : sorted) {
    if (!last.empty() && within(folder, last)) continue;  // inside one already taken
    const WatchedFolder* watch = watchHolding(config, folder);
    if (!watch) continue;
    WatchedFolder part = *watch;
    part.hostPath = folder;
    part.below = relativeBelow(folder, watch->hostPath);
    if (!part.below.empty() && excluded(ExcludeRules(watch->excludes), part.below)) continue;
    std::string logicalBelow = part.below;
    std::replace(logicalBelow.begin(), logicalBelow.end(), '/', '\\');
    part.logicalPath = watch->logicalPath + (logicalBelow.empty() ? "" : "\\" + logicalBelow);
    parts.push_back(std::move(part));
    last = folder;
  }
  return parts;
}

void PendingChanges::add(const std::string& folder, uint64_t nowMs) {
  auto [slot, added] = folders_.try_emplace(folder, Times{nowMs, nowMs});
  if (!added) slot->second.last = nowMs;
}

std::vector<std::string> PendingChanges::due(uint64_t nowMs, int settleMs, int maxDelayMs) const {
  std::vector<std::string> out;
  for (const auto& [folder, times] : folders_) {
    if (nowMs >= times.last + static_cast<uint64_t>(settleMs) ||
        nowMs >= times.first + static_cast<uint64_t>(maxDelayMs)) {
      out.push_back(folder);
    }
  }
  return out;
}

int64_t PendingChanges::msUntilDue(uint64_t nowMs, int settleMs, int maxDelayMs) const {
  int64_t soonest = -1;
  for (const auto& [folder, times] : folders_) {
    uint64_t at =
        std::min(times.last + static_cast<uint64_t>(settleMs), times.first + static_cast<uint64_t>(maxDelayMs));
    int64_t wait = at > nowMs ? static_cast<int64_t>(at - nowMs) : 0;
    if (soonest < 0 || wait < soonest) soonest = wait;
  }
  return soonest;
}

void PendingChanges::remove(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) folders_.erase(folder);
}

std::vector<std::string> PendingChanges::folders() const {
  std::vector<std::string> out;
  for (const auto& entry : folders_) out.push_back(entry.first);
  return out;
}

platform::Status PendingChanges::save(platform::Env& env, const std::string& file) const {
  std::string text;
  for (const auto& entry : folders_) text += entry.first + "\n";
  std::string error;
  if (!ZR::CFileUtils::writeFileAtomically(env, file, text, error, true, ZR::LinkAtTarget::Refuse)) {
    return platform::Status::ioError("cannot keep the changes waiting in " + file + ": " + error);
  }
  return platform::Status::ok();
}

platform::Status PendingChanges::load(platform::Env& env, const std::string& file, uint64_t nowMs) {
  if (!env.fileExists(file)) return platform::Status::ok();
  std::string text, error;
  if (!ZR::CFileUtils::readFile(env, file, text, error)) {
    return platform::Status::ioError("cannot read the changes waiting in " + file + ": " + error);
  }
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) add(text.substr(start, end - start), nowMs);
    start = end + 1;
  }
  return platform::Status::ok();
}

namespace {

// The watch's state between its cycles.
class Watch {
 public:
  Watch(const AgentConfig& config, const WatchOptions& options, ZR::CLogger& log)
      : config_(config),
        options_(options),
        log_(log),
        pendingFile_(platform::joinPath(config.workFolder, kPendingFile)),
        statusFile_(*config.env, platform::joinPath(config.workFolder, velkan::kStatusFolder)) {}

  int run() {
    BackupLock lock(config_);
    if (platform::Status taken = lock.take(); !taken) {
      return fail(taken.code() == platform::Status::kRefused ? kExitBusy : kExitWrite, taken.message());
    }
    if (platform::Status created = platform::createFolderWatcher(&watcher_); !created) {
      return fail(kExitConfiguration, created.message());
    }
    // A tiny queue on purpose: how the loss of changes is shown to be caught.
    int64_t limit = 0;
    if (ZR::CNumberText::parseExact(platform::environmentVariable("ZR_WATCH_QUEUE_LIMIT"), limit) && limit > 0) {
      watcher_ = platform::withQueueLimit(std::move(watcher_), static_cast<size_t>(limit));
    }
    // Watched before the first backup, so that what changes during it is seen.
    for (const WatchedFolder& watch : config_.watches) {
      if (platform::Status watched = watcher_->watchTree(watch.hostPath); !watched) {
        return fail(kExitConfiguration, watched.message());
      }
    }
    if (platform::Status loaded = pending_.load(*config_.env, pendingFile_, platform::tickCountMs()); !loaded) {
      log_.warning("%s", loaded.message().c_str());
    }
    sayUnwatched();
    fullDue_ = true;
    while (!platform::interruptionRequested()) {
      if (int ended = step(); ended >= 0) return ended;
    }
    return stop();
  }

 private:
  // One wait and what is due after it; an exit code when the watch ends, else -1.
  int step() {
    std::vector<platform::FolderChange> changes;
    if (platform::Status waited = watcher_->wait(static_cast<int>(msToWait()), &changes); !waited) {
      return fail(kExitProgram, waited.message());
    }
    take(changes);
    uint64_t now = platform::tickCountMs();
    if (now < retryAtMs_ || platform::interruptionRequested()) return -1;
    if (!watcher_->unwatched().empty() && now >= lastRescanMs_ + static_cast<uint64_t>(options_.rescanEveryMs)) {
      for (const std::string& folder : watcher_->unwatched()) pending_.add(folder, now - options_.settleMs);
      lastRescanMs_ = now;
    }
    if (fullDue_ || now >= lastFullMs_ + static_cast<uint64_t>(options_.fullEveryMs)) return fullCycle();
    std::vector<std::string> due = pending_.due(now, options_.settleMs, options_.maxDelayMs);
    return due.empty() ? -1 : partCycle(due);
  }

  // Until the next thing to do; changes end the wait earlier.
  int64_t msToWait() const {
    uint64_t now = platform::tickCountMs();
    if (now < retryAtMs_) return static_cast<int64_t>(retryAtMs_ - now);
    if (fullDue_) return 0;
    auto until = [now](uint64_t at) { return at > now ? static_cast<int64_t>(at - now) : int64_t{0}; };
    int64_t wait = until(lastFullMs_ + static_cast<uint64_t>(options_.fullEveryMs));
    if (!watcher_->unwatched().empty()) wait = std::min(wait, until(lastRescanMs_ + options_.rescanEveryMs));
    if (int64_t due = pending_.msUntilDue(now, options_.settleMs, options_.maxDelayMs); due >= 0) {
      wait = std::min(wait, due);
    }
    return std::min<int64_t>(wait, 24LL * 3600 * 1000);
  }

  void take(const std::vector<platform::FolderChange>& changes) {
    size_t before = pending_.size();
    uint64_t now = platform::tickCountMs();
    for (const platform::FolderChange& change : changes) {
      if (change.overflow) {
        if (!fullDue_) std::printf("the system lost some changes (too many at once): a full backup follows\n");
        fullDue_ = true;
        continue;
      }
      std::string folder = folderToLookThrough(*config_.env, config_, change.path);
      if (!folder.empty()) pending_.add(folder, now);
    }
    if (pending_.size() != before) {
      keepPending();
      publish();
    }
  }

  int fullCycle() {
    std::printf("full backup of the watched folders\n");
    std::fflush(stdout);
    BackupOptions options = options_.backup;
    options.lockHeld = true;
    options.listedFiles = &cachedFiles_;
    // What is waiting now is covered by the full backup.
    std::vector<std::string> covered = pending_.folders();
    int code = cycle(config_, options, "full");
    if (code < 0) {
      fullDue_ = false;
      lastFullMs_ = platform::tickCountMs();
      pending_.remove(covered);
      keepPending();
      publish();
      std::printf("watching %s; a change is backed up after %.1f s of quiet\n",
                  countOf(watcher_->watchedCount(), "folder", "folders").c_str(), options_.settleMs / 1000.0);
      std::fflush(stdout);
    }
    return code == kExitInterrupted ? stop() : -1;
  }

  int partCycle(const std::vector<std::string>& due) {
    AgentConfig part = config_;
    part.watches = partsToLookThrough(config_, due);
    if (part.watches.empty()) {
      pending_.remove(due);
      keepPending();
      return -1;
    }
    std::printf("backing up the changes in %s\n", countOf(part.watches.size(), "folder", "folders").c_str());
    std::fflush(stdout);
    BackupOptions options = options_.backup;
    options.lockHeld = true;
    options.guardBase = cachedFiles_;
    options.partsOnly = true;
    int code = cycle(part, options, "changes");
    if (code < 0) {
      pending_.remove(due);
      keepPending();
      publish();
    }
    return code == kExitInterrupted ? stop() : -1;
  }

  // A backup; -1 when it went through (its files backed up, or skipped as
  // a backup skips them), else its exit code, with the next try after a
  // growing pause.
  int cycle(const AgentConfig& config, const BackupOptions& options, const char* kind) {
    publish("backing up");
    RunReport report("backup");
    uint64_t started = platform::tickCountMs();
    int code = runBackup(config, options, log_, report);
    if (code == kExitInterrupted || platform::interruptionRequested()) return kExitInterrupted;
    last_ = {platform::unixTimeSeconds(), kind, code, platform::tickCountMs() - started};
    if (code == kExitOk || code == kExitIncomplete) {
      retries_ = 0;
      retryAtMs_ = 0;
      publish();
      return -1;
    }
    int64_t pause = std::min(kLongestRetryMs, kFirstRetryMs << std::min(retries_++, 6));
    retryAtMs_ = platform::tickCountMs() + static_cast<uint64_t>(pause);
    std::printf("the backup did not go through (exit code %d); %s wait; trying again in %s\n", code,
                countOf(pending_.size(), "changed folder", "changed folders").c_str(),
                humanDuration(static_cast<uint64_t>(pause)).c_str());
    std::fflush(stdout);
    publish();
    return code;
  }

  void keepPending() {
    if (platform::Status kept = pending_.save(*config_.env, pendingFile_); !kept)
      log_.warning("%s", kept.message().c_str());
  }

  void sayUnwatched() {
    if (watcher_->unwatched().empty()) return;
    std::printf(
        "%s cannot be watched (the system's limit of watches is reached): they are looked through every %s"
        " instead; %s\n",
        countOf(watcher_->unwatched().size(), "folder", "folders").c_str(),
        humanDuration(static_cast<uint64_t>(options_.rescanEveryMs)).c_str(), platform::watchLimitHint().c_str());
    std::fflush(stdout);
  }

  // The status page's view of the watch; `doing` when a cycle runs or the
  // watch ends, else what the last cycle's outcome leaves it doing.
  void publish(const char* doing = nullptr) {
    WatchState state;
    state.state = doing ? doing : retryAtMs_ == 0 ? "watching" : waitingState(last_.exitCode);
    state.watchedFolders = watcher_->watchedCount();
    state.unwatchedFolders = watcher_->unwatched().size();
    state.pendingFolders = pending_.size();
    state.lastCycleAt = last_.at;
    state.lastCycleKind = last_.kind;
    state.lastCycleExitCode = last_.exitCode;
    state.lastCycleMs = last_.durationMs;
    int64_t now = platform::unixTimeSeconds();
    uint64_t tick = platform::tickCountMs();
    uint64_t fullAt = lastFullMs_ + static_cast<uint64_t>(options_.fullEveryMs);
    state.nextFullAt = now + (fullDue_ || fullAt <= tick ? 0 : static_cast<int64_t>((fullAt - tick + 999) / 1000));
    state.nextCycleAt = std::min(state.nextFullAt, now + (msToWait() + 999) / 1000);
    if (platform::Status written = statusFile_.write(state); !written) log_.warning("%s", written.message().c_str());
  }

  static const char* waitingState(int exitCode) {
    if (exitCode == kExitService) return "waiting for the service";
    if (exitCode == kExitDeletionsRefused || exitCode == kExitChangesRefused) return "held by a guard";
    return "waiting to try again";
  }

  int stop() {
    keepPending();
    publish("stopped");
    std::printf("watch stopped; %s wait for the next start\n",
                countOf(pending_.size(), "changed folder", "changed folders").c_str());
    return kExitInterrupted;
  }

  const AgentConfig& config_;
  const WatchOptions& options_;
  ZR::CLogger& log_;
  std::string pendingFile_;
  std::unique_ptr<platform::FolderWatcher> watcher_;
  PendingChanges pending_;
  bool fullDue_ = false;
  uint64_t lastFullMs_ = 0;
  uint64_t lastRescanMs_ = 0;
  uint64_t retryAtMs_ = 0;
  int retries_ = 0;
  uint64_t cachedFiles_ = 0;
  WatchStatusFile statusFile_;
  struct {
    int64_t at = 0;
    std::string kind;
    int exitCode = 0;
    uint64_t durationMs = 0;
  } last_;
};

}  // namespace

int runWatch(const AgentConfig& config, const WatchOptions& options, ZR::CLogger& log) {
  platform::watchForInterruption();
  config.env->createDirectories(config.workFolder);
  return Watch(config, options, log).run();
}

}  // namespace agent
