#include "localservice/cache_store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "bindings/cabinet/sqlite_statement.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/folder_handle.h"
#include "platform/path.h"

namespace localservice {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS files ("
    " path TEXT PRIMARY KEY,"
    " storage TEXT, size INTEGER NOT NULL DEFAULT 0, metadata TEXT NOT NULL DEFAULT '', updated INTEGER NOT NULL "
    "DEFAULT 0,"
    " pending INTEGER NOT NULL DEFAULT 0, pending_metadata TEXT NOT NULL DEFAULT '',"
    " pending_storage TEXT, pending_size INTEGER NOT NULL DEFAULT 0, pending_owner TEXT);"
    "CREATE TABLE IF NOT EXISTS symlinks (agent TEXT PRIMARY KEY, text TEXT NOT NULL, updated INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS ghosts (path TEXT PRIMARY KEY, storage TEXT NOT NULL, size INTEGER NOT NULL,"
    " updated INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS versions (id INTEGER PRIMARY KEY, path TEXT NOT NULL, storage TEXT NOT NULL,"
    " size INTEGER NOT NULL, metadata TEXT NOT NULL, became INTEGER NOT NULL, ended INTEGER NOT NULL,"
    " deleted INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS contents (storage TEXT PRIMARY KEY, data BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS versions_by_path ON versions(path, id);"
    "CREATE INDEX IF NOT EXISTS versions_by_end ON versions(ended);"
    "CREATE INDEX IF NOT EXISTS versions_by_storage ON versions(storage);"
    "CREATE INDEX IF NOT EXISTS files_by_storage ON files(storage);"
    "CREATE INDEX IF NOT EXISTS files_by_pending_storage ON files(pending_storage);";

using Statement = ZR::CSqliteStatement;

int64_t now() { return platform::unixTimeSeconds(); }

// The catalogue's key of an agent's path: the agent "" keeps the path as it
// is; others put their name before it, with a separator that no accepted
// path holds (a control character).
constexpr char kAgentSeparator = '\x1f';

}  // namespace

std::string catalogueKey(const std::string& agent, const std::string& path) {
  return agent.empty() ? path : agent + kAgentSeparator + path;
}

bool pathOfAgentKey(const std::string& agent, const std::string& key, std::string& path) {
  if (agent.empty()) {
    if (key.find(kAgentSeparator) != std::string::npos) return false;  // another agent's
    path = key;
    return true;
  }
  if (key.size() <= agent.size() || key.compare(0, agent.size(), agent) != 0 || key[agent.size()] != kAgentSeparator) {
    return false;
  }
  path = key.substr(agent.size() + 1);
  return true;
}

bool validRemotePath(const std::string& path) {
  return !path.empty() && path.size() <= kMaxRemotePathLength && ZR::CStringUtils::isXmlText(path);
}

namespace {

std::string hexOf(const unsigned char* bytes, size_t length) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

}  // namespace

std::string randomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  RAND_bytes(raw.data(), static_cast<int>(raw.size()));
  return hexOf(raw.data(), raw.size());
}

ContentDigest::ContentDigest() : context_(EVP_MD_CTX_new()) {
  failed_ = context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1;
}

ContentDigest::~ContentDigest() { EVP_MD_CTX_free(context_); }

void ContentDigest::update(const void* data, size_t length) {
  if (!failed_ && length > 0) failed_ = EVP_DigestUpdate(context_, data, length) != 1;
}

std::string ContentDigest::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (failed_ || EVP_DigestFinal_ex(context_, digest, &length) != 1) return "";
  failed_ = true;  // ended: a second call gives nothing
  return hexOf(digest, length);
}

std::string ContentDigest::of(const std::string& content) {
  ContentDigest digest;
  digest.update(content.data(), content.size());
  return digest.hex();
}

std::string CacheStore::hashOf(const std::string& text) { return ContentDigest::of(text); }

CacheStore::CacheStore(platform::Env& env, std::string root, int64_t quotaBytes)
    : env_(env), root_(std::move(root)), quota_(quotaBytes) {}

void CacheStore::removeQuietly(const std::string& path) {
  if (!path.empty()) env_.removeFile(path);
}

CacheStore::~CacheStore() {
  if (db_) {
    std::lock_guard<std::mutex> lock(mutex_);
    settleLocked();
  }
  statements_.clear();
  if (db_) sqlite3_close(db_);
}

bool CacheStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool CacheStore::open(std::string& error) {
  platform::Env* env = &env_;
  for (const char* folder : {"", "/store", "/incoming", "/ghosts", "/policies"}) {
    if (!env->createDirectories(root_ + folder)) {
      error = "cannot create folder " + root_ + folder;
      return false;
    }
  }
  // Attachments of an earlier run that never completed.
  std::vector<std::string> leftovers;
  if (env->listDirectory(root_ + "/incoming", &leftovers)) {
    for (const auto& name : leftovers) env->removeFile(root_ + "/incoming/" + name);
  }
  std::string catalogue = root_ + "/catalogue.db";
  if (sqlite3_open(catalogue.c_str(), &db_) != SQLITE_OK) {
    error = "cannot open catalogue " + catalogue + ": " + sqlite3_errmsg(db_);
    return false;
  }
  sqlite3_busy_timeout(db_, 30000);
  // WAL with NORMAL sync: a commit is durable at the next checkpoint, and a
  // crash loses at most the last transactions, never the catalogue.
  // The catalogue is this process's alone: held in exclusive mode, a
  // transaction takes no file locks.
  if (!exec("PRAGMA locking_mode=EXCLUSIVE") || !exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
      !exec(kSchema)) {
    error = "cannot prepare catalogue " + catalogue + ": " + sqlite3_errmsg(db_);
    return false;
  }
  // A catalogue made before uploads had owners gets the column (else: there already).
  exec("ALTER TABLE files ADD COLUMN pending_owner TEXT");
  // Uploads commit in a steady stream. A checkpoint after every thousand
  // pages of log (the default) copies the same index pages into an ever
  // larger catalogue again and again, every request waiting meanwhile; one
  // after about 64 MiB of log copies each page once a round. Failing, the
  // defaults stay: slower, no less safe.
  exec("PRAGMA wal_autocheckpoint=16000");
  exec("PRAGMA journal_size_limit=67108864");
  if (!platform::FolderHandle::open(root_, &rootHandle_)) rootHandle_.reset();
  syncEachContent_ = !env_.syncFileSystem(root_);
  pruneHistory(now());
  std::lock_guard<std::mutex> lock(mutex_);
  removeOrphansLocked();
  return true;
}

bool CacheStore::diskFull(int64_t needed) {
  constexpr int64_t kReserve = 1 << 20;
  int64_t free = env_.freeBytes(root_);
  if (free < 0 || free >= needed + kReserve) return false;
  reportFull("the disk under " + root_ + " is full (" + std::to_string(free) + " bytes free)");
  return true;
}

void CacheStore::reportFull(const std::string& why) {
  constexpr int64_t kReportIntervalMs = 60000;
  std::lock_guard<std::mutex> lock(reportMutex_);
  int64_t now = platform::unixTimeMs();
  if (!reporter_ || (lastReportMs_ >= 0 && now - lastReportMs_ < kReportIntervalMs)) return;
  lastReportMs_ = now;
  reporter_("store full: " + why + "; uploads are answered with -9 (Storage Full)");
}

int CacheStore::fullOr(int otherwise) {
  if (sqlite3_errcode(db_) == SQLITE_FULL) {
    reportFull("the catalogue under " + root_ + " cannot grow (the disk is full)");
    return kStorageFull;
  }
  return diskFull(0) ? kStorageFull : otherwise;
}

std::string CacheStore::incomingPath() { return root_ + "/incoming/" + randomHex(16) + ".part"; }

// One name per agent and content: the agent's name is in it, so one
// agent's upload never reveals or shares another's content.
std::string CacheStore::storageFor(const std::string& agent, const std::string& digest) const {
  std::string hash = hashOf(catalogueKey(agent, digest));
  return "store/" + hash.substr(0, 2) + "/" + hash;
}

int64_t CacheStore::referencesLocked(const std::string& storage) {
  Statement count(statements_, db_,
                  "SELECT (SELECT COUNT(*) FROM files WHERE storage = ?1) +"
                  " (SELECT COUNT(*) FROM files WHERE pending_storage = ?1) +"
                  " (SELECT COUNT(*) FROM versions WHERE storage = ?1)");
  // Counted as named when the catalogue cannot say: a file is never removed on a guess.
  return count.bind(1, storage).row() ? count.integer(0) : 1;
}

void CacheStore::releaseLocked(const std::string& storage) {
  if (storage.empty() || referencesLocked(storage) != 0) return;
  Statement remove(statements_, db_, "DELETE FROM contents WHERE storage = ?");
  bool wasInCatalogue = remove.bind(1, storage).done() && sqlite3_changes(db_) == 1;
  if (wasInCatalogue) return;
  // Never a committed row without its file: a kill before the commit keeps the rows that name it.
  if (sqlite3_get_autocommit(db_)) {
    removeQuietly(root_ + "/" + storage);
  } else {
    released_.push_back(storage);
  }
}

void CacheStore::joinGroupTransactionLocked() {
  if (!sqlite3_get_autocommit(db_)) return;
  // Its commit syncs; the level can be set only outside a transaction.
  if (exec("PRAGMA synchronous=FULL") && !exec("BEGIN IMMEDIATE")) exec("PRAGMA synchronous=NORMAL");
}

bool CacheStore::commitGroupLocked() {
  bool committed = exec("COMMIT");
  if (!committed) exec("ROLLBACK");
  exec("PRAGMA synchronous=NORMAL");
  std::vector<std::string> released;
  released.swap(released_);
  // Named again since (or still, after a rollback): kept.
  for (const std::string& storage : released) {
    if (referencesLocked(storage) == 0) removeQuietly(root_ + "/" + storage);
  }
  return committed;
}

void CacheStore::settleLocked() {
  if (!sqlite3_get_autocommit(db_)) commitGroupLocked();
}

bool CacheStore::inCatalogueLocked(const std::string& storage) {
  Statement query(statements_, db_, "SELECT 1 FROM contents WHERE storage = ?");
  return query.bind(1, storage).row();
}

CacheStore::Content CacheStore::contentLocked(const std::string& storage) {
  Statement query(statements_, db_, "SELECT data FROM contents WHERE storage = ?");
  if (query.bind(1, storage).row()) return Content{true, "", query.blob(0)};
  return Content{true, root_ + "/" + storage, ""};
}

bool CacheStore::Content::read(platform::Env& env, std::string* out) const {
  if (!found) return false;
  if (file.empty()) {
    *out = bytes;
    return true;
  }
  return platform::readFileToString(env, file, out).isOk();
}

bool CacheStore::keepContentLocked(const Received& received, const std::string& storage) {
  if (received.bytes) {
    Statement insert(statements_, db_, "INSERT OR REPLACE INTO contents(storage, data) VALUES(?, ?)");
    return insert.bind(1, storage).bindBlob(2, *received.bytes).done();
  }
  env_.createDirectories(platform::parentFolder(root_ + "/" + storage));
  if (env_.renameFile(received.file, root_ + "/" + storage)) return true;
  removeQuietly(received.file);
  return false;
}

int CacheStore::createFile(const std::string& agent, const std::string& owner, const std::string& path,
                           const std::string& metadata) {
  if (!validRemotePath(path)) return kInvalidValues;
  std::string key = catalogueKey(agent, path);
  std::lock_guard<std::mutex> lock(mutex_);
  stopAwaitingLocked(key);  // a new upload of the path begins
  joinGroupTransactionLocked();
  std::string previousPending;
  {
    Statement query(statements_, db_, "SELECT pending_storage FROM files WHERE path = ?");
    if (query.bind(1, key).row() && !query.isNull(0)) previousPending = query.text(0);
  }
  Statement upsert(statements_, db_,
                   "INSERT INTO files(path, pending, pending_metadata, pending_storage, pending_size, pending_owner)"
                   " VALUES(?, 1, ?, NULL, 0, ?)"
                   " ON CONFLICT(path) DO UPDATE SET pending = 1, pending_metadata = excluded.pending_metadata,"
                   " pending_storage = NULL, pending_size = 0, pending_owner = excluded.pending_owner");
  if (!upsert.bind(1, key).bind(2, metadata).bind(3, owner).done()) return fullOr(kInvalidValues);
  upsert.reset();
  releaseLocked(previousPending);
  return kSuccess;
}

int64_t CacheStore::usedBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return usedBytesLocked();
}

int64_t CacheStore::usedBytesLocked() {
  // A content that several rows name is counted once.
  Statement query(statements_, db_,
                  "SELECT (SELECT COALESCE(SUM(size), 0) FROM"
                  " (SELECT storage, size FROM files WHERE storage IS NOT NULL"
                  " UNION SELECT pending_storage, pending_size FROM files WHERE pending_storage IS NOT NULL"
                  " UNION SELECT storage, size FROM versions))"
                  " + (SELECT COALESCE(SUM(size), 0) FROM ghosts)"
                  " + (SELECT COALESCE(SUM(LENGTH(CAST(text AS BLOB))), 0) FROM symlinks)");
  return query.row() ? query.integer(0) : 0;
}

int64_t CacheStore::catalogueContentCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement count(statements_, db_, "SELECT COUNT(*) FROM contents");
  return count.row() ? count.integer(0) : 0;
}

int CacheStore::roomFor(int64_t bytes) {
  if (quota_ < 0) return kSuccess;
  std::lock_guard<std::mutex> lock(mutex_);
  return makeRoomLocked(bytes) ? kSuccess : kStorageFull;
}

int CacheStore::attachFile(const std::string& agent, const std::string& owner, const std::string& path,
                           const std::string& receivedFile, int64_t size, const std::string& digest) {
  return attach(agent, owner, path, Received{receivedFile, nullptr, size, digest});
}

int CacheStore::attachContent(const std::string& agent, const std::string& owner, const std::string& path,
                              const std::string& content, const std::string& digest) {
  static const std::string kNoFile;
  return attach(agent, owner, path, Received{kNoFile, &content, static_cast<int64_t>(content.size()), digest});
}

int CacheStore::attach(const std::string& agent, const std::string& owner, const std::string& path,
                       const Received& received) {
  const std::string& receivedFile = received.file;
  int64_t size = received.size;
  std::string key = catalogueKey(agent, path);
  std::lock_guard<std::mutex> lock(mutex_);
  Statement query(statements_, db_, "SELECT pending, pending_storage, pending_size, pending_owner FROM files WHERE path = ?");
  if (received.digest.empty() || !query.bind(1, key).row() || query.integer(0) == 0) {
    removeQuietly(receivedFile);
    return kInvalidPath;
  }
  if (query.isNull(3) || query.text(3) != owner) {
    removeQuietly(receivedFile);
    return kOutOfSequence;  // another session's createFile began the upload now under way
  }
  std::string replaced = query.isNull(1) ? "" : query.text(1);
  int64_t replacedSize = query.integer(2);
  query.reset();
  std::string storage = storageFor(agent, received.digest);
  bool stored = referencesLocked(storage) > 0 && (inCatalogueLocked(storage) || env_.fileExists(root_ + "/" + storage));
  int64_t freed = !replaced.empty() && replaced != storage && referencesLocked(replaced) == 1 ? replacedSize : 0;
  if (!makeRoomLocked((stored ? 0 : size) - freed)) {
    removeQuietly(receivedFile);
    reportFull("the quota of " + std::to_string(quota_) + " bytes is reached");
    return kStorageFull;
  }
  joinGroupTransactionLocked();
  if (stored) {
    removeQuietly(receivedFile);
  } else if (!keepContentLocked(received, storage)) {
    return fullOr(kNoFileAttached);
  }
  Statement update(statements_, db_, "UPDATE files SET pending_storage = ?, pending_size = ? WHERE path = ?");
  if (!update.bind(1, storage).bind(2, size).bind(3, key).done()) {
    int code = fullOr(kNoFileAttached);
    update.reset();
    releaseLocked(storage);
    return code;
  }
  update.reset();
  if (replaced != storage) releaseLocked(replaced);
  awaitingFinalize_[key] = std::chrono::steady_clock::now();
  return kSuccess;
}

// A finalized upload is durable before its answer: its content, its name
// and its catalogue row reach the disk first. Finalizations that come
// together share that cost: the first caller commits every one staged
// meanwhile (one sync of the store's file system, or where there is none,
// of each folder that gained a name, the contents having been synced as
// they arrived; then one transaction whose commit syncs the catalogue, and
// with it the contents kept there), the others wait for it.
int CacheStore::finalizeFile(const std::string& agent, const std::string& owner, const std::string& path,
                             const std::string* metadata) {
  std::string key = catalogueKey(agent, path);
  std::unique_lock<std::mutex> lock(mutex_);
  stopAwaitingLocked(key);
  Statement query(statements_, db_,
                  "SELECT pending, pending_storage, storage, pending_metadata, pending_owner FROM files WHERE path = ?");
  if (!query.bind(1, key).row() || query.integer(0) == 0) return kInvalidPath;
  if (query.isNull(4) || query.text(4) != owner) return kOutOfSequence;
  if (query.isNull(1)) return kNoFileAttached;
  Finalizing mine{key, owner, query.text(1), query.isNull(2) ? "" : query.text(2), metadata ? *metadata : query.text(3)};
  query.reset();
  mine.inFile = !inCatalogueLocked(mine.storage);
  staged_.push_back(&mine);
  while (!mine.done) {
    if (committing_) {
      committed_.wait(lock);
      continue;
    }
    committing_ = true;
    awaitCompanions(lock);
    commitStaged(lock);
    committing_ = false;
    committed_.notify_all();
  }
  return mine.result;
}

// An upload whose content has arrived sends its finalization next: a
// moment's wait for those lets one sync serve them all, where each would
// otherwise pay its own. One that is not staged within the moment goes with
// the next group; one that arrived long ago no longer counts (its client may
// have left it unfinished).
void CacheStore::awaitCompanions(std::unique_lock<std::mutex>& lock) {
  constexpr auto kStale = std::chrono::seconds(1);
  auto now = std::chrono::steady_clock::now();
  std::erase_if(awaitingFinalize_, [&](const auto& entry) {
    return now - entry.second > std::max<std::chrono::nanoseconds>(kStale, groupWindow_);
  });
  staging_.wait_until(lock, now + groupWindow_, [this] { return awaitingFinalize_.empty(); });
}

// The group's leader is woken when the last upload it awaits is staged
// (or ended otherwise), not at each one: a wake-up per upload costs more
// than the wait it shortens. The leader needs the lock to go on, so one
// staged right after this call is in its group.
void CacheStore::stopAwaitingLocked(const std::string& key) {
  if (awaitingFinalize_.erase(key) != 0 && awaitingFinalize_.empty()) staging_.notify_all();
}

// The names the batch's contents were given when they arrived, and the
// folders made for them; a folder is synced once however many of them it
// holds (one that did not change costs next to nothing).
void CacheStore::syncFoldersOf(const std::vector<Finalizing*>& batch) {
  std::set<std::string> folders;
  for (const Finalizing* f : batch) {
    if (!f->inFile) continue;
    for (std::string folder = platform::parentFolder(f->storage); !folder.empty() && folder != ".";
         folder = platform::parentFolder(folder)) {
      if (!folders.insert(folder).second) break;
    }
  }
  for (const std::string& folder : folders) {
    std::unique_ptr<platform::FolderHandle> handle;
    if (rootHandle_ && rootHandle_->descend(folder, false, &handle)) handle->sync();
  }
}

void CacheStore::commitStaged(std::unique_lock<std::mutex>& lock) {
  std::vector<Finalizing*> batch;
  batch.swap(staged_);
  lock.unlock();
  bool filesToSync = std::any_of(batch.begin(), batch.end(), [](const Finalizing* f) { return f->inFile; });
  if (syncEachContent_) {
    syncFoldersOf(batch);
  } else if (filesToSync) {
    env_.syncFileSystem(root_);
  }
  lock.lock();
  joinGroupTransactionLocked();
  int64_t when = now();
  for (Finalizing* f : batch) {
    // A failed write may have ended the transaction: the rest are not written outside it.
    bool begun = !sqlite3_get_autocommit(db_);
    // Still this session's upload of this very content: another one may
    // have begun since.
    // The version it replaces is kept (its row written in the same
    // transaction, its content left where it is).
    Statement keep(statements_, db_,
                   "INSERT INTO versions(path, storage, size, metadata, became, ended, deleted)"
                   " SELECT path, storage, size, metadata, updated, ?, 0 FROM files"
                   " WHERE path = ? AND pending_owner = ? AND pending_storage = ? AND storage IS NOT NULL");
    bool kept = !begun || !keepsHistory() || f->old.empty() ||
                keep.bind(1, when).bind(2, f->key).bind(3, f->owner).bind(4, f->storage).done();
    keep.reset();
    Statement update(statements_, db_,
                     "UPDATE files SET storage = pending_storage, size = pending_size, metadata = ?, updated = ?,"
                     " pending = 0, pending_storage = NULL, pending_size = 0, pending_metadata = '', pending_owner = NULL"
                     " WHERE path = ? AND pending_owner = ? AND pending_storage = ?");
    bool updated = begun && kept && update.bind(1, f->metadata).bind(2, when).bind(3, f->key).bind(4, f->owner).bind(5, f->storage).done();
    f->result = !updated ? fullOr(kOutOfSequence) : sqlite3_changes(db_) == 1 ? kSuccess : kOutOfSequence;
  }
  bool committed = !sqlite3_get_autocommit(db_) && commitGroupLocked();
  for (Finalizing* f : batch) {
    if (!committed) f->result = fullOr(kOutOfSequence);
    if (f->result == kSuccess && f->old != f->storage) releaseLocked(f->old);
    f->done = true;
  }
}

int CacheStore::deleteFile(const std::string& agent, const std::string& path) {
  std::string key = catalogueKey(agent, path);
  std::lock_guard<std::mutex> lock(mutex_);
  stopAwaitingLocked(key);
  settleLocked();
  Statement query(statements_, db_, "SELECT storage, pending_storage FROM files WHERE path = ?");
  if (!query.bind(1, key).row()) return kInvalidPath;
  std::string storage = query.isNull(0) ? "" : query.text(0);
  std::string pending = query.isNull(1) ? "" : query.text(1);
  query.reset();
  bool keep = keepsHistory() && !storage.empty();
  if (keep && !exec("BEGIN IMMEDIATE")) return fullOr(kInvalidPath);
  Statement remove(statements_, db_, "DELETE FROM files WHERE path = ?");
  bool removed = (!keep || keepCurrentLocked(key, now(), true)) && remove.bind(1, key).done();
  remove.reset();
  if (keep && !(removed && exec("COMMIT"))) {
    exec("ROLLBACK");
    return fullOr(kInvalidPath);
  }
  if (!removed) return kInvalidPath;
  releaseLocked(storage);
  releaseLocked(pending);
  return kSuccess;
}

std::vector<CacheStore::StoredFile> CacheStore::filesUnder(const std::string& agent, const std::string& folder) {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  prefix = catalogueKey(agent, prefix);
  std::lock_guard<std::mutex> lock(mutex_);
  // Paths with the prefix sort right after it; "\xff" never starts a UTF-8 character.
  Statement query(statements_, db_,
                  "SELECT path, size, updated, metadata FROM files WHERE storage IS NOT NULL AND path >= ? AND path < ?"
                  " ORDER BY path");
  query.bind(1, prefix).bind(2, prefix + "\xff");
  std::vector<StoredFile> out;
  while (query.row()) {
    // The agent "" lists only keys of its own: theirs hold no separator.
    std::string path;
    if (!pathOfAgentKey(agent, query.text(0), path)) continue;
    out.push_back(StoredFile{path, query.integer(1), query.integer(2), query.text(3)});
  }
  return out;
}

bool CacheStore::fileInfo(const std::string& agent, const std::string& path, StoredFile& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement query(statements_, db_, "SELECT size, updated, metadata FROM files WHERE path = ? AND storage IS NOT NULL");
  if (!query.bind(1, catalogueKey(agent, path)).row()) return false;
  file = StoredFile{path, query.integer(0), query.integer(1), query.text(2)};
  return true;
}

CacheStore::Content CacheStore::content(const std::string& agent, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement query(statements_, db_, "SELECT storage FROM files WHERE path = ? AND storage IS NOT NULL");
  return query.bind(1, catalogueKey(agent, path)).row() ? contentLocked(query.text(0)) : Content{};
}

int CacheStore::setSymLinks(const std::string& agent, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  settleLocked();
  if (quota_ >= 0) {
    Statement old(statements_, db_, "SELECT LENGTH(CAST(text AS BLOB)) FROM symlinks WHERE agent = ?");
    int64_t replaced = old.bind(1, agent).row() ? old.integer(0) : 0;
    if (usedBytesLocked() - replaced + static_cast<int64_t>(text.size()) > quota_) return kStorageFull;
  }
  Statement upsert(statements_, db_,
                   "INSERT INTO symlinks(agent, text, updated) VALUES(?, ?, ?)"
                   " ON CONFLICT(agent) DO UPDATE SET text = excluded.text, updated = excluded.updated");
  return upsert.bind(1, agent).bind(2, text).bind(3, now()).done() ? kSuccess : kInvalidValues;
}

std::string CacheStore::symLinks(const std::string& agent) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement query(statements_, db_, "SELECT text FROM symlinks WHERE agent = ?");
  return query.bind(1, agent).row() ? query.text(0) : "";
}

int CacheStore::storeGhost(const std::string& agent, const std::string& path, const std::string& receivedFile,
                           int64_t size) {
  std::string key = catalogueKey(agent, path);
  std::string storage = "ghosts/" + hashOf(key) + ".xml";
  std::lock_guard<std::mutex> lock(mutex_);
  settleLocked();
  if (quota_ >= 0) {
    Statement old(statements_, db_, "SELECT size FROM ghosts WHERE path = ?");
    int64_t replaced = old.bind(1, key).row() ? old.integer(0) : 0;
    if (usedBytesLocked() - replaced + size > quota_) {
      removeQuietly(receivedFile);
      return kStorageFull;
    }
  }
  if (!env_.renameFile(receivedFile, root_ + "/" + storage)) {
    removeQuietly(receivedFile);
    return kNoFileAttached;
  }
  Statement upsert(statements_, db_,
                   "INSERT INTO ghosts(path, storage, size, updated) VALUES(?, ?, ?, ?)"
                   " ON CONFLICT(path) DO UPDATE SET size = excluded.size, updated = excluded.updated");
  return upsert.bind(1, key).bind(2, storage).bind(3, size).bind(4, now()).done() ? kSuccess : kNoFileAttached;
}

std::string CacheStore::ghostDocument(const std::string& agent, const std::string& path) {
  std::string storage;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement query(statements_, db_, "SELECT storage FROM ghosts WHERE path = ?");
    if (!query.bind(1, catalogueKey(agent, path)).row()) return "";
    storage = query.text(0);
  }
  std::string content;
  platform::readFileToString(root_ + "/" + storage, &content);
  return content;
}

}  // namespace localservice
