// One prepared SQLite statement, finalized with its owner. Used by the file
// index and by cachemanager-local's catalogue.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace ZR {

// Statements prepared once for a connection and used again, for code that
// runs the same few statements many times. REQUIRES: external
// synchronization (the connection's own).
class CSqliteStatementCache {
 public:
  CSqliteStatementCache() = default;
  ~CSqliteStatementCache() { clear(); }
  CSqliteStatementCache(const CSqliteStatementCache&) = delete;
  CSqliteStatementCache& operator=(const CSqliteStatementCache&) = delete;

  // The statement for `sql` on `db`, prepared on first use; null when it
  // does not prepare.
  sqlite3_stmt* get(sqlite3* db, const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) return nullptr;
    statements_.emplace(sql, stmt);
    return stmt;
  }
  // Finalizes every statement (before the connection closes).
  void clear() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
  }

 private:
  std::map<std::string, sqlite3_stmt*> statements_;
};

class CSqliteStatement {
 public:
  CSqliteStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  // A statement of the cache: reset, not finalized, when this one goes.
  CSqliteStatement(CSqliteStatementCache& cache, sqlite3* db, const char* sql)
      : stmt_(cache.get(db, sql)), cached_(true) {}
  ~CSqliteStatement() {
    if (!cached_) {
      sqlite3_finalize(stmt_);
    } else if (stmt_) {
      reset();
    }
  }
  CSqliteStatement(const CSqliteStatement&) = delete;
  CSqliteStatement& operator=(const CSqliteStatement&) = delete;

  // False when the statement did not prepare.
  bool ok() const { return stmt_ != nullptr; }
  CSqliteStatement& bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  CSqliteStatement& bindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return *this;
  }
  CSqliteStatement& bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  // One step: true when it gave a row (row()) or ran to its end (done()).
  bool row() { return stmt_ && sqlite3_step(stmt_) == SQLITE_ROW; }
  bool done() { return stmt_ && sqlite3_step(stmt_) == SQLITE_DONE; }
  // Ready for the next bindings.
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string text(int index) const {
    const unsigned char* t = sqlite3_column_text(stmt_, index);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(stmt_, index)))
             : std::string();
  }
  std::string blob(int index) const {
    const void* b = sqlite3_column_blob(stmt_, index);
    return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(sqlite3_column_bytes(stmt_, index)))
             : std::string();
  }
  int64_t integer(int index) const { return sqlite3_column_int64(stmt_, index); }
  bool isNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  bool cached_ = false;
};

}  // namespace ZR
