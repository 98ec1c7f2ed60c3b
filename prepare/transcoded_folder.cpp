#include "prepare/transcoded_folder.h"

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"

namespace velkan {
namespace {

std::string userCacheFolder() {
  std::string cache = platform::environmentVariable("XDG_CACHE_HOME");
  if (cache.empty()) cache = platform::environmentVariable("HOME") + "/.cache";
  return cache + "/velkan/transcoded";
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Removes the run folders (and their locks) that no running process holds.
void removeAbandonedRuns(platform::Env* env, const std::string& base) {
  std::vector<std::string> names;
  if (!env->listDirectory(base, &names)) return;
  for (const std::string& name : names) {
    if (name.rfind("run-", 0) != 0) continue;
    std::string path = platform::joinPath(base, name);
    bool lockFile = endsWith(name, ".lock");
    std::string folder = lockFile ? path.substr(0, path.size() - 5) : path;
    if (lockFile && env->fileExists(folder)) continue;  // dealt with under the folder's name
    platform::FileLock probe;
    if (!probe.tryLock(folder + ".lock")) continue;  // its run is still going
    env->removeTree(folder);
    probe.release();
    env->removeFile(folder + ".lock");
  }
}

}  // namespace

bool TranscodedFolder::claim(const std::string& base, std::string& why) {
  platform::Env* env = &env_;
  if (!env->createDirectories(base)) {
    why = "cannot create the folder";
    return false;
  }
  removeAbandonedRuns(env, base);
  std::string run = platform::joinPath(
      base, "run-" + std::to_string(platform::processId()) + "-" + std::to_string(platform::tickCountMs()));
  if (!lock_.tryLock(run + ".lock")) {
    why = "cannot create " + run + ".lock";
    return false;
  }
  if (!env->createDirectories(run)) {
    lock_.release();
    env->removeFile(run + ".lock");
    why = "cannot create " + run;
    return false;
  }
  path_ = run + "/";
  return true;
}

TranscodedFolder::TranscodedFolder(platform::Env& env, const std::string& configured, ZR::CLogger* log)
    : env_(env), log_(log) {
  std::string base = configured.empty() ? ZR::CAppUtil::getExeFolder() + "transcoded" : platform::hostPath(configured);
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string why;
  if (claim(base, why)) return;
  std::string fallback = userCacheFolder();
  if (log_) log_->warning("%s", ("cannot use " + base + " (" + why + "); prepared copies go to " + fallback).c_str());
  if (claim(fallback, why)) return;
  if (log_) {
    log_->error("%s", ("cannot use " + fallback + " either (" + why +
                       "): no prepared copies in this run, files are sent unchanged")
                          .c_str());
  }
}

TranscodedFolder::~TranscodedFolder() {
  if (path_.empty()) return;
  std::string run = path_.substr(0, path_.size() - 1);
  // Copies still waiting belong to this run only; they are not needed after it.
  std::string left;
  if (!env_.removeTree(run)) left = run;
  lock_.release();
  if (!env_.removeFile(run + ".lock")) left += (left.empty() ? "" : " and ") + run + ".lock";
  if (!left.empty() && log_) log_->warning("%s", ("cannot remove " + left + "; the next run removes it").c_str());
}

}  // namespace velkan
