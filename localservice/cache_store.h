// The store of the local cache manager service: files under a root folder
// with a SQLite catalogue. Remote paths are names chosen by clients and
// never used as file-system paths: every stored file lives under a key made
// from a hash, so no name can reach outside the root.
//
// A file goes pending -> attached -> final: createFile opens a pending
// entry, an attachment is stored beside it, and finalizeFile makes it
// visible in one transaction; until then readers see the previous version.
// A finalized file is durable (content and row) before finalizeFile
// returns; finalizations that come together share one sync. The rows of
// uploads under way are written in one open transaction that the next
// group commit ends, so they reach the disk once, not once per call.
// The attachment and the finalizing must come from the session (`owner`,
// its key) whose createFile began the upload: of two clients uploading one
// path, the one that created last wins and the other is refused (-10).
//
// A file replaced by a finalized upload, or deleted, is kept as an earlier
// version for the days the history policy says (none with keepDays 0).
// Versions count toward the quota: an upload that would not fit drops the
// oldest versions first (those that are not the last of their path before
// the others); a current file is never dropped for history.
//
// Identical content of one agent is stored once: a content is named by
// the agent and the content's digest, and is removed only when no row (a
// current file, a pending upload or a kept version) names it any more. A
// file that goes back and forth, or a folder renamed, costs no second copy.
// A small content is kept in the catalogue itself: a file of its own would
// cost the file system more than the content (a store made before keeps its
// small contents in files, and both are read alike).
//
// Each agent's files are its own: a path of one agent does not exist for
// another. The agent "" (a service without an agents file) keeps the paths
// as they are; others are kept under their name.
// Safe from several threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bindings/cabinet/sqlite_statement.h"
#include "platform/env.h"
#include "platform/folder_handle.h"

struct sqlite3;
struct evp_md_ctx_st;

namespace localservice {

// Result codes of the service, as decimal text on the wire.
enum Result {
  kSuccess = -2,
  kNotAuthorized = -3,
  kInvalidAgent = -4,
  kInvalidPath = -5,
  kInvalidMetadata = -6,
  kNoFileAttached = -7,
  kInvalidValues = -8,
  kStorageFull = -9,
  kOutOfSequence = -10,
};

constexpr size_t kMaxRemotePathLength = 4096;

// What is kept of replaced and deleted files.
struct HistoryPolicy {
  int keepDays = 30;     // 0: nothing; a replaced or deleted file is gone at once
  int keepVersions = 0;  // per path; 0: as many as the days hold
};

// The SHA-256 of content as it streams past, in lowercase hexadecimal.
class ContentDigest {
 public:
  ContentDigest();
  ~ContentDigest();
  ContentDigest(const ContentDigest&) = delete;
  ContentDigest& operator=(const ContentDigest&) = delete;
  void update(const void* data, size_t length);
  // Ends the digest; empty when the library failed.
  std::string hex();
  static std::string of(const std::string& content);

 private:
  evp_md_ctx_st* context_;
  bool failed_ = false;
};

class CacheStore {
 public:
  // quotaBytes < 0: no quota.
  // Every file of the store is reached through `env`.
  CacheStore(platform::Env& env, std::string root, int64_t quotaBytes);
  ~CacheStore();
  CacheStore(const CacheStore&) = delete;
  CacheStore& operator=(const CacheStore&) = delete;

  // Before open(): what is kept of replaced and deleted files.
  void setHistory(HistoryPolicy policy) { history_ = policy; }
  const HistoryPolicy& history() const { return history_; }
  // Before open(): how long a group commit waits for the uploads whose
  // content has arrived to be finalized with it.
  void setGroupWindow(std::chrono::milliseconds window) { groupWindow_ = window; }

  // Opens (creating, or bringing an older one up to date) the catalogue and
  // the folders; drops what the history policy no longer keeps and store
  // files no row names (left by a kill between a row's end and its file's
  // removal). False with `error`.
  bool open(std::string& error);

  // Contents up to this size are kept in the catalogue, larger ones in a file each.
  static constexpr int64_t kCatalogueContentBytes = 64 * 1024;

  // A fresh path for an incoming attachment under the root.
  std::string incomingPath();

  // -8 for a path that is empty, too long, not UTF-8 or holds characters a
  // listing (XML 1.0) cannot carry.
  int createFile(const std::string& agent, const std::string& owner, const std::string& path,
                 const std::string& metadata);
  // Takes the received file (moved into the store, or removed when the
  // agent's store holds that content already). `digest`: the content's
  // ContentDigest.
  int attachFile(const std::string& agent, const std::string& owner, const std::string& path,
                 const std::string& receivedFile, int64_t size, const std::string& digest);
  // The same for a content received into memory (at most kCatalogueContentBytes).
  int attachContent(const std::string& agent, const std::string& owner, const std::string& path,
                    const std::string& content, const std::string& digest);
  int finalizeFile(const std::string& agent, const std::string& owner, const std::string& path,
                   const std::string* metadata);
  int deleteFile(const std::string& agent, const std::string& path);

  struct StoredFile {
    std::string path;
    int64_t size = 0;
    int64_t updated = 0;
    std::string metadata;
    int64_t version = 0;  // a kept version's id; 0: the current file
  };
  // Final files whose path lies under `folder` (the folder itself excluded).
  std::vector<StoredFile> filesUnder(const std::string& agent, const std::string& folder);
  std::vector<StoredFile> filesUnder(const std::string& folder) { return filesUnder("", folder); }
  bool fileInfo(const std::string& agent, const std::string& path, StoredFile& file);
  bool fileInfo(const std::string& path, StoredFile& file) { return fileInfo("", path, file); }
  // Where a stored content is: in a file, or (small ones) in the catalogue.
  struct Content {
    bool found = false;
    std::string file;   // host path; empty when the bytes are here
    std::string bytes;  // the content, when kept in the catalogue
    // The whole content; false when it cannot be read.
    bool read(platform::Env& env, std::string* out) const;
  };
  // A final file's content; not found when there is none.
  Content content(const std::string& agent, const std::string& path);
  Content content(const std::string& path) { return content("", path); }
  // An earlier version of a path: when it became current and when it was
  // replaced (or deleted).
  struct StoredVersion {
    int64_t id = 0;
    std::string path;
    int64_t size = 0;
    int64_t became = 0;
    int64_t ended = 0;
    bool deleted = false;  // ended by a deletion, not by a new version
    std::string metadata;
  };
  // The kept versions of a path, oldest first.
  std::vector<StoredVersion> versionsOf(const std::string& agent, const std::string& path);
  // A kept version's content; not found when the agent has none by that id.
  Content versionContent(const std::string& agent, int64_t id);
  // The files under `folder` as they were at `when` (seconds since 1970):
  // the current ones that were already there, and the kept versions that
  // were current then (deleted since or replaced), by path.
  std::vector<StoredFile> filesAt(const std::string& agent, const std::string& folder, int64_t when);
  // Drops the versions the policy no longer keeps (ended more than the
  // days before `nowSeconds`, or beyond the count of their path); returns
  // how many.
  size_t pruneHistory(int64_t nowSeconds);

  // Every byte the store keeps: files, kept versions, pending copies, ghost
  // documents and symbolic-link texts.
  int64_t usedBytes();
  int64_t quota() const { return quota_; }
  // How many contents the catalogue keeps itself (the others have a file each).
  int64_t catalogueContentCount();

  // Agent data, by agent name.
  // -9 when the text would pass the quota.
  int setSymLinks(const std::string& agent, const std::string& text);
  std::string symLinks(const std::string& agent);
  // Stores a ghost document for a remote path (from a received file).
  int storeGhost(const std::string& agent, const std::string& path, const std::string& receivedFile, int64_t size);
  std::string ghostDocument(const std::string& agent, const std::string& path);
  std::string ghostDocument(const std::string& path) { return ghostDocument("", path); }
  // -9 when keeping `bytes` more would pass the quota.
  int roomFor(int64_t bytes);

  const std::string& root() const { return root_; }
  platform::Env& env() const { return env_; }
  // True where the file system cannot be synced at once: each received
  // content is then synced before it is attached.
  bool syncsEachContent() const { return syncEachContent_; }

  // True when the disk under the root has less than `needed` bytes (and
  // a small reserve) left: a write that failed then failed for room, and
  // the answer is "store full" (-9). Said through the reporter.
  bool diskFull(int64_t needed);
  // Where the store tells of a full disk or quota (once a minute at most);
  // default: nowhere.
  void setReporter(std::function<void(const std::string&)> reporter) { reporter_ = std::move(reporter); }
  // Says that an upload was refused for room.
  void reportFull(const std::string& why);

 private:
  bool exec(const char* sql);
  int64_t usedBytesLocked();
  std::string storageFor(const std::string& agent, const std::string& digest) const;
  static std::string hashOf(const std::string& text);

  void removeQuietly(const std::string& path);
  // What attachFile and attachContent received: a file, or bytes in memory.
  struct Received {
    const std::string& file;
    const std::string* bytes;  // null: in `file`
    int64_t size;
    const std::string& digest;
  };
  int attach(const std::string& agent, const std::string& owner, const std::string& path, const Received& received);
  // Keeps a received content under its storage name. REQUIRES: mutex_ held.
  bool keepContentLocked(const Received& received, const std::string& storage);
  // The content a row names, from the catalogue or its file. REQUIRES: mutex_ held.
  Content contentLocked(const std::string& storage);
  bool inCatalogueLocked(const std::string& storage);
  // How many rows name a store file (current, pending and kept). REQUIRES: mutex_ held.
  int64_t referencesLocked(const std::string& storage);
  // Removes a content that no row names any more (a file only once that
  // is committed). REQUIRES: mutex_ held.
  void releaseLocked(const std::string& storage);
  // The transaction of uploads under way: joined (begun when none is open)
  // by createFile and attachFile, ended by the next group commit or by any
  // other change. REQUIRES: mutex_ held.
  void joinGroupTransactionLocked();
  // Commits it, durably (rolls it back when that fails), then removes the
  // files it released; false when it did not commit.
  bool commitGroupLocked();
  // Commits an open group transaction before a change of another kind.
  void settleLocked();

  // History. REQUIRES: mutex_ held.
  bool keepsHistory() const { return history_.keepDays > 0; }
  // Records the current version of `key` as ended at `when` (its content
  // stays where it is). False when the row cannot be written.
  bool keepCurrentLocked(const std::string& key, int64_t when, bool deleted);
  // Drops the oldest kept versions until `bytes` more fit the quota; false
  // when they do not fit even without any.
  bool makeRoomLocked(int64_t bytes);
  // Ends the rows of the versions with these ids, then removes their files.
  size_t dropVersionsLocked(const std::vector<int64_t>& ids);
  // Removes store files that no row of the catalogue names.
  void removeOrphansLocked();

  platform::Env& env_;
  std::string root_;
  int64_t quota_;
  HistoryPolicy history_;
  sqlite3* db_ = nullptr;
  ZR::CSqliteStatementCache statements_;  // the few statements, prepared once
  // -9 when the disk is full, else `otherwise`.
  int fullOr(int otherwise);

  // A finalization waiting for its group's commit.
  struct Finalizing {
    std::string key, owner, storage, old, metadata;
    bool inFile = true;  // its content has a file of its own, which must reach the disk
    int result = kOutOfSequence;
    bool done = false;
  };
  // Commits every staged finalization. REQUIRES: mutex_ held (released
  // while the contents are synced).
  void commitStaged(std::unique_lock<std::mutex>& lock);
  // Waits a moment for the uploads whose content has arrived to be staged
  // too. REQUIRES: mutex_ held (released while waiting).
  void awaitCompanions(std::unique_lock<std::mutex>& lock);
  // The upload of `key` is no longer awaited. REQUIRES: mutex_ held.
  void stopAwaitingLocked(const std::string& key);
  void syncFoldersOf(const std::vector<Finalizing*>& batch);

  std::mutex mutex_;
  std::vector<std::string> released_;  // files to remove once the open transaction commits
  std::vector<Finalizing*> staged_;
  // Uploads whose content has arrived and whose finalization is one round
  // trip away, by catalogue key: when the content arrived.
  std::map<std::string, std::chrono::steady_clock::time_point> awaitingFinalize_;
  std::condition_variable staging_;
  std::chrono::milliseconds groupWindow_{2};
  bool committing_ = false;
  std::condition_variable committed_;
  std::unique_ptr<platform::FolderHandle> rootHandle_;  // to sync the folders that gain names
  bool syncEachContent_ = true;                         // no sync of the whole file system here
  std::function<void(const std::string&)> reporter_;
  std::mutex reportMutex_;
  int64_t lastReportMs_ = -1;
};

bool validRemotePath(const std::string& path);
// The catalogue's key of an agent's path: the agent "" keeps the path as
// it is; others put their name and a separator no accepted path holds (a
// control character) before it.
std::string catalogueKey(const std::string& agent, const std::string& path);
// The path of a catalogue key, when the key is the agent's; false otherwise.
bool pathOfAgentKey(const std::string& agent, const std::string& key, std::string& path);
std::string randomHex(size_t bytes);

}  // namespace localservice
