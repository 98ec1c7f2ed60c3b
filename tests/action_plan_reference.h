// The action-set computation as its definitions read, one set after the
// other, comparing every entry with every other where they say so. Slow on
// purpose: the fast computation is checked and measured against it.
#pragma once

#include <set>

#include "bindings/cabinet/file_entry.h"
#include "engine/snapshot.h"

namespace testsupport {

using ZR::CFileEntry;
using Set = std::set<CFileEntry>;

inline Set minus(const Set& a, const Set& b) {
  Set out;
  for (const auto& x : a) {
    if (!b.count(x)) out.insert(x);
  }
  return out;
}

inline bool startsWith(const std::string& p, const std::string& d) { return p.compare(0, d.size(), d) == 0; }

struct Reference {
  Set staleFiles, changedFiles, deletedDirs, deletedFiles, createFiles, addedDirs, unchangedFiles;
};

inline Reference reference(const dornik::SnapshotSets& s, bool allInclude) {
  Set currentDirs(s.currentDirs.begin(), s.currentDirs.end());
  Set currentFiles(s.currentFiles.begin(), s.currentFiles.end());
  Set cacheDirs(s.cacheDirs.begin(), s.cacheDirs.end());
  Set cacheFiles(s.cacheFiles.begin(), s.cacheFiles.end());
  Set cachedFiles;
  for (const auto& c : cacheFiles) {
    if (c.cached) cachedFiles.insert(c);
  }
  Set pendingFiles = minus(cacheFiles, cachedFiles);
  Set matchedFiles;
  for (const auto& f : currentFiles) {
    for (const auto& c : cachedFiles) {
      if (f.getPath() == c.getPath()) matchedFiles.insert(f);
    }
  }
  Set newFiles = minus(currentFiles, matchedFiles);
  Set mergedFiles;
  for (const auto& f : matchedFiles) {
    for (const auto& c : cachedFiles) {
      if (f.getPath() != c.getPath()) continue;
      CFileEntry m;
      m.setCacheSize(c.getCacheSize());
      m.setState("1");
      m.setOriginSize(f.getOriginSize());
      m.setPath(f.getPath());
      m.setDateModified(f.getDateModified());
      mergedFiles.insert(m);
    }
  }
  Reference r;
  r.staleFiles = minus(cachedFiles, mergedFiles);
  r.changedFiles = minus(mergedFiles, cachedFiles);
  Set removedDirs = minus(cacheDirs, currentDirs);
  for (const auto& d : removedDirs) {
    bool covers = false;
    for (const auto& x : currentDirs) covers = covers || startsWith(x.getPath(), d.getPath());
    for (const auto& x : newFiles) covers = covers || startsWith(x.getPath(), d.getPath());
    if (!covers) r.deletedDirs.insert(d);
  }
  Set orphanFiles = minus(pendingFiles, newFiles);
  for (const auto& o : orphanFiles) {
    bool covered = false;
    for (const auto& d : r.deletedDirs) covered = covered || startsWith(o.getPath(), d.getPath());
    if (!covered) r.deletedFiles.insert(o);
  }
  if (allInclude) {
    r.createFiles = minus(newFiles, pendingFiles);
    r.addedDirs = minus(currentDirs, cacheDirs);
    r.unchangedFiles = minus(mergedFiles, r.changedFiles);
  }
  return r;
}

}  // namespace testsupport
