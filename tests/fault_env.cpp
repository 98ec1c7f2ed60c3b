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

platform::Status FaultEnv::openReadable(const std::string& p, std::unique_ptr<platform::ReadableFile>* f) {
  if (!allow("open", p)) return platform::Status::ioError("cannot open " + p + ": input/output error (injected)");
  return target()->openReadable(p, f);
}

platform::Status FaultEnv::openWritable(const std::string& p, std::unique_ptr<platform::WritableFile>* f) {
  if (!allow("open", p)) {
    return platform::Status::ioError("cannot open for writing " + p + ": input/output error (injected)");
  }
  return wrap(target()->openWritable(p, f), f, p);
}

platform::Status FaultEnv::createExclusive(const std::string& p, std::unique_ptr<platform::WritableFile>* f) {
  if (!allow("open", p)) return platform::Status::ioError("cannot create " + p + ": input/output error (injected)");
  return wrap(target()->createExclusive(p, f), f, p);
}

platform::Status FaultEnv::openWritableNoLink(const std::string& p, std::unique_ptr<platform::WritableFile>* f) {
  if (!allow("open", p)) {
    return platform::Status::ioError("cannot open for writing " + p + ": input/output error (injected)");
  }
  return wrap(target()->openWritableNoLink(p, f), f, p);
}

platform::Status FaultEnv::openAppendable(const std::string& p, std::unique_ptr<platform::WritableFile>* f) {
  if (!allow("open", p)) {
    return platform::Status::ioError("cannot open for appending " + p + ": input/output error (injected)");
  }
  return wrap(target()->openAppendable(p, f), f, p);
}

platform::Status FaultEnv::renameFile(const std::string& f, const std::string& t) {
  if (!allow("rename", t)) {
    return platform::Status::ioError("cannot rename " + f + " to " + t + ": input/output error (injected)");
  }
  return target()->renameFile(f, t);
}

platform::Status FaultEnv::wrap(platform::Status opened, std::unique_ptr<platform::WritableFile>* file,
                                const std::string& path) {
  if (opened) *file = std::make_unique<FaultFile>(*this, std::move(*file), path);
  return opened;
}

}  // namespace testsupport
