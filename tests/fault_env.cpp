#include "tests/fault_env.h"

#include "platform/path.h"
#include "platform/process.h"

namespace testsupport {
namespace {

// A writable file whose append, sync and close are counted too.
class FaultFile : public platform::WritableFile {
 public:
  FaultFile(FaultEnv& env, std::unique_ptr<platform::WritableFile> file, std::string path)
      : env_(env), file_(std::move(file)), path_(std::move(path)) {}
  bool append(const char* data, size_t n) override { return env_.allow("append", path_) && file_->append(data, n); }
  bool sync() override { return env_.allow("sync", path_) && file_->sync(); }
  bool close() override {
    if (closed_) return true;
    closed_ = true;
    bool allowed = env_.allow("close", path_);
    return file_->close() && allowed;  // closed either way: no handle is left open
  }

 private:
  FaultEnv& env_;
  std::unique_ptr<platform::WritableFile> file_;
  std::string path_;
  bool closed_ = false;
};

}  // namespace

bool FaultEnv::allow(const char* operation, const std::string& given) {
  // A relative path is one below the current folder.
  bool absolute = !given.empty() && (given[0] == '/' || given[0] == '\\' || platform::hasDriveLetter(given));
  std::string path = absolute ? given : platform::joinPath(platform::currentFolder(), given);
  if (path.compare(0, scope_.size(), scope_) != 0) return true;
  int64_t n = ++count_;
  if (n != failAt_.load()) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = std::string(operation) + " " + path;
  return false;
}

std::unique_ptr<platform::ReadableFile> FaultEnv::openReadable(const std::string& p, std::string* e) {
  if (!allow("open", p)) {
    if (e) *e = "cannot open " + p + ": input/output error (injected)";
    return nullptr;
  }
  return target()->openReadable(p, e);
}

std::unique_ptr<platform::WritableFile> FaultEnv::openWritable(const std::string& p, std::string* e) {
  if (!allow("open", p)) {
    if (e) *e = "cannot open for writing " + p + ": input/output error (injected)";
    return nullptr;
  }
  return wrap(target()->openWritable(p, e), p);
}

std::unique_ptr<platform::WritableFile> FaultEnv::openAppendable(const std::string& p, std::string* e) {
  if (!allow("open", p)) {
    if (e) *e = "cannot open for appending " + p + ": input/output error (injected)";
    return nullptr;
  }
  return wrap(target()->openAppendable(p, e), p);
}

bool FaultEnv::renameFile(const std::string& f, const std::string& t, std::string* e) {
  if (!allow("rename", t)) {
    if (e) *e = "cannot rename " + f + " to " + t + ": input/output error (injected)";
    return false;
  }
  return target()->renameFile(f, t, e);
}

std::unique_ptr<platform::WritableFile> FaultEnv::wrap(std::unique_ptr<platform::WritableFile> file,
                                                      const std::string& path) {
  if (!file) return nullptr;
  return std::make_unique<FaultFile>(*this, std::move(file), path);
}

}  // namespace testsupport
