#include "agent/backup.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "actionset/action_set_file.h"
#include "agent/console.h"
#include "agent/content_sample.h"
#include "agent/exit_codes.h"
#include "agent/run_report.h"
#include "agent/velkan_run.h"
#include "bindings/cabinet/cabinet.h"
#include "bindings/cabinet/file_index.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "client/exit_codes.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/file_lock.h"
#include "platform/interrupt.h"
#include "platform/path.h"
#include "platform/process.h"
#include "prepare/file_types.h"
#include "status/run_progress.h"
#include "status/status_files.h"

namespace agent {
namespace {

constexpr size_t kListedLines = 10;  // of each list a dry run shows

const std::string& pathOf(const CachedFile& file) { return file.path; }
const std::string& pathOf(const std::string& path) { return path; }

// The first folder below the watched folder that a path lies in (or the
// watched folder itself for a file directly in it).
std::string topFolderOf(const std::string& path, const std::vector<WatchedFolder>& watches) {
  for (const WatchedFolder& watch : watches) {
    if (!platform::isBelow(path, watch.logicalPath)) continue;
    size_t next = path.find('\\', watch.logicalPath.size() + 1);
    return next == std::string::npos ? watch.logicalPath : path.substr(0, next);
  }
  return path;
}

// Skips by rule (links, pipes) are counted, never listed among the
// problems; the problems (files of the backup that could not be taken)
// come first and all of them go to the log.
void printScanSummary(const ScanResult& scan, ZR::CLogger& log, RunReport& report) {
  report.figure("scannedFiles", static_cast<int64_t>(scan.files));
  report.figure("scannedFolders", static_cast<int64_t>(scan.folders));
  report.figure("scannedBytes", static_cast<int64_t>(scan.bytes));
  report.figure("excluded", static_cast<int64_t>(scan.excluded));
  std::string scanned = "scanned " + countOf(scan.files, "file", "files") + " (" + humanBytes(scan.bytes) + ") in " +
                        countOf(scan.folders, "folder", "folders");
  if (scan.excluded) scanned += ", " + humanCount(scan.excluded) + " left out by exclude patterns";
  report.say("%s\n", scanned.c_str());
  std::vector<std::string> problems;
  for (const ScanProblem& problem : scan.problems) {
    std::string line = printable(problem.path) + ": " + problem.reason;
    if (problem.leftOut) {
      problems.push_back(line);
      report.entry("problems", problem.path, problem.reason);
    } else {
      log.info("%s", ("skipped by rule: " + line).c_str());
      report.entry("skips", problem.path, problem.reason);
    }
  }
  std::vector<std::pair<std::string, uint64_t>> rules = scan.skipsByRule();
  if (!rules.empty()) {
    std::string line = "skipped by rule (not followed or not regular files; each in the log):";
    for (size_t i = 0; i < rules.size(); ++i) {
      line += (i ? ", " : " ") + humanCount(rules[i].second) + " x " + rules[i].first;
    }
    report.say("%s\n", line.c_str());
  }
  if (!problems.empty()) {
    report.say("problems: %s could not be read\n", countOf(problems.size(), "file or folder", "files or folders").c_str());
  }
  printListed(problems, log, "scan: ");
}

// Lists the cached files that stand for what could not be read.
class KeptEntries {
 public:
  KeptEntries(const std::vector<CachedFile>& cached, ScanSink& sink) : cached_(cached), sink_(sink) {}
  // Every cached file at or below `logical`, with the values the cache has.
  size_t keep(const std::string& logical) {
    size_t kept = 0;
    auto at = std::lower_bound(cached_.begin(), cached_.end(), logical,
                               [](const CachedFile& file, const std::string& path) { return file.path < path; });
    for (; at != cached_.end() && (at->path == logical || platform::isBelow(at->path, logical)); ++at) {
      if (at->originSize.empty() || at->originModified.empty()) continue;
      sink_.file(at->path, static_cast<uint64_t>(std::max<int64_t>(0, ZR::CNumberText::toInt64(at->originSize))),
                 ZR::CNumberText::toInt64(at->originModified));
      ++kept;
    }
    return kept;
  }

 private:
  const std::vector<CachedFile>& cached_;
  ScanSink& sink_;
};

uint64_t sizeOnDisk(platform::Env& env, const std::vector<std::string>& paths) {
  uint64_t total = 0;
  for (const std::string& path : paths) {
    platform::FileInfo info;
    if (env.getFileInfo(platform::hostPath(path), &info)) total += info.size;
  }
  return total;
}

void printList(const char* title, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  std::printf("%s:\n", title);
  for (size_t i = 0; i < paths.size() && i < kListedLines; ++i) std::printf("  %s\n", paths[i].c_str());
  if (paths.size() > kListedLines) std::printf("  ... and %s more\n", humanCount(paths.size() - kListedLines).c_str());
}

void printPlan(const BackupPlan& plan, uint64_t uploadBytes, RunReport& report) {
  report.figure("toUploadNew", static_cast<int64_t>(plan.newFiles.size()));
  report.figure("toUploadChanged", static_cast<int64_t>(plan.changedFiles.size()));
  report.figure("toUploadBytes", static_cast<int64_t>(uploadBytes));
  report.figure("toDelete", static_cast<int64_t>(plan.deletedFiles.size()));
  report.figure("unchanged", static_cast<int64_t>(plan.unchangedFiles));
  report.say("to upload: %s (%s new, %s changed), %s; to delete: %s; unchanged: %s\n",
              countOf(plan.newFiles.size() + plan.changedFiles.size(), "file", "files").c_str(),
              humanCount(plan.newFiles.size()).c_str(), humanCount(plan.changedFiles.size()).c_str(),
              humanBytes(uploadBytes).c_str(), countOf(plan.deletedFiles.size(), "file", "files").c_str(),
              countOf(plan.unchangedFiles, "file", "files").c_str());
  std::fflush(stdout);
}

// One backup at a time per work folder: a lock held while the process
// lives (the system lets go of it when the process ends, however it ends).
}  // namespace

BackupLock::BackupLock(const AgentConfig& config)
    : lockFile_(platform::joinPath(config.workFolder, "cacheagent.lock")) {}

platform::Status BackupLock::take() {
  platform::Status taken = lock_.take(lockFile_, "cacheagent backup, process " + std::to_string(platform::processId()));
  if (taken || taken.code() != platform::Status::kRefused) return taken;
  std::string holder = platform::FileLock::holderOf(lockFile_);
  return platform::Status::refused("another backup of this configuration is running" +
                                   (holder.empty() ? "" : " (" + holder + ")") + "; it holds " + lockFile_);
}

namespace {

// What the service's listing says it holds decides what is sent again,
// whatever state the local file index is in (new, moved, another
// configuration's): the index velkan goes by is made to hold exactly the
// listed versions before it runs: the whole index, or for a backup of
// parts of the watched folders (cacheagent watch) the rows below them only.
platform::Status seedFileIndex(platform::Env& env, const std::vector<CachedFile>& cached,
                               const std::vector<WatchedFolder>* parts) {
  std::vector<ZR::CFileEntry> entries;
  entries.reserve(cached.size());
  for (const CachedFile& file : cached) {
    ZR::CFileEntry entry;
    entry.setPath(file.path);
    entry.setOriginSize(file.originSize);
    entry.setCacheSize(std::to_string(file.size));
    entry.setDateModified(file.originModified);
    entry.setState("1");
    entries.push_back(std::move(entry));
  }
  std::string path = ZR::CCabinet::indexPath();
  ZR::CFileIndex index(env, path);
  std::vector<std::string> folders;
  for (const WatchedFolder& part : parts ? *parts : std::vector<WatchedFolder>{}) folders.push_back(part.logicalPath);
  int refreshed = parts ? index.refreshBelow(folders, entries) : index.refresh(entries);
  if (refreshed != ZR::kCabinetOk) {
    return platform::Status::ioError("cannot bring the file index " + path + " up to date: " + index.lastError());
  }
  return platform::Status::ok();
}

// The files this run writes in its work folder and beside the
// configuration are its own: a link found at one (someone else planted it)
// is refused before anything is written, with its name.
platform::Status noLinksAmongOurFiles(const AgentConfig& config) {
  std::string status = platform::joinPath(config.workFolder, velkan::kStatusFolder);
  std::vector<std::string> ours = {platform::joinPath(config.workFolder, "cacheagent.lock"),
                                   platform::joinPath(config.workFolder, "cacheagent.lock.holder"),
                                   config.dirContent, config.cacheContent, config.actionSet};
  for (const char* name : {velkan::kProgressFileName, "cs_waiting.xml", "cs_uploading.xml", "cs_uploadedtoday.xml"}) {
    ours.push_back(platform::joinPath(status, name));
  }
  for (const std::string& path : ours) {
    if (config.env->finalLinkTarget(path) != path) {
      return platform::Status::invalid(path + " is a link; it is not written through (remove it if it is not yours)");
    }
  }
  return platform::Status::ok();
}

int interrupted(const std::string& when) {
  return fail(kExitInterrupted, "interrupted " + when);
}

}  // namespace

platform::Status readPlan(platform::Env& env, const std::string& actionSetPath, BackupPlan& plan,
                          const std::vector<CachedFile>* listed) {
  dornik::ActionSetContent content = dornik::readActionSet(env, actionSetPath);
  if (!content.loaded) return platform::Status::syntaxError(actionSetPath + ": " + content.detail);
  std::set<std::string> deleted;
  for (const dornik::Action& action : content.actions) {
    if (action.kind == dornik::ActionKind::Delete) deleted.insert(action.paths.begin(), action.paths.end());
  }
  std::set<std::string> changed;
  for (const dornik::Action& action : content.actions) {
    if (action.kind != dornik::ActionKind::Create) continue;
    for (const dornik::CreateEntry& entry : action.files) {
      if (deleted.count(entry.path)) {
        plan.changedFiles.push_back(entry.path);
        changed.insert(entry.path);
      } else if (entry.offset == 0 && !(listed && std::binary_search(listed->begin(), listed->end(), entry.path,
                                                                       [](const auto& a, const auto& b) {
                                                                         return pathOf(a) < pathOf(b);
                                                                       }))) {
        plan.newFiles.push_back(entry.path);
      } else {
        ++plan.unchangedFiles;
      }
    }
  }
  for (const std::string& path : deleted) {
    if (!changed.count(path)) plan.deletedFiles.push_back(path);
  }
  return platform::Status::ok();
}

platform::Status listCache(CacheService& service, const std::vector<WatchedFolder>& watches,
                           std::vector<CachedFile>& files) {
  files.clear();
  for (const WatchedFolder& watch : watches) {
    if (platform::Status listed = service.listFolder(watch.logicalPath, files); !listed) return listed;
  }
  auto byPath = [](const CachedFile& a, const CachedFile& b) { return a.path < b.path; };
  std::sort(files.begin(), files.end(), byPath);
  // Watched folders inside one another list the same files twice.
  files.erase(std::unique(files.begin(), files.end(),
                          [](const CachedFile& a, const CachedFile& b) { return a.path == b.path; }),
              files.end());
  return platform::Status::ok();
}

platform::Status writeDirContent(const AgentConfig& config, const std::vector<CachedFile>* cached,
                                 ScanResult& result) {
  DirContentWriter writer(*config.env, config.dirContent);
  if (platform::Status scanned = scanFolders(*config.env, config.watches, writer, result); !scanned) return scanned;
  if (cached) {
    KeptEntries kept(*cached, writer);
    for (const std::string& path : result.unreadable) kept.keep(path);
  }
  return writer.commit();
}

// Whether the cache manager answers the history's calls.
static bool keepsHistory(CacheService& service, const AgentConfig& config) {
  std::vector<FileVersion> versions;
  return !config.watches.empty() && service.versions(config.watches[0].logicalPath, versions).isOk();
}

// The folders most of the paths are in, most first.
static std::string busiestFolders(const AgentConfig& config, const std::vector<std::string>& paths) {
  std::map<std::string, size_t> byFolder;
  for (const std::string& path : paths) ++byFolder[topFolderOf(path, config.watches)];
  std::vector<std::pair<std::string, size_t>> folders(byFolder.begin(), byFolder.end());
  std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (size_t i = 0; i < folders.size() && i < kListedLines; ++i) {
    text += "\n  " + folders[i].first + " (" + humanCount(folders[i].second) + " files)";
  }
  return text;
}

// A few edited files are everyday work, whatever their share of a small tree.
constexpr size_t kFewChanges = 10;
// Enough garbled files to stop the backup and name their folders.
constexpr size_t kEnoughGarbled = 1000;

std::string changeGuard(const AgentConfig& config, const BackupPlan& plan, const std::vector<CachedFile>& cached,
                        const std::vector<std::string>& garbled, bool historyKept, uint64_t guardBase) {
  uint64_t base = guardBase > 0 ? guardBase : cached.size();
  if (plan.changedFiles.size() <= kFewChanges || base == 0) return "";
  uint64_t share = plan.changedFiles.size() * 100 / base;
  std::string what;
  if (share > static_cast<uint64_t>(config.maxChangePercent)) {
    what = "this backup would replace " + humanCount(plan.changedFiles.size()) + " of the " + humanCount(base) +
           " files the cache holds (" + std::to_string(share) + " %, more than the " +
           std::to_string(config.maxChangePercent) + " % allowed): so many files changing at once can be a program" +
           " that garbled or encrypted them.\nMost of them are in:" + busiestFolders(config, plan.changedFiles);
  } else if (garbled.size() > kFewChanges) {
    what =
        "this backup would replace " + std::string(garbled.size() >= kEnoughGarbled ? "at least " : "") +
        humanCount(garbled.size()) + " files whose cached copies compressed well with content that looks random" +
        " now: a program may have encrypted or garbled them.\nMost of them are in:" + busiestFolders(config, garbled);
  } else {
    return "";
  }
  return what + "\nCheck a few of them; run again with --allow-changes if the changes are meant. " +
         (historyKept ? "The cache manager keeps the versions they replace: `cacheagent versions` and --at bring "
                        "them back either way."
                      : "This cache manager keeps no history: what it holds now would be replaced for good.");
}

std::string deletionGuard(const AgentConfig& config, const BackupPlan& plan, const std::vector<CachedFile>& cached,
                          const ScanResult& scan, uint64_t guardBase) {
  if (plan.deletedFiles.empty()) return "";
  std::string why;
  // A part of a watched folder may be emptied by everyday work.
  for (const WatchedFolder& watch : guardBase > 0 ? std::vector<WatchedFolder>() : config.watches) {
    bool emptyNow = std::none_of(scan.filesPerWatch.begin(), scan.filesPerWatch.end(),
                                 [&](const auto& entry) { return entry.first == watch.logicalPath && entry.second > 0; });
    bool heldBefore = std::any_of(cached.begin(), cached.end(), [&](const CachedFile& file) {
      return platform::isBelow(file.path, watch.logicalPath);
    });
    if (emptyNow && heldBefore) {
      why = "the watched folder " + watch.hostPath + " is empty now, but the cache holds files of it";
      break;
    }
  }
  uint64_t base = guardBase > 0 ? guardBase : cached.size();
  uint64_t share = base == 0 ? 100 : plan.deletedFiles.size() * 100 / base;
  if (why.empty() && share > static_cast<uint64_t>(config.maxDeletePercent)) {
    why = "that is " + std::to_string(share) + " % of the " + humanCount(base) +
          " files the cache holds, more than the " + std::to_string(config.maxDeletePercent) + " % allowed";
  }
  if (why.empty()) return "";
  return "this backup would delete " + humanCount(plan.deletedFiles.size()) + " files from the cache: " + why +
         ".\nMost of them are in:" + busiestFolders(config, plan.deletedFiles) +
         "\nCheck the watched folders; run again with --allow-deletions if these deletions are meant.";
}

int runScan(const AgentConfig& config) {
  RunReport report("scan");
  ScanResult scan;
  if (platform::Status written = writeDirContent(config, nullptr, scan); !written) {
    return fail(written.code() == platform::Status::kIoError ? kExitWrite : kExitConfiguration, written.message());
  }
  printScanSummary(scan, ZR::CLogManager::logger(), report);
  std::printf("directory content snapshot: %s\n", config.dirContent.c_str());
  return scan.incomplete() ? kExitIncomplete : kExitOk;
}

int runCacheSnapshot(const AgentConfig& config, ZR::CLogger& log) {
  CacheService service(config, log);
  std::vector<CachedFile> cached;
  if (platform::Status listed = listCache(service, config.watches, cached); !listed) {
    return fail(kExitService, listed.message() + "; the cache content snapshot is left as it was");
  }
  if (platform::Status written = writeCacheContent(*config.env, config.cacheContent, cached); !written) {
    return fail(kExitWrite, written.message());
  }
  uint64_t bytes = 0;
  for (const CachedFile& file : cached) bytes += file.size;
  std::printf("the cache holds %s files (%s) of the watched folders\ncache content snapshot: %s\n",
              humanCount(cached.size()).c_str(), humanBytes(bytes).c_str(), config.cacheContent.c_str());
  return kExitOk;
}

int runBackup(const AgentConfig& config, const BackupOptions& options, ZR::CLogger& log, RunReport& report) {
  uint64_t started = platform::tickCountMs();
  platform::watchForInterruption();
  config.env->createDirectories(platform::joinPath(config.workFolder, velkan::kStatusFolder));
  if (platform::Status files = noLinksAmongOurFiles(config); !files) return fail(kExitWrite, files.message());
  BackupLock lock(config);
  if (platform::Status taken = options.lockHeld ? platform::Status::ok() : lock.take(); !taken) {
    return fail(taken.code() == platform::Status::kRefused ? kExitBusy : kExitWrite, taken.message());
  }
  log.info("backup started");

  // Before the counts are known a terminal shows what is under way. (It
  // outlives the service, whose waiting notices it prints.)
  ProgressConsole phase(platform::standardOutputIsTerminal());
  CacheService service(config, log);
  service.tellWhenWaiting([&phase](const std::string& line) { phase.print(line); });
  phase.show(head("listing the cache...", phase.columns()));
  std::vector<CachedFile> cached;
  if (platform::Status listed = listCache(service, config.watches, cached); !listed) {
    phase.clear();
    return fail(kExitService, listed.message() + "; nothing was changed");
  }
  if (options.listedFiles) *options.listedFiles = cached.size();
  phase.show(head("scanning the folders...", phase.columns()));
  ScanResult scan;
  platform::Status scanned = writeDirContent(config, &cached, scan);
  phase.clear();
  if (!scanned) {
    if (platform::interruptionRequested()) return interrupted("while scanning; nothing was changed");
    return fail(scanned.code() == platform::Status::kIoError ? kExitWrite : kExitConfiguration, scanned.message());
  }
  printScanSummary(scan, log, report);
  if (platform::Status written = writeCacheContent(*config.env, config.cacheContent, cached); !written) {
    return fail(kExitWrite, written.message());
  }

  platform::ProcessResult dornik;
  phase.show(head("deciding what to upload and delete...", phase.columns()));
  bool dornikStarted = platform::runProcess({config.dornikPath, config.configurationPath}, {}, config.workFolder, &dornik);
  phase.clear();
  if (!dornikStarted) {
    return fail(kExitProgram, "cannot start dornik (" + config.dornikPath + "): " + dornik.startError);
  }
  if (dornik.exitCode != 0) {
    std::fputs(dornik.standardError.c_str(), stderr);
    return fail(kExitProgram, "dornik ended with exit code " + std::to_string(dornik.exitCode) +
                                  " (see dornik.log); nothing was uploaded or deleted");
  }
  if (platform::interruptionRequested()) return interrupted("before anything was uploaded or deleted");
  BackupPlan plan;
  if (platform::Status read = readPlan(*config.env, config.actionSet, plan, &cached); !read) {
    return fail(kExitProgram, read.message());
  }
  std::vector<std::string> toUpload = plan.newFiles;
  toUpload.insert(toUpload.end(), plan.changedFiles.begin(), plan.changedFiles.end());
  printPlan(plan, sizeOnDisk(*config.env, toUpload), report);
  if (options.dryRun) {
    uint64_t pictures = std::count_if(toUpload.begin(), toUpload.end(), [](const std::string& p) { return velkan::isImageFile(p); });
    if (pictures && !config.keepPictures) {
      std::printf("%s among them: stored scaled to %dx%d at most and re-encoded (pictures=\"keep\" in the agent"
                  " section sends them as they are)\n",
                  countOf(pictures, "picture", "pictures").c_str(), config.client.maxImageWidth,
                  config.client.maxImageHeight);
    }
    printList("new", plan.newFiles);
    printList("changed", plan.changedFiles);
    printList("to delete", plan.deletedFiles);
    std::printf("dry run: nothing was uploaded or deleted\n");
    return kExitOk;
  }
  if (std::string refused = deletionGuard(config, plan, cached, scan, options.guardBase);
      !refused.empty() && !options.allowDeletions) {
    return fail(kExitDeletionsRefused, refused);
  }
  // The service is asked about its history only when the guard stops the backup.
  if (!options.allowChanges) {
    std::vector<std::string> garbled;
    if (plan.changedFiles.size() > kFewChanges) {
      garbled = newlyRandomFiles(*config.env, plan.changedFiles, cached, kEnoughGarbled);
    }
    if (!changeGuard(config, plan, cached, garbled, false, options.guardBase).empty()) {
      return fail(kExitChangesRefused,
                  changeGuard(config, plan, cached, garbled, keepsHistory(service, config), options.guardBase));
    }
  }

  if (platform::Status seeded = seedFileIndex(*config.env, cached, options.partsOnly ? &config.watches : nullptr);
      !seeded) {
    return fail(kExitWrite, seeded.message());
  }
  if (!config.compressionWaitSet) {
    std::printf("velkan waits 10 s before it compresses each file (CompressionWait is not set in cacheManagerClient;"
                " <CompressionWait value=\"0\"/> backs up at full speed)\n");
  }
  VelkanRun run = runVelkan(config, options.cpuPercent >= 0 ? options.cpuPercent : config.cpuPercent,
                            options.bytesPerSecond > 0 ? options.bytesPerSecond : config.bytesPerSecond, options.verbose);
  if (!run.started) return fail(kExitProgram, "cannot start velkan (" + config.velkanPath + "): " + run.startError);
  if (run.reported) printUploadSummary(run, log, report);
  report.figure("durationMs", static_cast<int64_t>(platform::tickCountMs() - started));
  report.say("backup took %s\n", humanDuration(platform::tickCountMs() - started).c_str());
  std::fflush(stdout);
  log.info("backup ended: velkan exit code %d", run.exitCode);
  if (run.exitCode == kVelkanStoreFull) {
    uint64_t left = run.reported ? run.report.filesToDo - std::min(run.report.filesToDo, run.report.filesUploaded) : 0;
    return fail(kExitIncomplete, "the cache manager's store at " + config.client.server + " is full: " +
                                     humanCount(left) + " files were not uploaded; their cached copies stay as they were");
  }
  if (run.exitCode != 0 && run.exitCode != velkan::kExitNotAllUploaded) {
    std::string why = "velkan ended with exit code " + std::to_string(run.exitCode) + " (" +
                      velkanEnding(run.exitCode) + "; see velkan.log)" + (run.said.empty() ? "" : ": " + run.said);
    switch (run.exitCode) {
      case velkan::kExitServiceUnreachable: return fail(kExitService, why);
      case velkan::kExitNoAuthentication: return fail(kExitConfiguration, why);
      case velkan::kExitAlreadyRunning: return fail(kExitBusy, why);
      case velkan::kExitInterrupted: return fail(kExitInterrupted, why);
      default: return fail(kExitProgram, why);
    }
  }
  bool complete = run.reported && run.report.filesUploaded == run.report.filesToDo && run.report.filesFailed == 0;
  return complete && !scan.incomplete() ? kExitOk : kExitIncomplete;
}

}  // namespace agent
