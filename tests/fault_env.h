// An Env whose n-th file operation fails, for the I/O-fault tests in the
// manner of SQLite's: a clean run counts the operations, then the run is
// repeated failing the 1st, the 2nd, ... the n-th, and each ending is
// checked. Operations: open (for reading, writing or appending, and folder
// creation), append, sync, close, rename, remove (a file or a tree), stat
// (existence, file information, folder listings), and the operations that
// libraries with their own I/O ask for (Env::permitForeignOperation). Only
// operations on paths that begin with `scope` count. Safe from several
// threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/env.h"

namespace testsupport {

class FaultEnv : public platform::EnvWrapper {
 public:
  FaultEnv(platform::Env* target, std::string scope) : EnvWrapper(target), scope_(std::move(scope)) {}

  // The n-th counted operation from now on fails (counting from 1); 0: none.
  void failAt(int64_t n) {
    count_.store(0);
    failAt_.store(n);
    std::lock_guard<std::mutex> lock(mutex_);
    failure_.clear();
  }
  int64_t operations() const { return count_.load(); }
  // "append /path" of the operation that failed; empty when none did.
  std::string failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }
  std::string failedPath() const {
    std::string f = failure();
    return f.substr(f.find(' ') + 1);
  }

  // True when the operation may go ahead (it is counted when in scope).
  bool allow(const char* operation, const std::string& path);

  bool fileExists(const std::string& p) override { return allow("stat", p) && target()->fileExists(p); }
  bool getFileInfo(const std::string& p, platform::FileInfo* i) override {
    return allow("stat", p) && target()->getFileInfo(p, i);
  }
  platform::Status openReadable(const std::string& p, std::unique_ptr<platform::ReadableFile>* f) override;
  platform::Status openWritable(const std::string& p, std::unique_ptr<platform::WritableFile>* f) override;
  platform::Status openAppendable(const std::string& p, std::unique_ptr<platform::WritableFile>* f) override;
  platform::Status createExclusive(const std::string& p, std::unique_ptr<platform::WritableFile>* f) override;
  platform::Status openWritableNoLink(const std::string& p, std::unique_ptr<platform::WritableFile>* f) override;
  platform::Status renameFile(const std::string& f, const std::string& t) override;
  bool removeFile(const std::string& p) override { return allow("remove", p) && target()->removeFile(p); }
  bool removeTree(const std::string& p) override { return allow("remove", p) && target()->removeTree(p); }
  bool createDirectories(const std::string& p) override {
    return allow("open", p) && target()->createDirectories(p);
  }
  bool listDirectory(const std::string& p, std::vector<std::string>* n) override {
    return allow("stat", p) && target()->listDirectory(p, n);
  }
  platform::Status scanDirectory(const std::string& p, std::vector<platform::DirectoryEntry>* e) override {
    if (!allow("stat", p)) return platform::Status::ioError("cannot list " + p + ": injected failure");
    return target()->scanDirectory(p, e);
  }
  bool permitForeignOperation(const char* o, const std::string& p) override {
    return allow(o, p) && target()->permitForeignOperation(o, p);
  }

 private:
  platform::Status wrap(platform::Status opened, std::unique_ptr<platform::WritableFile>* file, const std::string& path);

  std::string scope_;
  std::atomic<int64_t> count_{0};
  std::atomic<int64_t> failAt_{0};
  mutable std::mutex mutex_;
  std::string failure_;
};

}  // namespace testsupport
