// One prepared SQLite statement, finalized with its owner. Used by the file
// index and by cachemanager-local's catalogue.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace ZR {

class CSqliteStatement {
 public:
  CSqliteStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~CSqliteStatement() { sqlite3_finalize(stmt_); }
  CSqliteStatement(const CSqliteStatement&) = delete;
  CSqliteStatement& operator=(const CSqliteStatement&) = delete;

  // False when the statement did not prepare.
  bool ok() const { return stmt_ != nullptr; }
  CSqliteStatement& bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
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
  int64_t integer(int index) const { return sqlite3_column_int64(stmt_, index); }
  bool isNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace ZR
