#include "engine/snapshot.h"

#include <thread>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "engine/exit_codes.h"

namespace dornik {

namespace {

enum class CachePresence { Present, Missing, Empty };

// Whether the cache content snapshot is worth reading. One that cannot be
// opened (a folder, say) is read all the same, so that the reading fails
// and says why.
CachePresence cachePresence(platform::Env& env, const std::string& path) {
  if (!ZR::CFileUtils::fileExists(env, path)) return CachePresence::Missing;
  ZR::CFile file(env, path, "r");
  return file.isValid() && file.size() == 0 ? CachePresence::Empty : CachePresence::Present;
}

// The cache content snapshot, read on a thread of its own while the
// directory content snapshot is read on the caller's: the machine has two
// cores, and neither reading depends on the other. Messages are the
// caller's, in the order of the loading sequence.
class CacheReading {
 public:
  CacheReading(platform::Env& env, const std::string& path, SnapshotSets& sets) : presence_(cachePresence(env, path)) {
    if (presence_ == CachePresence::Present) {
      thread_ = std::thread(
          [&, path] { result_ = readSnapshot(env, path, kCacheContentKind, sets.cacheDirs, sets.cacheFiles); });
    }
  }
  ~CacheReading() { finish(); }
  CacheReading(const CacheReading&) = delete;
  CacheReading& operator=(const CacheReading&) = delete;

  CachePresence presence() const { return presence_; }
  const SnapshotReadResult& result() {
    finish();
    return result_;
  }

 private:
  void finish() {
    if (thread_.joinable()) thread_.join();
  }

  CachePresence presence_;
  SnapshotReadResult result_;
  std::thread thread_;
};

}  // namespace

int loadSnapshots(platform::Env& env, const Settings& settings, ZR::CLogger& log, SnapshotSets& sets) {
  CacheReading cacheReading(env, settings.cachecontent, sets);
  SnapshotReadResult dir = readSnapshot(env, settings.dircontent, kDirContentKind, sets.currentDirs, sets.currentFiles);
  if (!dir.parsed) {
    log.error("Error Parsing Directory Content XML at %s :%s", settings.dircontent.c_str(), dir.error.c_str());
    return kExitDirContentUnparsable;
  }
  if (dir.validation != 0) {
    log.error("Error in DirContent.xml :%d \n", dir.validation);
    return dir.validation;
  }
  log.info("directory content %s: %zu directories, %zu files", settings.dircontent.c_str(), sets.currentDirs.size(),
           sets.currentFiles.size());

  if (cacheReading.presence() != CachePresence::Present) {
    bool missing = cacheReading.presence() == CachePresence::Missing;
    log.info(missing ? "cachecontent file doesn't exist." : "cachecontent size is zero");
    sets.cacheUsable = false;
    sets.cacheUnusableReason = missing ? "it does not exist" : "it is empty";
    return kExitOk;
  }
  const SnapshotReadResult& cache = cacheReading.result();
  if (!cache.parsed) {
    if (cache.syntaxError) {
      log.info("Error Parsing Cache Content XML at %s :%s", settings.cachecontent.c_str(), cache.error.c_str());
      sets.cacheUsable = false;
      sets.cacheUnusableReason = "it is not well-formed (" + cache.error + ")";
      return kExitOk;
    }
    // Not a broken document but one we could not read or refused: going on
    // as if nothing were cached would upload everything again.
    log.error("cannot read cache content %s: %s", settings.cachecontent.c_str(), cache.error.c_str());
    return kExitCacheContentUnreadable;
  }
  if (cache.validation != 0) {
    log.info("Error in CacheContent.xml :%d \n", cache.validation);
    return cache.validation;
  }
  log.info("cache content %s: %zu directories, %zu files", settings.cachecontent.c_str(), sets.cacheDirs.size(),
           sets.cacheFiles.size());
  return kExitOk;
}

}  // namespace dornik
