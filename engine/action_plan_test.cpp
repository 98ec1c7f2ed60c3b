// The fast plan against a direct transcription of the set definitions.
#include "engine/action_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "bindings/zrcore/exception.h"
#include "bindings/zrcore/string_utils.h"
#include "tests/action_plan_reference.h"

namespace {

using dornik::ActionPlan;
using dornik::EntrySet;
using dornik::PlanEntry;
using dornik::SnapshotSets;
using ZR::CFileEntry;
using Set = std::set<CFileEntry>;
using testsupport::Reference;
using testsupport::reference;

std::vector<CFileEntry> inSetOrder(const Set& s) { return {s.begin(), s.end()}; }

std::vector<CFileEntry> newestFirst(const Set& s) {
  std::vector<CFileEntry> out(s.begin(), s.end());
  std::stable_sort(out.begin(), out.end(), [](const CFileEntry& a, const CFileEntry& b) {
    return ZR::CNumberText::toDouble(a.getDateModified()) > ZR::CNumberText::toDouble(b.getDateModified());
  });
  return out;
}

std::vector<CFileEntry> values(const std::vector<PlanEntry>& list) {
  std::vector<CFileEntry> out;
  for (const PlanEntry& e : list) out.push_back(e.toEntry());
  return out;
}

std::string describe(const std::vector<CFileEntry>& list) {
  std::string out;
  for (const auto& e : list) {
    out += "[" + e.getPath() + "|" + e.getOriginSize() + "|" + e.getDateModified() + "|" + e.getState() + "|" +
           e.getCacheSize() + "] ";
  }
  return out;
}

// ---- Random snapshot pairs: short paths over few characters, so prefixes,
// equal paths with other data, and directories covering files abound.

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  SnapshotSets next() {
    SnapshotSets s;
    int n = pick(0, 9);
    for (int i = 0; i < n; ++i) s.currentDirs.push_back(directory());
    n = pick(0, 12);
    for (int i = 0; i < n; ++i) s.currentFiles.push_back(currentFile());
    n = pick(0, 9);
    for (int i = 0; i < n; ++i) s.cacheDirs.push_back(directory());
    n = pick(0, 12);
    for (int i = 0; i < n; ++i) s.cacheFiles.push_back(cacheFile(s.currentFiles));
    for (EntrySet* set : {&s.currentDirs, &s.currentFiles, &s.cacheDirs, &s.cacheFiles}) dornik::makeOrderedSet(*set);
    return s;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  template <size_t N>
  std::string oneOf(const char* const (&options)[N]) {
    return options[pick(0, static_cast<int>(N) - 1)];
  }
  std::string path() {
    static const char* const kParts[] = {"a", "b", "ab", "\\", "a\\", "b\\x"};
    std::string p = "c:";
    int parts = pick(0, 3);
    for (int i = 0; i < parts; ++i) p += oneOf(kParts);
    return p;
  }
  CFileEntry directory() {
    CFileEntry d;
    d.setPath(path());
    return d;
  }
  CFileEntry currentFile() {
    static const char* const kSizes[] = {"", "1", "10", "2"};
    static const char* const kDates[] = {"", "5", "10", "1e1", "abc", "7.5", "-3"};
    CFileEntry f;
    f.setPath(path());
    f.setOriginSize(oneOf(kSizes));
    f.setDateModified(oneOf(kDates));
    f.setState("2");
    return f;
  }
  // Half of the cache files copy a current file's data, so matches happen.
  CFileEntry cacheFile(const EntrySet& current) {
    static const char* const kStates[] = {"none", "1", "2", "12", "0"};
    static const char* const kCacheSizes[] = {"", "4096", "1"};
    CFileEntry c = (!current.empty() && pick(0, 1)) ? current[static_cast<size_t>(pick(0, static_cast<int>(current.size()) - 1))]
                                                    : currentFile();
    c.setState("");
    c.cached = false;
    std::string state = oneOf(kStates);
    if (state != "none") {
      bool pending = state.find('2') != std::string::npos;
      c.setState(pending ? "2" : "1");
      c.cached = !pending;
      if (!pending) c.setCacheSize(oneOf(kCacheSizes));
    }
    return c;
  }
  std::mt19937 rng_;
};

void expectSameAsReference(const SnapshotSets& sets, bool allInclude, int round) {
  Reference r = reference(sets, allInclude);
  ActionPlan plan = dornik::computeActionPlan(sets, allInclude).plan;
  struct Group {
    const char* name;
    std::vector<CFileEntry> fast;
    std::vector<CFileEntry> expected;
  } groups[] = {
      {"deletedDirs", values(plan.deletedDirs), inSetOrder(r.deletedDirs)},
      {"deletedFiles", values(plan.deletedFiles), inSetOrder(r.deletedFiles)},
      {"staleFiles", values(plan.staleFiles), inSetOrder(r.staleFiles)},
      {"createFiles", values(plan.createFiles), newestFirst(r.createFiles)},
      {"changedFiles", values(plan.changedFiles), allInclude ? newestFirst(r.changedFiles) : std::vector<CFileEntry>{}},
      {"addedDirs", values(plan.addedDirs), newestFirst(r.addedDirs)},
      {"unchangedFiles", values(plan.unchangedFiles), newestFirst(r.unchangedFiles)},
  };
  for (const Group& g : groups) {
    ASSERT_EQ(g.fast, g.expected) << "round " << round << " group " << g.name << "\nfast:     " << describe(g.fast)
                                  << "\nexpected: " << describe(g.expected);
  }
  EXPECT_EQ(plan.hasCreate, allInclude);
}

TEST(ActionPlan, SameSetsAsTheDefinitionsOnThousandsOfRandomPairs) {
  Generator generator(20261207);
  for (int round = 0; round < 5000; ++round) {
    SnapshotSets sets = generator.next();
    expectSameAsReference(sets, round % 4 != 0, round);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(ActionPlan, CreateGroupsAreNewestFirst) {
  SnapshotSets sets;
  for (const char* date : {"5", "", "1733600000", "abc", "17.5", "1e3"}) {
    CFileEntry f;
    f.setPath(std::string("c:\\f") + date);
    f.setDateModified(date);
    f.setState("2");
    sets.currentFiles.push_back(f);
  }
  dornik::makeOrderedSet(sets.currentFiles);
  ActionPlan plan = dornik::computeActionPlan(sets, true).plan;
  std::vector<std::string> dates;
  for (const PlanEntry& e : plan.createFiles) dates.emplace_back(e.dateModified());
  EXPECT_EQ(dates, (std::vector<std::string>{"1733600000", "1e3", "17.5", "5", "", "abc"}));
}

SnapshotSets mergeScenario() {
  SnapshotSets sets;
  for (int i = 0; i < 5; ++i) {
    CFileEntry f;
    f.setPath("c:\\f" + std::to_string(i));
    f.setState("2");
    sets.currentFiles.push_back(f);
    CFileEntry c = f;
    c.setState("1");
    c.cached = true;
    sets.cacheFiles.push_back(c);
  }
  return sets;
}

TEST(ActionPlan, MergeFaultsStopOrPropagateByKind) {
  SnapshotSets sets = mergeScenario();
  auto failAtThird = [](size_t merged) {
    if (merged == 3) throw std::runtime_error("out of something");
  };
  dornik::PlanResult partial = dornik::computeActionPlan(sets, true, failAtThird);
  EXPECT_EQ(partial.merge, dornik::MergeOutcome::StoppedByException);
  // Three entries merged: the other two cached files count as stale.
  EXPECT_EQ(partial.plan.unchangedFiles.size(), 3u);
  EXPECT_EQ(partial.plan.staleFiles.size(), 2u);

  auto zrFault = [](size_t) { throw ZR::CException("index corrupt"); };
  EXPECT_THROW(dornik::computeActionPlan(sets, true, zrFault), ZR::CException);
}

TEST(ActionPlan, PlainPrefixAndPendingCases) {
  auto make = [](const std::string& path, const std::string& state, bool cached) {
    CFileEntry e;
    e.setPath(path);
    e.setState(state);
    e.cached = cached;
    return e;
  };
  SnapshotSets sets;
  sets.cacheDirs = {make("c:\\a", "", false), make("c:\\old", "", false)};
  sets.currentDirs = {make("c:\\ab", "", false)};
  sets.cacheFiles = {make("c:\\old\\p.txt", "2", false), make("c:\\same.txt", "2", false),
                     make("c:\\x\\gone.txt", "2", false)};
  sets.currentFiles = {make("c:\\same.txt", "2", false)};
  for (EntrySet* s : {&sets.cacheDirs, &sets.currentDirs, &sets.cacheFiles, &sets.currentFiles}) {
    dornik::makeOrderedSet(*s);
  }
  ActionPlan plan = dornik::computeActionPlan(sets, true).plan;
  ASSERT_EQ(plan.deletedDirs.size(), 1u);
  EXPECT_EQ(plan.deletedDirs[0].path(), "c:\\old");  // c:\a still covers c:\ab
  ASSERT_EQ(plan.deletedFiles.size(), 1u);
  EXPECT_EQ(plan.deletedFiles[0].path(), "c:\\x\\gone.txt");  // c:\old\p.txt goes with its folder
  EXPECT_TRUE(plan.createFiles.empty());  // the pending file is neither deleted nor created again
}

}  // namespace
