// The local index of the files held in the remote cache, kept in an SQLite
// database (WAL journal) whose path the configuration file names. Both
// programs may use it at the same time: a write waits for the other
// program's write instead of failing, and every operation is one
// transaction, so a crash leaves the index as it was before the call.
//
// Operations return 0 on success and a non-zero code on failure; a failure
// is also logged and kept in lastError(). Safe from several threads.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bindings/cabinet/file_entry.h"

namespace ZR {

enum CCabinetResult { kCabinetOk = 0, kCabinetOpenFailed = 1, kCabinetWriteFailed = 2, kCabinetBusy = 3 };

class CCabinet {
 public:
  // Replaces the whole index by the given entries, atomically: one row per
  // path (in its normal form, entry_path.h), the cached entry of a path
  // winning over a pending one. `rowsKept` receives the number of rows.
  static int refresh(const std::set<CFileEntry>& entries, size_t* rowsKept = nullptr);
  // The same for entries kept in a sorted vector.
  static int refresh(const std::vector<CFileEntry>& entries, size_t* rowsKept = nullptr);
  // Records an uploaded file as held by the cache, with the size and the
  // modification time (seconds) it had.
  static int addFileItem(const std::string& path);
  // The same with the size and modification time of the version that was
  // sent (the file may have changed since).
  static int addFileItem(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds);
  // Forgets a path and everything below it (a deleted folder); not an
  // error when it was not indexed. Every operation takes a path in any
  // form (C:/a.txt finds c:\a.txt).
  static int removeFileItem(const std::string& path);

  // The index file in use: the one set here, else the configured one, else
  // cabinet.db in the current folder.
  static std::string indexPath();
  // Uses another index file from now on (empty: back to the configured one).
  static void setIndexPath(const std::string& hostPath);
  // How long a write waits for another program's write (default 60 s).
  static void setBusyTimeoutMs(int ms);

  // Reading, for tests and tools. False on failure.
  static bool lookup(const std::string& path, CFileEntry& entry);
  static bool count(int64_t& total);
  // True when the index says the cache holds exactly this version of the
  // file (state 1, same size, same modification time in seconds).
  static bool holdsVersion(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds);
  static const std::string& lastError();
};

}  // namespace ZR
