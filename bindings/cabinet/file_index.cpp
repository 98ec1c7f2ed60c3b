#include "bindings/cabinet/file_index.h"

#include <sqlite3.h>

#include <map>
#include <mutex>

#include "bindings/cabinet/entry_path.h"
#include "bindings/cabinet/env_vfs.h"
#include "bindings/cabinet/sqlite_statement.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"

namespace ZR {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS files ("
    " path TEXT PRIMARY KEY,"
    " origin_size TEXT NOT NULL DEFAULT '',"
    " cache_size TEXT NOT NULL DEFAULT '',"
    " date_modified TEXT NOT NULL DEFAULT '',"
    " state TEXT NOT NULL DEFAULT '',"
    " updated INTEGER NOT NULL DEFAULT 0"
    ") WITHOUT ROWID";

std::string sqliteError(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

bool execute(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// One row per path in its normal form; of the entries of one path the
// cached one (state 1) wins over a pending one.
template <typename Entries>
std::map<std::string, const CFileEntry*> rowsOf(const Entries& entries) {
  std::map<std::string, const CFileEntry*> rows;
  for (const CFileEntry& entry : entries) {
    auto [slot, added] = rows.try_emplace(normaliseFilePath(std::string(entry.path())), &entry);
    if (!added && !(slot->second->state() == "1" && entry.state() != "1")) slot->second = &entry;
  }
  return rows;
}

}  // namespace

struct CFileIndex::State {
  std::mutex mutex;
  sqlite3* db = nullptr;
  std::string openPath;
  std::string path;  // empty: the configured one
  platform::Env* env = nullptr;      // null: the process's Env of the moment
  platform::Env* openEnv = nullptr;  // the one the open database goes through
  int busyTimeoutMs = 60000;
  CLogger* log = nullptr;
  std::string lastError;
  int batchIntervalMs = 0;
  bool inBatch = false;
  uint64_t batchStartedMs = 0;
  size_t batchRecords = 0;
  // The per-file statements, prepared once per connection: preparing them
  // for every file cost more than running them.
  CSqliteStatementCache statements;

  ~State() { close(); }
  void close() {
    commitBatch();
    statements.clear();
    if (db) sqlite3_close(db);
    db = nullptr;
    openPath.clear();
    openEnv = nullptr;
  }
  platform::Env& currentEnv() const { return env ? *env : *platform::env(); }
  // Ends the open batch; the records are lost (and said) when it fails.
  int commitBatch() {
    if (!inBatch) return kCabinetOk;
    inBatch = false;
    if (execute(db, "COMMIT")) return kCabinetOk;
    std::string why = sqliteError(db);
    execute(db, "ROLLBACK");
    return fail(kCabinetWriteFailed, "file index " + openPath + ": " + std::to_string(batchRecords) +
                                         " records not stored: " + why + " (their files go again next run)");
  }
  std::string configuredPath() const {
    if (!path.empty()) return path;
    if (CConfigManager* config = CConfigManager::instance()) return config->cabinetPath();
    return "cabinet.db";
  }
  int fail(int code, const std::string& what) {
    lastError = what;
    (log ? *log : CLogManager::logger()).error("%s", what.c_str());
    return code;
  }
  // Opens (or reopens, when the path changed) the index. REQUIRES: mutex held.
  int open() {
    std::string wanted = configuredPath();
    platform::Env& through = currentEnv();
    if (db && openPath == wanted && openEnv == &through) return kCabinetOk;
    close();
    if (sqlite3_open_v2(wanted.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        envVfsName(through)) != SQLITE_OK) {
      std::string why = sqliteError(db);
      close();
      return fail(kCabinetOpenFailed, "cannot open file index " + wanted + ": " + why);
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (!execute(db, "PRAGMA journal_mode=WAL") || !execute(db, "PRAGMA synchronous=NORMAL") ||
        !execute(db, kSchema)) {
      std::string why = sqliteError(db);
      close();
      return fail(kCabinetOpenFailed, "cannot prepare file index " + wanted + ": " + why);
    }
    openPath = wanted;
    openEnv = &through;
    return kCabinetOk;
  }
};

CFileIndex::CFileIndex(platform::Env& env, std::string hostPath) : state_(std::make_unique<State>()) {
  state_->path = std::move(hostPath);
  state_->env = &env;
}

CFileIndex::~CFileIndex() = default;

CFileIndex& CFileIndex::processIndex() {
  static CFileIndex* index = [] {
    auto* made = new CFileIndex(*platform::env());  // used until exit
    made->state_->env = nullptr;                     // follows the process's Env
    return made;
  }();
  return *index;
}

// Runs `body` inside one write transaction; rolls back when it fails.
template <typename Body>
int CFileIndex::writeTransaction(const char* operation, Body body) {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (int rc = s.open()) return rc;
  s.commitBatch();
  int begin = sqlite3_exec(s.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (begin != SQLITE_OK) {
    int code = (begin == SQLITE_BUSY || begin == SQLITE_LOCKED) ? kCabinetBusy : kCabinetWriteFailed;
    return s.fail(code, std::string("file index ") + s.openPath + ": " + operation + " not recorded: " + sqliteError(s.db));
  }
  if (!body(s.db) || sqlite3_exec(s.db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string why = sqliteError(s.db);
    execute(s.db, "ROLLBACK");
    return s.fail(kCabinetWriteFailed, std::string("file index ") + s.openPath + ": " + operation + " not recorded: " + why);
  }
  s.lastError.clear();
  return kCabinetOk;
}

// An addition or removal inside the open batch (one is begun when none is
// open); the batch is committed once it is old enough.
template <typename Body>
int CFileIndex::batchedWrite(const char* operation, Body body) {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (int rc = s.open()) return rc;
  if (!s.inBatch) {
    int begin = sqlite3_exec(s.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (begin != SQLITE_OK) {
      int code = (begin == SQLITE_BUSY || begin == SQLITE_LOCKED) ? kCabinetBusy : kCabinetWriteFailed;
      return s.fail(code, std::string("file index ") + s.openPath + ": " + operation + " not recorded: " + sqliteError(s.db));
    }
    s.inBatch = true;
    s.batchStartedMs = platform::tickCountMs();
    s.batchRecords = 0;
  }
  if (!body(s.db)) {
    std::string why = sqliteError(s.db);
    // A failed statement may have ended the transaction: begin anew next time.
    if (sqlite3_get_autocommit(s.db)) s.inBatch = false;
    return s.fail(kCabinetWriteFailed, std::string("file index ") + s.openPath + ": " + operation + " not recorded: " + why);
  }
  ++s.batchRecords;
  if (platform::tickCountMs() - s.batchStartedMs >= static_cast<uint64_t>(s.batchIntervalMs)) return s.commitBatch();
  return kCabinetOk;
}

bool CFileIndex::batching() const { return state_->batchIntervalMs > 0; }

int CFileIndex::flush() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->commitBatch();
}

void CFileIndex::setBatchInterval(int ms) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->batchIntervalMs = ms;
  if (ms <= 0) state_->commitBatch();
}

namespace {

// Removes the rows of `folder` and of everything below it: those from
// "<folder>\" up to (not including) "<folder>]", ']' being the character
// after '\'.
bool removeRowsBelow(sqlite3* db, CSqliteStatementCache& statements, const std::string& folder) {
  std::string key = normaliseFilePath(folder);
  while (key.size() > 1 && key.back() == '\\') key.pop_back();
  CSqliteStatement remove(statements, db, "DELETE FROM files WHERE path = ?1 OR (path > ?2 AND path < ?3)");
  return remove.ok() && remove.bind(1, key).bind(2, key + "\\").bind(3, key + "]").done();
}

}  // namespace

template <typename Entries>
int CFileIndex::refreshWith(const Entries& entries, const std::vector<std::string>* folders, size_t* rowsKept) {
  std::map<std::string, const CFileEntry*> rows = rowsOf(entries);
  if (rowsKept) *rowsKept = rows.size();
  return writeTransaction("refresh", [&](sqlite3* db) {
    if (!folders && !execute(db, "DELETE FROM files")) return false;
    for (const std::string& folder : folders ? *folders : std::vector<std::string>{}) {
      if (!removeRowsBelow(db, state_->statements, folder)) return false;
    }
    CSqliteStatement insert(db,
                            "INSERT OR REPLACE INTO files(path, origin_size, cache_size, date_modified, state, updated)"
                            " VALUES(?, ?, ?, ?, ?, ?)");
    if (!insert.ok()) return false;
    int64_t now = platform::unixTimeSeconds();
    for (const auto& [path, entry] : rows) {
      insert.bind(1, path).bind(2, entry->originSize()).bind(3, entry->cacheSize());
      insert.bind(4, entry->dateModified()).bind(5, entry->state()).bind(6, now);
      if (!insert.done()) return false;
      insert.reset();
    }
    return true;
  });
}

int CFileIndex::refresh(const std::set<CFileEntry>& entries, size_t* rowsKept) {
  return refreshWith(entries, nullptr, rowsKept);
}

int CFileIndex::refresh(const std::vector<CFileEntry>& entries, size_t* rowsKept) {
  return refreshWith(entries, nullptr, rowsKept);
}

int CFileIndex::refreshBelow(const std::vector<std::string>& folders, const std::vector<CFileEntry>& entries,
                             size_t* rowsKept) {
  return refreshWith(entries, &folders, rowsKept);
}

int CFileIndex::addVersion(const std::string& path, const std::string& size, const std::string& modified) {
  std::string key = normaliseFilePath(path);
  auto body = [&](sqlite3* db) {
    CSqliteStatement upsert(state_->statements, db,
                            "INSERT INTO files(path, origin_size, date_modified, state, updated) VALUES(?, ?, ?, '1', ?)"
                            " ON CONFLICT(path) DO UPDATE SET origin_size = excluded.origin_size,"
                            " date_modified = excluded.date_modified, state = '1', updated = excluded.updated");
    return upsert.ok() && upsert.bind(1, key).bind(2, size).bind(3, modified).bind(4, platform::unixTimeSeconds()).done();
  };
  return batching() ? batchedWrite("adding an uploaded file", body) : writeTransaction("adding an uploaded file", body);
}

int CFileIndex::addFileItem(const std::string& path) {
  platform::FileInfo info;
  bool known = state_->currentEnv().getFileInfo(platform::hostPath(path), &info);
  return addVersion(path, known ? std::to_string(info.size) : std::string(),
                    known ? std::to_string(info.modifiedUnixSeconds) : std::string());
}

int CFileIndex::addFileItem(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds) {
  return addVersion(path, std::to_string(size), std::to_string(modifiedUnixSeconds));
}

int CFileIndex::removeFileItem(const std::string& path) {
  auto body = [&](sqlite3* db) { return removeRowsBelow(db, state_->statements, path); };
  return batching() ? batchedWrite("removing a deleted file", body) : writeTransaction("removing a deleted file", body);
}

bool CFileIndex::holdsVersion(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds) {
  CFileEntry entry;
  return lookup(path, entry) && entry.state() == "1" && entry.originSize() == std::to_string(size) &&
         entry.dateModified() == std::to_string(modifiedUnixSeconds);
}

bool CFileIndex::lookup(const std::string& path, CFileEntry& entry) {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.open() != kCabinetOk) return false;
  CSqliteStatement query(s.statements, s.db,
                         "SELECT path, origin_size, cache_size, date_modified, state FROM files WHERE path = ?");
  if (!query.ok() || !query.bind(1, normaliseFilePath(path)).row()) return false;
  entry.setPath(query.text(0));
  entry.setOriginSize(query.text(1));
  entry.setCacheSize(query.text(2));
  entry.setDateModified(query.text(3));
  entry.setState(query.text(4));
  return true;
}

bool CFileIndex::count(int64_t& total) {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.open() != kCabinetOk) return false;
  CSqliteStatement query(s.db, "SELECT COUNT(*) FROM files");
  if (!query.ok() || !query.row()) return false;
  total = query.integer(0);
  return true;
}

std::string CFileIndex::indexPath() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->configuredPath();
}

void CFileIndex::setIndexPath(const std::string& hostPath) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->path = hostPath;
  state_->close();
}

void CFileIndex::setBusyTimeoutMs(int ms) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->busyTimeoutMs = ms;
  if (state_->db) sqlite3_busy_timeout(state_->db, ms);
}

void CFileIndex::setLogger(CLogger* log) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->log = log;
}

std::string CFileIndex::lastError() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lastError;
}

}  // namespace ZR
