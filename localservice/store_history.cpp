// The store's earlier versions: recorded when a file is replaced or
// deleted, dropped when the policy or the quota says, and read back.
#include <sqlite3.h>

#include <map>
#include <set>

#include "bindings/cabinet/sqlite_statement.h"
#include "localservice/cache_store.h"
#include "platform/path.h"

namespace localservice {
namespace {

using Statement = ZR::CSqliteStatement;

constexpr int64_t kSecondsPerDay = 86400;

}  // namespace

bool CacheStore::keepCurrentLocked(const std::string& key, int64_t when, bool deleted) {
  Statement keep(statements_, db_,
                 "INSERT INTO versions(path, storage, size, metadata, became, ended, deleted)"
                 " SELECT path, storage, size, metadata, updated, ?, ? FROM files"
                 " WHERE path = ? AND storage IS NOT NULL");
  return keep.bind(1, when).bind(2, int64_t{deleted ? 1 : 0}).bind(3, key).done();
}

bool CacheStore::makeRoomLocked(int64_t bytes) {
  if (quota_ < 0) return true;
  int64_t used = usedBytesLocked();
  if (used + bytes <= quota_) return true;
  // The oldest first; the last version of each path only after every
  // other one, so that each path keeps one earlier version as long as it can.
  // A content frees its bytes only with the last row that names it.
  std::vector<int64_t> ids;
  std::map<std::string, int64_t> dropped;  // by content: how many of its rows are chosen
  {
    Statement oldest(statements_, db_,
                     "SELECT id, size, storage FROM versions ORDER BY"
                     " id = (SELECT MAX(w.id) FROM versions w WHERE w.path = versions.path), ended, id");
    while (used + bytes > quota_ && oldest.row()) {
      ids.push_back(oldest.integer(0));
      std::string storage = oldest.text(2);
      if (++dropped[storage] == referencesLocked(storage)) used -= oldest.integer(1);
    }
  }
  if (used + bytes > quota_) {
    reportFull("the quota of " + std::to_string(quota_) + " bytes is reached");
    return false;  // history is kept when even all of it would not make room
  }
  return dropVersionsLocked(ids) == ids.size();
}

// Rows first, then files: a kill in between leaves files no row names,
// which the next open removes; never a row without its file.
size_t CacheStore::dropVersionsLocked(const std::vector<int64_t>& ids) {
  if (ids.empty()) return 0;
  std::set<std::string> storages;
  settleLocked();
  if (!exec("BEGIN IMMEDIATE")) return 0;
  for (int64_t id : ids) {
    Statement find(statements_, db_, "SELECT storage FROM versions WHERE id = ?");
    if (find.bind(1, id).row()) storages.insert(find.text(0));
    find.reset();
    Statement drop(statements_, db_, "DELETE FROM versions WHERE id = ?");
    if (!drop.bind(1, id).done()) {
      exec("ROLLBACK");
      return 0;
    }
  }
  if (!exec("COMMIT")) {
    exec("ROLLBACK");
    return 0;
  }
  for (const std::string& storage : storages) releaseLocked(storage);
  return ids.size();
}

size_t CacheStore::pruneHistory(int64_t nowSeconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int64_t> ids;
  // Everything, when no history is kept (a store that kept some before).
  int64_t endedBefore = keepsHistory() ? nowSeconds - int64_t{history_.keepDays} * kSecondsPerDay : INT64_MAX;
  {
    Statement expired(statements_, db_, "SELECT id FROM versions WHERE ended < ?");
    expired.bind(1, endedBefore);
    while (expired.row()) ids.push_back(expired.integer(0));
  }
  if (history_.keepVersions > 0) {
    Statement beyond(statements_, db_,
                     "SELECT id FROM versions v WHERE ended >= ? AND"
                     " (SELECT COUNT(*) FROM versions w WHERE w.path = v.path AND w.id > v.id) >= ?");
    beyond.bind(1, endedBefore).bind(2, int64_t{history_.keepVersions});
    while (beyond.row()) ids.push_back(beyond.integer(0));
  }
  return dropVersionsLocked(ids);
}

void CacheStore::removeOrphansLocked() {
  std::set<std::string> named;
  {
    Statement all(statements_, db_,
                  "SELECT storage FROM files WHERE storage IS NOT NULL UNION ALL"
                  " SELECT pending_storage FROM files WHERE pending_storage IS NOT NULL UNION ALL"
                  " SELECT storage FROM versions");
    while (all.row()) named.insert(all.text(0));
  }
  exec(
      "DELETE FROM contents WHERE storage NOT IN (SELECT storage FROM files WHERE storage IS NOT NULL UNION ALL"
      " SELECT pending_storage FROM files WHERE pending_storage IS NOT NULL UNION ALL SELECT storage FROM versions)");
  std::vector<std::string> folders;
  if (!env_.listDirectory(root_ + "/store", &folders)) return;
  for (const std::string& folder : folders) {
    std::vector<std::string> names;
    if (!env_.listDirectory(root_ + "/store/" + folder, &names)) continue;
    for (const std::string& name : names) {
      std::string storage = "store/" + folder + "/" + name;
      if (named.count(storage) == 0) removeQuietly(root_ + "/" + storage);
    }
  }
}

std::vector<CacheStore::StoredVersion> CacheStore::versionsOf(const std::string& agent, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement query(statements_, db_,
                  "SELECT id, size, became, ended, deleted, metadata FROM versions WHERE path = ? ORDER BY id");
  query.bind(1, catalogueKey(agent, path));
  std::vector<StoredVersion> out;
  while (query.row()) {
    out.push_back(StoredVersion{query.integer(0), path, query.integer(1), query.integer(2), query.integer(3),
                                query.integer(4) != 0, query.text(5)});
  }
  return out;
}

CacheStore::Content CacheStore::versionContent(const std::string& agent, int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement query(statements_, db_, "SELECT path, storage FROM versions WHERE id = ?");
  std::string path;
  if (!query.bind(1, id).row() || !pathOfAgentKey(agent, query.text(0), path)) return {};
  return contentLocked(query.text(1));
}

std::vector<CacheStore::StoredFile> CacheStore::filesAt(const std::string& agent, const std::string& folder,
                                                       int64_t when) {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  prefix = catalogueKey(agent, prefix);
  std::map<std::string, StoredFile> byPath;
  auto take = [&](const std::string& key, StoredFile file) {
    std::string path;
    if (!pathOfAgentKey(agent, key, path)) return;
    file.path = path;
    StoredFile& slot = byPath[path];
    if (slot.path.empty() || file.updated >= slot.updated) slot = std::move(file);
  };
  std::lock_guard<std::mutex> lock(mutex_);
  {
    // Paths with the prefix sort right after it; "\xff" never starts a UTF-8 character.
    Statement current(statements_, db_,
                      "SELECT path, size, updated, metadata FROM files"
                      " WHERE storage IS NOT NULL AND path >= ? AND path < ? AND updated <= ?");
    current.bind(1, prefix).bind(2, prefix + "\xff").bind(3, when);
    while (current.row()) take(current.text(0), {"", current.integer(1), current.integer(2), current.text(3), 0});
  }
  Statement kept(statements_, db_,
                 "SELECT path, size, became, metadata, id FROM versions"
                 " WHERE path >= ? AND path < ? AND became <= ? AND ended > ?");
  kept.bind(1, prefix).bind(2, prefix + "\xff").bind(3, when).bind(4, when);
  while (kept.row()) take(kept.text(0), {"", kept.integer(1), kept.integer(2), kept.text(3), kept.integer(4)});
  std::vector<StoredFile> out;
  for (auto& entry : byPath) out.push_back(std::move(entry.second));
  return out;
}

}  // namespace localservice
