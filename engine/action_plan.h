// Decides what the cache client is to delete and create: the set algebra
// between the current listing and the cache listing.
//
// Sets are defined by comparing every entry of one set with every entry of
// another; this computes the same sets in O(n log n) with merges over the
// ordered sets and prefix searches for "covers".
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/cabinet/file_entry.h"
#include "engine/snapshot.h"

namespace dornik {

// One entry of the plan. Most are entries of the loaded sets; an entry of
// mergedFiles is the pair of a current file (path, origin size, date) and
// a cached file (cache size), with state "1".
struct PlanEntry {
  const ZR::CFileEntry* entry = nullptr;
  const ZR::CFileEntry* cachedPartner = nullptr;  // set for merged entries

  std::string_view path() const { return entry->path(); }
  std::string_view originSize() const { return entry->originSize(); }
  std::string_view dateModified() const { return entry->dateModified(); }
  std::string_view state() const;
  std::string_view cacheSize() const { return cachedPartner ? cachedPartner->cacheSize() : entry->cacheSize(); }
  // The entry as a value (tests, small lists).
  ZR::CFileEntry toEntry() const;
};

// The groups of the two lists, each in its final order.
struct ActionPlan {
  std::vector<PlanEntry> deletedDirs;
  std::vector<PlanEntry> deletedFiles;
  std::vector<PlanEntry> staleFiles;
  bool hasCreate = false;  // allInclude
  std::vector<PlanEntry> createFiles;
  std::vector<PlanEntry> changedFiles;
  std::vector<PlanEntry> addedDirs;
  std::vector<PlanEntry> unchangedFiles;
};

// Called once per merged entry while mergedFiles is built; a test uses it
// to raise faults in the middle of that step.
using MergeObserver = std::function<void(size_t mergedSoFar)>;

enum class MergeOutcome { Complete, StoppedByException };

struct PlanResult {
  ActionPlan plan;
  MergeOutcome merge = MergeOutcome::Complete;
};

// Computes the plan from the four loaded sets. A ZR::CException raised while
// merging leaves this function; any other exception there stops the merge
// and the plan goes on with the entries merged so far (merge outcome tells).
// The plan points into `sets`, which must outlive it.
PlanResult computeActionPlan(const SnapshotSets& sets, bool allInclude, const MergeObserver& observer = nullptr);

// Writes the plan as an action set: the delete action and, when the plan
// has one, the create action. False with `error` when it cannot be written
// whole (the old file stays).
bool writeActionPlan(platform::Env& env, const std::string& path, const ActionPlan& plan, std::string& error);

}  // namespace dornik
