#include "prepare/transcoded_folder.h"

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"

namespace velkan {
namespace {

bool writable(const std::string& folder) {
  platform::Env* env = platform::env();
  if (!env->createDirectories(folder)) return false;
  std::string probe = platform::joinPath(folder, ".probe-" + std::to_string(platform::processId())), error;
  auto file = env->openWritable(probe, &error);
  bool ok = file && file->close();
  env->removeFile(probe);
  return ok;
}

std::string userCacheFolder() {
  std::string cache = platform::environmentVariable("XDG_CACHE_HOME");
  if (cache.empty()) cache = platform::environmentVariable("HOME") + "/.cache";
  return cache + "/velkan/transcoded";
}

// Removes the run folders that no running process holds.
void removeAbandonedRuns(const std::string& base) {
  std::vector<std::string> names;
  if (!platform::env()->listDirectory(base, &names)) return;
  for (const std::string& name : names) {
    std::string folder = platform::joinPath(base, name);
    platform::FileInfo info;
    bool runFolder = name.rfind("run-", 0) == 0 && platform::env()->getFileInfo(folder, &info) && info.isDirectory;
    if (!runFolder) continue;
    platform::FileLock probe;
    if (probe.tryLock(folder + ".lock")) {
      platform::env()->removeTree(folder);
      probe.release();
      platform::env()->removeFile(folder + ".lock");
    }
  }
}

}  // namespace

TranscodedFolder::TranscodedFolder(const std::string& configured, ZR::CLogger* log) {
  std::string base = configured.empty() ? ZR::CAppUtil::getExeFolder() + "transcoded" : platform::hostPath(configured);
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (!writable(base)) {
    std::string fallback = userCacheFolder();
    if (log) log->warning("%s", ("cannot write to " + base + "; prepared copies go to " + fallback).c_str());
    base = fallback;
    if (!writable(base)) {
      if (log) {
        log->error("%s", ("cannot write to " + base + " either: no prepared copies in this run, files are sent unchanged")
                             .c_str());
      }
      return;
    }
  }
  removeAbandonedRuns(base);
  std::string run = platform::joinPath(
      base, "run-" + std::to_string(platform::processId()) + "-" + std::to_string(platform::tickCountMs()));
  if (!lock_.tryLock(run + ".lock") || !platform::env()->createDirectories(run)) {
    if (log) log->error("%s", ("cannot create " + run + ": no prepared copies in this run, files are sent unchanged").c_str());
    return;
  }
  path_ = run + "/";
}

TranscodedFolder::~TranscodedFolder() {
  if (path_.empty()) return;
  std::string run = path_.substr(0, path_.size() - 1);
  // Copies still waiting belong to this run only; they are not needed after it.
  platform::env()->removeTree(run);
  lock_.release();
  platform::env()->removeFile(run + ".lock");
}

}  // namespace velkan
