// The local index of the files held in the remote cache, kept in an SQLite
// database (WAL journal). Both programs may use it at the same time: a
// write waits for the other program's write instead of failing, and every
// operation is one transaction, so a crash leaves the index as it was
// before the call.
//
// Paths are kept once each in their normal form (entry_path.h): every
// operation takes a path in any spelling, so C:/a.txt finds c:\a.txt.
// Operations return 0 (kCabinetOk) on success and a non-zero code on
// failure; a failure is also logged and kept in lastError(). Safe from
// several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bindings/cabinet/file_entry.h"
#include "platform/env.h"

namespace ZR {

enum CCabinetResult { kCabinetOk = 0, kCabinetOpenFailed = 1, kCabinetWriteFailed = 2, kCabinetBusy = 3 };

class CLogger;

class CFileIndex {
 public:
  // An index at `hostPath`; empty: the configured one (CConfigManager),
  // else cabinet.db in the current folder. Opened on first use; its files
  // are read and written through `env`.
  explicit CFileIndex(platform::Env& env, std::string hostPath = "");
  ~CFileIndex();
  CFileIndex(const CFileIndex&) = delete;
  CFileIndex& operator=(const CFileIndex&) = delete;

  // The index of the process, which CCabinet's operations use, through the
  // process's Env of the moment (platform::env()). Never deleted.
  static CFileIndex& processIndex();

  // Replaces the whole index by the given entries, atomically: one row per
  // path, the cached entry (state 1) of a path winning over a pending one.
  // `rowsKept` (may be null) receives the number of rows.
  int refresh(const std::set<CFileEntry>& entries, size_t* rowsKept = nullptr);
  int refresh(const std::vector<CFileEntry>& entries, size_t* rowsKept = nullptr);
  // Replaces the rows of the given folders (each with all below it) by the
  // given entries, atomically; every other row stays.
  int refreshBelow(const std::vector<std::string>& folders, const std::vector<CFileEntry>& entries,
                   size_t* rowsKept = nullptr);
  // Records an uploaded file as held, with the size and modification time
  // (seconds) the file has now, or those of the version that was sent.
  int addFileItem(const std::string& path);
  int addFileItem(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds);
  // Forgets a path and everything below it (a deleted folder); not an
  // error when nothing was indexed.
  int removeFileItem(const std::string& path);

  // Reading. False on failure.
  bool lookup(const std::string& path, CFileEntry& entry);
  bool count(int64_t& total);
  // True when the index holds exactly this version (state 1, same size and
  // modification time in seconds).
  bool holdsVersion(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds);

  // The file in use; another one from now on (empty: the configured one).
  std::string indexPath();
  void setIndexPath(const std::string& hostPath);
  // How long a write waits for another program's write (default 60 s).
  void setBusyTimeoutMs(int ms);
  // Where failures are logged (default: the process's log).
  void setLogger(CLogger* log);
  // With an interval above 0, additions and removals are gathered in one
  // transaction that is committed once it is that old, at flush() and when
  // the index is let go: a run of many files pays one commit per interval,
  // and a crash loses at most the records of the last interval (their
  // files are then simply sent again). 0 (the default): one transaction
  // per operation.
  void setBatchInterval(int ms);
  // Commits the gathered records now. 0 or a non-zero code.
  int flush();
  std::string lastError();

 private:
  struct State;
  template <typename Body>
  int writeTransaction(const char* operation, Body body);
  template <typename Body>
  int batchedWrite(const char* operation, Body body);
  template <typename Entries>
  int refreshWith(const Entries& entries, const std::vector<std::string>* folders, size_t* rowsKept);
  int addVersion(const std::string& path, const std::string& size, const std::string& modified);
  bool batching() const;

  std::unique_ptr<State> state_;
};

}  // namespace ZR
