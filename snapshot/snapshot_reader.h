// Reading the directory content and cache content snapshots: validation,
// path normalisation and conversion into ordered sets of file entries.
//
// A snapshot is read as a stream, so a listing of a million files is never
// held as a tree; validation results are the same as on a whole document:
// a syntax error anywhere wins over a validation failure, and of several
// validation failures the first in document order counts.
#pragma once

#include <string>
#include <vector>

#include "bindings/cabinet/entry_path.h"
#include "bindings/cabinet/file_entry.h"
#include "platform/env.h"

namespace dornik {

// An ordered set: sorted by CFileEntry::operator<, no two entries equal.
using EntrySet = std::vector<ZR::CFileEntry>;

// Sorts and drops every entry equal to one before it.
void makeOrderedSet(EntrySet& entries);

// Root name and validation results of one snapshot kind.
struct SnapshotKind {
  const char* root;
  int badRoot;
  int badChild;
  int missingPath;
  int emptyPath;
  bool isDirContent;
};
extern const SnapshotKind kDirContentKind;
extern const SnapshotKind kCacheContentKind;

using ZR::normaliseDirectoryPath;
using ZR::normaliseFilePath;

struct SnapshotReadResult {
  bool parsed = false;  // false: `error` holds the reader's error text
  bool syntaxError = false;  // not parsed because it is not well-formed XML
  std::string error;
  int validation = 0;   // 0 or the first validation failure
};

// Reads one snapshot into `dirs` and `files` (ordered sets). They are left
// empty unless the document parsed and validated.
SnapshotReadResult readSnapshot(platform::Env& env, const std::string& path, const SnapshotKind& kind, EntrySet& dirs,
                                EntrySet& files);

}  // namespace dornik
