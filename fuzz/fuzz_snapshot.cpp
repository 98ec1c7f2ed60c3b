// Snapshot loading, the plan and the action set written from it. Input: a
// directory content snapshot, a NUL byte, then a cache content snapshot.
// Whatever two snapshots load, the action set written from their plan must
// read back whole.
#include "engine/action_plan.h"
#include "actionset/action_set_file.h"
#include "engine/snapshot.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [current, cache] = splitAt(asText(data, size), '\0');
  dornik::SnapshotSets sets;
  auto currentRead = dornik::readSnapshot(*platform::Env::defaultEnv(), writeInput("dircontent.xml", current),
                                          dornik::kDirContentKind, sets.currentDirs, sets.currentFiles);
  auto cacheRead = dornik::readSnapshot(*platform::Env::defaultEnv(), writeInput("cachecontent.xml", cache),
                                        dornik::kCacheContentKind, sets.cacheDirs, sets.cacheFiles);
  if (!currentRead.parsed || currentRead.validation != 0 || !cacheRead.parsed || cacheRead.validation != 0) return 0;
  for (bool allInclude : {false, true}) {
    dornik::PlanResult result = dornik::computeActionPlan(sets, allInclude);
    std::string path = scratchFolder() + "/actionset.xml", error;
    require(dornik::writeActionPlan(*platform::Env::defaultEnv(), path, result.plan, error),
            "an action plan cannot be written");
    dornik::ActionSetContent read = dornik::readActionSet(*platform::Env::defaultEnv(), path);
    require(read.loaded && read.error.empty(), "a written action set does not read back");
  }
  return 0;
}
