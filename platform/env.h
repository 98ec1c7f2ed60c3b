// The file system as the rest of the product sees it. Every file operation of
// the product goes through an Env so that tests can swap in one that fails on
// purpose (a full disk, a rename that fails) and prove the error paths.
//
// Paths given to an Env are host paths; logical (Windows) paths are mapped
// with platform::hostPath() first. All operations are safe to call from
// several threads at once on distinct files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

struct FileInfo {
  uint64_t size = 0;
  int64_t modifiedUnixSeconds = 0;  // last write time
  int32_t modifiedNanoseconds = 0;  // its sub-second part, where the system keeps one
  bool isDirectory = false;
  // A plain file (not a folder, pipe, device or socket): the only kind whose
  // reading always ends.
  bool isRegular = false;
  // Readable by this process as far as the permission bits tell (owner,
  // group and others; supplementary groups and access lists are not
  // examined, so a false is to be confirmed with canRead()).
  bool mayRead = true;
  // Writable by the group or everyone, or owned by another user (not root):
  // someone else could change what we read from it.
  bool othersMayWrite = false;
  // Which file the name leads to (device and inode); 0 where unknown. A
  // file replaced under the same name gets another one.
  uint64_t device = 0;
  uint64_t fileId = 0;

  // The same content as far as the file system tells: same file, size and
  // last write time.
  bool sameVersion(const FileInfo& other) const {
    return size == other.size && modifiedUnixSeconds == other.modifiedUnixSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && device == other.device && fileId == other.fileId;
  }
  // The version as one text ("size:seconds:nanoseconds:device:file"), to
  // be compared with versionText() of a later look at the same name.
  std::string versionText() const;
  // Reads a versionText() back into the version fields; false for another text.
  bool parseVersionText(const std::string& text);
};

// A file opened for sequential reading. REQUIRES: external synchronization.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to n bytes into buf. Returns the count read (0 at end of file)
  // or -1 on failure.
  virtual int64_t read(char* buf, size_t n) = 0;
  // Moves the reading position to `offset` from the start; false when the
  // file cannot seek there (the position is then unknown).
  virtual bool seek(uint64_t offset) = 0;
};

// One entry of a folder as a scan sees it: a symbolic link is reported as
// a link, with the link's own data, never followed.
struct DirectoryEntry {
  enum class Kind { File, Directory, Link, Other };
  std::string name;
  Kind kind = Kind::Other;
  FileInfo info;  // size and times of files; what the system tells for the rest
};

// A file opened for writing from its start. REQUIRES: external synchronization.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Returns false when not all n bytes could be written.
  virtual bool append(const char* data, size_t n) = 0;
  // Makes the written bytes durable. Returns false on failure.
  virtual bool sync() = 0;
  // Returns false when buffered data could not be written. Idempotent.
  virtual bool close() = 0;
  // Sets the file's permission bits and last write time through the open
  // file (no second look-up of its name). False where not supported.
  virtual bool setMode(uint32_t mode) {
    (void)mode;
    return false;
  }
  virtual bool setModifiedTime(int64_t unixSeconds, int32_t nanoseconds) {
    (void)unixSeconds;
    (void)nanoseconds;
    return false;
  }
};

class Env {
 public:
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env() = default;

  // The real file system. Never deleted.
  static Env* defaultEnv();

  virtual bool fileExists(const std::string& path) = 0;
  // False when the path cannot be examined.
  virtual bool getFileInfo(const std::string& path, FileInfo* info) = 0;
  // Opens for reading; *file is set on success and left null otherwise.
  virtual Status openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) = 0;
  // Creates or truncates.
  virtual Status openWritable(const std::string& path, std::unique_ptr<WritableFile>* file) = 0;
  // Opens for appending, creating the file when needed.
  virtual Status openAppendable(const std::string& path, std::unique_ptr<WritableFile>* file) = 0;
  // Creates a new file: fails when anything is at `path`, a link (even a
  // dangling one) included, so nothing planted there is written through.
  virtual Status createExclusive(const std::string& path, std::unique_ptr<WritableFile>* file) = 0;
  // Creates or truncates, but refuses a link at `path` (the message names it).
  virtual Status openWritableNoLink(const std::string& path, std::unique_ptr<WritableFile>* file) = 0;
  // Replaces `to` atomically when it exists.
  virtual Status renameFile(const std::string& from, const std::string& to) = 0;
  virtual bool removeFile(const std::string& path) = 0;
  // Removes a folder and everything below it; true when nothing is left.
  virtual bool removeTree(const std::string& path) = 0;
  // Creates the folder and its missing parents; true when it exists afterwards.
  virtual bool createDirectories(const std::string& path) = 0;
  // Names (not paths) of the entries of a folder, without "." and "..".
  virtual bool listDirectory(const std::string& path, std::vector<std::string>* names) = 0;
  // The entries of a folder with their kind and data, in one pass (no
  // separate look at each name where the system allows it), without "."
  // and "..". An entry that vanishes meanwhile is left out.
  virtual Status scanDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) = 0;

  // Bytes free for this process on the file system that holds `path`; -1
  // when it cannot be told.
  virtual int64_t freeBytes(const std::string& path);

  // What the free functions below do, as operations of this Env; by
  // default on the real file system.
  virtual std::string resolvedPath(const std::string& path);
  virtual std::string finalLinkTarget(const std::string& path);
  virtual bool copyFileAccess(const std::string& from, const std::string& to);
  virtual bool canRead(const std::string& path);
  virtual bool setModifiedTime(const std::string& path, int64_t unixSeconds);
  // Makes every file written on the file system that holds the folder
  // `path` durable at once (cheaper than a sync of each); refused where the
  // system cannot, and each file is then to be synced itself.
  virtual Status syncFileSystem(const std::string& path);

  // Asks whether a file operation that a library makes with its own I/O
  // (SQLite's writes to the file index) may go ahead: `operation` is one of
  // "open", "append", "sync", "remove". The real file system always says
  // yes; a test's Env may refuse one, and the library then sees an I/O error.
  virtual bool permitForeignOperation(const char* operation, const std::string& path) {
    (void)operation;
    (void)path;
    return true;
  }
};

// Forwards every call to another Env; a test overrides the one it breaks.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  bool fileExists(const std::string& p) override { return target_->fileExists(p); }
  bool getFileInfo(const std::string& p, FileInfo* i) override { return target_->getFileInfo(p, i); }
  Status openReadable(const std::string& p, std::unique_ptr<ReadableFile>* f) override {
    return target_->openReadable(p, f);
  }
  Status openWritable(const std::string& p, std::unique_ptr<WritableFile>* f) override {
    return target_->openWritable(p, f);
  }
  Status openAppendable(const std::string& p, std::unique_ptr<WritableFile>* f) override {
    return target_->openAppendable(p, f);
  }
  Status createExclusive(const std::string& p, std::unique_ptr<WritableFile>* f) override {
    return target_->createExclusive(p, f);
  }
  Status openWritableNoLink(const std::string& p, std::unique_ptr<WritableFile>* f) override {
    return target_->openWritableNoLink(p, f);
  }
  Status renameFile(const std::string& f, const std::string& t) override { return target_->renameFile(f, t); }
  bool removeFile(const std::string& p) override { return target_->removeFile(p); }
  bool removeTree(const std::string& p) override { return target_->removeTree(p); }
  bool createDirectories(const std::string& p) override { return target_->createDirectories(p); }
  bool listDirectory(const std::string& p, std::vector<std::string>* n) override {
    return target_->listDirectory(p, n);
  }
  Status scanDirectory(const std::string& p, std::vector<DirectoryEntry>* e) override {
    return target_->scanDirectory(p, e);
  }
  int64_t freeBytes(const std::string& p) override { return target_->freeBytes(p); }
  std::string resolvedPath(const std::string& p) override { return target_->resolvedPath(p); }
  std::string finalLinkTarget(const std::string& p) override { return target_->finalLinkTarget(p); }
  bool copyFileAccess(const std::string& f, const std::string& t) override { return target_->copyFileAccess(f, t); }
  bool canRead(const std::string& p) override { return target_->canRead(p); }
  bool setModifiedTime(const std::string& p, int64_t s) override { return target_->setModifiedTime(p, s); }
  Status syncFileSystem(const std::string& p) override { return target_->syncFileSystem(p); }
  bool permitForeignOperation(const char* o, const std::string& p) override {
    return target_->permitForeignOperation(o, p);
  }

 private:
  Env* target_;
};

// The Env the product uses: the default one unless a test installed another.
Env* env();

// Installs `replacement` for the lifetime of this object (tests only).
class ScopedEnvOverride {
 public:
  explicit ScopedEnvOverride(Env* replacement);
  ~ScopedEnvOverride();
  ScopedEnvOverride(const ScopedEnvOverride&) = delete;
  ScopedEnvOverride& operator=(const ScopedEnvOverride&) = delete;

 private:
  Env* previous_;
};

// The file a chain of symbolic links ends at (a relative link is taken from
// its own folder); the path itself when it is no link, or after 40 links (a
// loop). The end may not exist (a dangling link). Windows: the path itself.
std::string finalLinkTarget(const std::string& path);

// Gives `to` what decides who may use `from`: its permission bits, and its
// owner and group where the process may change them (POSIX), or its access
// list (Windows). False when `from` cannot be examined or `to` not changed.
bool copyFileAccess(const std::string& from, const std::string& to);

// True when this process may open the file for reading.
bool canRead(const std::string& path);

// The absolute path with every link, "." and ".." resolved; empty when the
// path does not exist or cannot be resolved. Windows: the full path name.
std::string resolvedPath(const std::string& path);

// Sets a file's last-write time (seconds since 1970, UTC). False on failure.
bool setModifiedTime(const std::string& path, int64_t unixSeconds);

// Reads a whole file through `env` (the second form: through env()).
Status readFileToString(Env& env, const std::string& path, std::string* out);
Status readFileToString(const std::string& path, std::string* out);

}  // namespace platform
