// The set computation alone, in process: the fast method against the direct
// transcription of the definitions, on the same generated snapshots.
#include <benchmark/benchmark.h>

#include <set>

#include "bindings/cabinet/cabinet.h"
#include "engine/action_plan.h"
#include "engine/snapshot.h"
#include "platform/env.h"
#include "platform/process.h"
#include "tests/action_plan_reference.h"

namespace {

// Loads the snapshots the generator writes for n files (cached per n).
const dornik::SnapshotSets& snapshotsOf(long n) {
  static std::map<long, dornik::SnapshotSets> cache;
  auto found = cache.find(n);
  if (found != cache.end()) return found->second;
  std::string dir = "/tmp/zr-bench-plan-" + std::to_string(n);
  platform::Env::defaultEnv()->createDirectories(dir);
  platform::ProcessResult result;
  platform::runProcess({GENERATOR_PATH, "snapshots", std::to_string(n), dir}, {}, "", &result);
  dornik::SnapshotSets& sets = cache[n];
  dornik::readSnapshot(*platform::Env::defaultEnv(), dir + "/dir.xml", dornik::kDirContentKind, sets.currentDirs,
                       sets.currentFiles);
  dornik::readSnapshot(*platform::Env::defaultEnv(), dir + "/cache.xml", dornik::kCacheContentKind, sets.cacheDirs,
                       sets.cacheFiles);
  platform::Env::defaultEnv()->removeTree(dir);
  return sets;
}

void BM_FastPlan(benchmark::State& state) {
  const auto& sets = snapshotsOf(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(dornik::computeActionPlan(sets, true));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FastPlan)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DefinitionsAsWritten(benchmark::State& state) {
  const auto& sets = snapshotsOf(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(testsupport::reference(sets, true));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DefinitionsAsWritten)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CabinetRefresh(benchmark::State& state) {
  std::vector<ZR::CFileEntry> entries;
  for (long i = 0; i < state.range(0); ++i) {
    ZR::CFileEntry e;
    e.setPath("c:\\Users\\ann\\Documents\\area" + std::to_string(i / 5000) + "\\file" + std::to_string(i) + ".doc");
    e.setOriginSize(std::to_string(1000 + i));
    e.setDateModified(std::to_string(1700000000 + i));
    e.setState("1");
    e.setCacheSize(std::to_string(1000 + i));
    entries.push_back(e);
  }
  dornik::makeOrderedSet(entries);
  std::string dir = "/tmp/zr-bench-cabinet-" + std::to_string(platform::processId());
  platform::Env::defaultEnv()->createDirectories(dir);
  ZR::CCabinet::setIndexPath(dir + "/cabinet.db");
  ZR::CCabinet::refresh(entries);  // a full index to replace, as in real runs
  for (auto _ : state) {
    if (ZR::CCabinet::refresh(entries) != ZR::kCabinetOk) state.SkipWithError(ZR::CCabinet::lastError().c_str());
  }
  ZR::CCabinet::setIndexPath("");
  platform::Env::defaultEnv()->removeTree(dir);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CabinetRefresh)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
