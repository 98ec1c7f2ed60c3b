#include "engine/action_plan.h"

#include <algorithm>
#include <string_view>
#include <tuple>

#include "bindings/zrcore/exception.h"
#include "bindings/zrcore/string_utils.h"
#include "engine/prefix_search.h"

namespace dornik {

std::string_view PlanEntry::state() const { return cachedPartner ? std::string_view("1") : entry->state(); }

ZR::CFileEntry PlanEntry::toEntry() const {
  ZR::CFileEntry out;
  out.setPath(path());
  out.setOriginSize(originSize());
  out.setDateModified(dateModified());
  out.setState(state());
  out.setCacheSize(cacheSize());
  out.cached = cachedPartner ? false : entry->cached;
  return out;
}

namespace {

using List = std::vector<PlanEntry>;

// The five texts in the order of CFileEntry::operator<.
using Key = std::tuple<std::string_view, std::string_view, std::string_view, std::string_view, std::string_view>;

Key keyOf(const PlanEntry& e) { return Key(e.path(), e.originSize(), e.dateModified(), e.state(), e.cacheSize()); }

List allOf(const EntrySet& set) {
  List out;
  out.reserve(set.size());
  for (const auto& entry : set) out.push_back(PlanEntry{&entry});
  return out;
}

// a minus b, or a intersected with b; both ordered sets under keyOf.
List combine(const List& a, const List& b, bool keepCommon) {
  List out;
  size_t j = 0;
  for (const PlanEntry& item : a) {
    Key key = keyOf(item);
    while (j < b.size() && keyOf(b[j]) < key) ++j;
    bool inB = j < b.size() && keyOf(b[j]) == key;
    if (inB == keepCommon) out.push_back(item);
  }
  return out;
}

List minus(const List& a, const List& b) { return combine(a, b, false); }
List common(const List& a, const List& b) { return combine(a, b, true); }

// Splits the current files into those whose path a cached file has
// (matchedFiles) and the others (newFiles). Both inputs are ordered by path
// first, so one pass over each suffices.
void splitByCachedPath(const List& current, const List& cached, List& matched, List& fresh) {
  size_t j = 0;
  for (const PlanEntry& f : current) {
    while (j < cached.size() && cached[j].path() < f.path()) ++j;
    bool hasPath = j < cached.size() && cached[j].path() == f.path();
    (hasPath ? matched : fresh).push_back(f);
  }
}

// mergedFiles: for each pair of a matched and a cached file with equal
// paths one entry, as an ordered set. Pairs only meet within a path, so the
// work is the sum over paths of the product of the two group sizes.
void mergeByPath(const List& matched, const List& cached, List& merged, const MergeObserver& observer) {
  size_t j = 0;
  List group;
  for (size_t i = 0; i < matched.size();) {
    std::string_view path = matched[i].path();
    size_t groupEnd = i;
    while (groupEnd < matched.size() && matched[groupEnd].path() == path) ++groupEnd;
    while (j < cached.size() && cached[j].path() < path) ++j;
    group.clear();
    for (size_t c = j; c < cached.size() && cached[c].path() == path; ++c) {
      for (size_t f = i; f < groupEnd; ++f) group.push_back(PlanEntry{matched[f].entry, cached[c].entry});
    }
    std::sort(group.begin(), group.end(), [](const PlanEntry& x, const PlanEntry& y) { return keyOf(x) < keyOf(y); });
    for (const PlanEntry& pair : group) {
      if (!merged.empty() && keyOf(merged.back()) == keyOf(pair)) continue;
      merged.push_back(pair);
      if (observer) observer(merged.size());
    }
    i = groupEnd;
  }
}

std::vector<std::string_view> pathsOf(const List& a, const List& b) {
  std::vector<std::string_view> out;
  out.reserve(a.size() + b.size());
  for (const PlanEntry& e : a) out.push_back(e.path());
  for (const PlanEntry& e : b) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// deletedDirs: removed directories under which no current directory and no
// new file lies.
List directoriesToDelete(const List& removedDirs, const List& currentDirs, const List& newFiles) {
  std::vector<std::string_view> below = pathsOf(currentDirs, newFiles);
  SortedTexts search(below);
  List out;
  for (const PlanEntry& d : removedDirs) {
    if (!search.anyCoveredBy(d.path())) out.push_back(d);
  }
  return out;
}

// deletedFiles: orphans that no deleted directory takes with it.
List filesToDelete(const List& orphanFiles, const List& deletedDirs) {
  std::vector<std::string_view> prefixes;
  prefixes.reserve(deletedDirs.size());
  for (const PlanEntry& d : deletedDirs) prefixes.push_back(d.path());
  CoveringPrefixes search(std::move(prefixes));
  List out;
  for (const PlanEntry& f : orphanFiles) {
    if (!search.coverAny(f.path())) out.push_back(f);
  }
  return out;
}

// Newest first by the numeric value of the date text; ties keep set order.
void sortNewestFirst(List& list) {
  std::vector<std::pair<double, size_t>> keys;
  keys.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) keys.emplace_back(ZR::CNumberText::toDouble(std::string(list[i].dateModified())), i);
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  List sorted;
  sorted.reserve(list.size());
  for (const auto& key : keys) sorted.push_back(list[key.second]);
  list.swap(sorted);
}

}  // namespace

PlanResult computeActionPlan(const SnapshotSets& sets, bool allInclude, const MergeObserver& observer) {
  PlanResult result;
  ActionPlan& plan = result.plan;
  List currentFiles = allOf(sets.currentFiles);
  List currentDirs = allOf(sets.currentDirs);
  List cacheDirs = allOf(sets.cacheDirs);

  List cachedFiles, pendingFiles;
  for (const auto& entry : sets.cacheFiles) (entry.cached ? cachedFiles : pendingFiles).push_back(PlanEntry{&entry});

  List matchedFiles, newFiles;
  splitByCachedPath(currentFiles, cachedFiles, matchedFiles, newFiles);

  List mergedFiles;
  try {
    mergeByPath(matchedFiles, cachedFiles, mergedFiles, observer);
  } catch (const ZR::CException&) {
    throw;
  } catch (...) {
    result.merge = MergeOutcome::StoppedByException;
  }

  plan.staleFiles = minus(cachedFiles, mergedFiles);
  plan.changedFiles = minus(mergedFiles, cachedFiles);

  List removedDirs = minus(cacheDirs, currentDirs);
  plan.deletedDirs = directoriesToDelete(removedDirs, currentDirs, newFiles);
  List orphanFiles = minus(pendingFiles, newFiles);
  plan.deletedFiles = filesToDelete(orphanFiles, plan.deletedDirs);

  plan.hasCreate = allInclude;
  if (!allInclude) {
    plan.changedFiles.clear();
    return result;
  }
  plan.createFiles = minus(newFiles, pendingFiles);
  plan.addedDirs = minus(currentDirs, cacheDirs);
  plan.unchangedFiles = common(mergedFiles, cachedFiles);
  sortNewestFirst(plan.createFiles);
  sortNewestFirst(plan.changedFiles);
  sortNewestFirst(plan.addedDirs);
  sortNewestFirst(plan.unchangedFiles);
  return result;
}

}  // namespace dornik
