#include <cstdio>

#include "bindings/cabinet/cabinet.h"
#include "bindings/zrcore/exception.h"
#include "bindings/zrcore/log.h"
#include "engine/action_plan.h"
#include "actionset/action_set_file.h"
#include "engine/dornik.h"
#include "engine/exit_codes.h"
#include "engine/snapshot.h"

namespace dornik {
namespace {

void refreshFileIndex(const SnapshotSets& sets, const Settings& settings, ZR::CLogger& log) {
  if (!sets.cacheUsable) {
    // An unusable snapshot says nothing of what the cache holds: emptying
    // the index on its word would make every file look new.
    log.warning("file index %s kept as it is: the cache content snapshot %s is not usable (%s)",
                ZR::CCabinet::indexPath().c_str(), settings.cachecontent.c_str(), sets.cacheUnusableReason.c_str());
    return;
  }
  size_t rows = 0;
  if (ZR::CCabinet::refresh(sets.cacheFiles, &rows) == ZR::kCabinetOk) {
    log.info("file index %s refreshed: %zu paths from %zu cache entries", ZR::CCabinet::indexPath().c_str(), rows,
             sets.cacheFiles.size());
  } else {
    log.warning("file index %s not refreshed: %s", ZR::CCabinet::indexPath().c_str(),
                ZR::CCabinet::lastError().c_str());
  }
}

void logPlan(const ActionPlan& plan, ZR::CLogger& log) {
  log.info("delete: %zu directories, %zu files, %zu stale files", plan.deletedDirs.size(), plan.deletedFiles.size(),
           plan.staleFiles.size());
  if (plan.hasCreate) {
    log.info("create: %zu new files, %zu changed files, %zu directories, %zu unchanged files", plan.createFiles.size(),
             plan.changedFiles.size(), plan.addedDirs.size(), plan.unchangedFiles.size());
  } else {
    log.info("create: not written, an include switch is off");
  }
}

}  // namespace

int runActionSetMode(platform::Env& env, const Settings& settings, ZR::CLogger& log, const MergeObserver& observer) {
  SnapshotSets sets;
  if (int code = loadSnapshots(env, settings, log, sets); code != kExitOk) return code;
  if (isOn(settings.from_contentcleanup)) refreshFileIndex(sets, settings, log);

  PlanResult result;
  try {
    result = computeActionPlan(sets, settings.allInclude(), observer);
  } catch (const ZR::CException& e) {
    std::fprintf(stderr, "error: %s\n", e.getMessage().c_str());
    return kExitMergeFailed;
  }
  if (result.merge == MergeOutcome::StoppedByException) log.warning("Unable to process XML files missing data in input.");
  logPlan(result.plan, log);

  std::string error;
  if (!writeActionPlan(env, settings.actionset, result.plan, error)) {
    log.error("Error writing actionset.xml to path:%s\n ", settings.actionset.c_str());
    log.error("%s", error.c_str());
    return kExitWriteFailed;
  }
  log.info("action set written to %s", settings.actionset.c_str());
  return kExitOk;
}

}  // namespace dornik
