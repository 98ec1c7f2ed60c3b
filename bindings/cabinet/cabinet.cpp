#include "bindings/cabinet/cabinet.h"

#include "bindings/cabinet/entry_path.h"

#include <sqlite3.h>

#include <map>
#include <mutex>

#include "bindings/cabinet/entry_path.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "platform/clock.h"
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

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  void bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void bind(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  int step() { return sqlite3_step(stmt_); }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string column(int index) const {
    const unsigned char* text = sqlite3_column_text(stmt_, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt_, index)))
                : std::string();
  }
  int64_t columnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// The process-wide connection, opened on first use.
struct Index {
  std::mutex mutex;
  sqlite3* db = nullptr;
  std::string openPath;
  std::string overridePath;
  int busyTimeoutMs = 60000;
  std::string lastError;

  ~Index() { close(); }
  void close() {
    if (db) sqlite3_close(db);
    db = nullptr;
    openPath.clear();
  }
};

Index& index() {
  static Index instance;
  return instance;
}

std::string configuredPath(const Index& idx) {
  if (!idx.overridePath.empty()) return idx.overridePath;
  if (CConfigManager* config = CConfigManager::instance()) return config->cabinetPath();
  return "cabinet.db";
}

int fail(Index& idx, int code, const std::string& what) {
  idx.lastError = what;
  if (CLogger* log = CLogManager::instance()) log->error("%s", what.c_str());
  return code;
}

std::string sqliteError(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

bool execute(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Opens (or reopens, when the path changed) the index. REQUIRES: idx.mutex held.
int open(Index& idx) {
  std::string path = configuredPath(idx);
  if (idx.db && idx.openPath == path) return kCabinetOk;
  idx.close();
  if (sqlite3_open_v2(path.c_str(), &idx.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string why = sqliteError(idx.db);
    idx.close();
    return fail(idx, kCabinetOpenFailed, "cannot open file index " + path + ": " + why);
  }
  sqlite3_busy_timeout(idx.db, idx.busyTimeoutMs);
  if (!execute(idx.db, "PRAGMA journal_mode=WAL") || !execute(idx.db, "PRAGMA synchronous=NORMAL") ||
      !execute(idx.db, kSchema)) {
    std::string why = sqliteError(idx.db);
    idx.close();
    return fail(idx, kCabinetOpenFailed, "cannot prepare file index " + path + ": " + why);
  }
  idx.openPath = path;
  return kCabinetOk;
}

// Runs `body` inside one write transaction; rolls back when it fails.
template <typename Body>
int writeTransaction(const char* operation, Body body) {
  Index& idx = index();
  std::lock_guard<std::mutex> lock(idx.mutex);
  if (int rc = open(idx)) return rc;
  int begin = sqlite3_exec(idx.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (begin != SQLITE_OK) {
    int code = (begin == SQLITE_BUSY || begin == SQLITE_LOCKED) ? kCabinetBusy : kCabinetWriteFailed;
    return fail(idx, code, std::string("file index ") + idx.openPath + ": " + operation +
                               " not recorded: " + sqliteError(idx.db));
  }
  if (!body(idx.db) || sqlite3_exec(idx.db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string why = sqliteError(idx.db);
    execute(idx.db, "ROLLBACK");
    return fail(idx, kCabinetWriteFailed,
                std::string("file index ") + idx.openPath + ": " + operation + " not recorded: " + why);
  }
  idx.lastError.clear();
  return kCabinetOk;
}

// One row per path in its normal form; of the entries of one path the
// cached one (state 1) wins over a pending one.
template <typename Entries>
std::map<std::string, const CFileEntry*> rowsOf(const Entries& entries) {
  std::map<std::string, const CFileEntry*> rows;
  for (const CFileEntry& entry : entries) {
    auto [slot, added] = rows.try_emplace(normaliseFilePath(entry.path()), &entry);
    if (!added && !(slot->second->state() == "1" && entry.state() != "1")) slot->second = &entry;
  }
  return rows;
}

template <typename Entries>
int refreshWith(const Entries& entries, size_t* rowsKept) {
  std::map<std::string, const CFileEntry*> rows = rowsOf(entries);
  if (rowsKept) *rowsKept = rows.size();
  return writeTransaction("refresh", [&](sqlite3* db) {
    if (!execute(db, "DELETE FROM files")) return false;
    Statement insert(db,
                     "INSERT INTO files(path, origin_size, cache_size, date_modified, state, updated)"
                     " VALUES(?, ?, ?, ?, ?, ?)");
    if (!insert.ok()) return false;
    int64_t now = platform::unixTimeSeconds();
    for (const auto& [path, entry] : rows) {
      insert.bind(1, path);
      insert.bind(2, entry->originSize());
      insert.bind(3, entry->cacheSize());
      insert.bind(4, entry->dateModified());
      insert.bind(5, entry->state());
      insert.bind(6, now);
      if (insert.step() != SQLITE_DONE) return false;
      insert.reset();
    }
    return true;
  });
}

int addVersion(const std::string& path, const std::string& size, const std::string& modified) {
  std::string key = normaliseFilePath(path);
  return writeTransaction("adding an uploaded file", [&](sqlite3* db) {
    Statement upsert(db,
                     "INSERT INTO files(path, origin_size, date_modified, state, updated) VALUES(?, ?, ?, '1', ?)"
                     " ON CONFLICT(path) DO UPDATE SET origin_size = excluded.origin_size,"
                     " date_modified = excluded.date_modified, state = '1', updated = excluded.updated");
    if (!upsert.ok()) return false;
    upsert.bind(1, key);
    upsert.bind(2, size);
    upsert.bind(3, modified);
    upsert.bind(4, platform::unixTimeSeconds());
    return upsert.step() == SQLITE_DONE;
  });
}

}  // namespace

int CCabinet::refresh(const std::set<CFileEntry>& entries, size_t* rowsKept) { return refreshWith(entries, rowsKept); }

int CCabinet::refresh(const std::vector<CFileEntry>& entries, size_t* rowsKept) {
  return refreshWith(entries, rowsKept);
}

int CCabinet::addFileItem(const std::string& path) {
  CFileInfo info;
  bool known = CFileUtils::getFileInfo(path, info);
  return addVersion(path, known ? std::to_string(info.size) : std::string(),
                    known ? std::to_string(info.modifiedUnixSeconds) : std::string());
}

int CCabinet::addFileItem(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds) {
  return addVersion(path, std::to_string(size), std::to_string(modifiedUnixSeconds));
}

bool CCabinet::holdsVersion(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds) {
  CFileEntry entry;
  return lookup(path, entry) && entry.state() == "1" && entry.originSize() == std::to_string(size) &&
         entry.dateModified() == std::to_string(modifiedUnixSeconds);
}

int CCabinet::removeFileItem(const std::string& path) {
  // A folder goes with everything below it: the rows from "<folder>\" up
  // to (not including) "<folder>]", ']' being the character after '\'.
  std::string key = normaliseFilePath(path);
  while (key.size() > 1 && key.back() == '\\') key.pop_back();
  return writeTransaction("removing a deleted file", [&](sqlite3* db) {
    Statement remove(db, "DELETE FROM files WHERE path = ?1 OR (path > ?2 AND path < ?3)");
    if (!remove.ok()) return false;
    remove.bind(1, key);
    remove.bind(2, key + "\\");
    remove.bind(3, key + "]");
    return remove.step() == SQLITE_DONE;
  });
}

std::string CCabinet::indexPath() {
  Index& idx = index();
  std::lock_guard<std::mutex> lock(idx.mutex);
  return configuredPath(idx);
}

void CCabinet::setIndexPath(const std::string& hostPath) {
  Index& idx = index();
  std::lock_guard<std::mutex> lock(idx.mutex);
  idx.overridePath = hostPath;
  idx.close();
}

void CCabinet::setBusyTimeoutMs(int ms) {
  Index& idx = index();
  std::lock_guard<std::mutex> lock(idx.mutex);
  idx.busyTimeoutMs = ms;
  if (idx.db) sqlite3_busy_timeout(idx.db, ms);
}

bool CCabinet::lookup(const std::string& path, CFileEntry& entry) {
  Index& idx = index();
  std::lock_guard<std::mutex> lock(idx.mutex);
  if (open(idx) != kCabinetOk) return false;
  Statement query(idx.db,
                  "SELECT path, origin_size, cache_size, date_modified, state FROM files WHERE path = ?");
  if (!query.ok()) return false;
  query.bind(1, normaliseFilePath(path));
  if (query.step() != SQLITE_ROW) return false;
  entry.setPath(query.column(0));
  entry.setOriginSize(query.column(1));
  entry.setCacheSize(query.column(2));
  entry.setDateModified(query.column(3));
  entry.setState(query.column(4));
  return true;
}

bool CCabinet::count(int64_t& total) {
  Index& idx = index();
  std::lock_guard<std::mutex> lock(idx.mutex);
  if (open(idx) != kCabinetOk) return false;
  Statement query(idx.db, "SELECT COUNT(*) FROM files");
  if (!query.ok() || query.step() != SQLITE_ROW) return false;
  total = query.columnInt(0);
  return true;
}

const std::string& CCabinet::lastError() { return index().lastError; }

}  // namespace ZR
