#include "platform/env.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "platform/folder_handle.h"

namespace platform {
namespace {

std::atomic<Env*> currentEnv{nullptr};

}  // namespace

Env* env() {
  Env* e = currentEnv.load(std::memory_order_acquire);
  return e ? e : Env::defaultEnv();
}

ScopedEnvOverride::ScopedEnvOverride(Env* replacement) : previous_(currentEnv.exchange(replacement)) {}

ScopedEnvOverride::~ScopedEnvOverride() { currentEnv.store(previous_); }

std::string Env::resolvedPath(const std::string& path) { return ::platform::resolvedPath(path); }
std::string Env::finalLinkTarget(const std::string& path) { return ::platform::finalLinkTarget(path); }
bool Env::copyFileAccess(const std::string& from, const std::string& to) {
  return ::platform::copyFileAccess(from, to);
}
bool Env::canRead(const std::string& path) { return ::platform::canRead(path); }
bool Env::setModifiedTime(const std::string& path, int64_t unixSeconds) {
  return ::platform::setModifiedTime(path, unixSeconds);
}

Status Env::syncFileSystem(const std::string& path) {
  std::unique_ptr<FolderHandle> folder;
  if (Status opened = FolderHandle::open(path, &folder); !opened) return opened;
  return folder->syncFileSystem();
}

std::string FileInfo::versionText() const {
  return std::to_string(size) + ":" + std::to_string(modifiedUnixSeconds) + ":" + std::to_string(modifiedNanoseconds) +
         ":" + std::to_string(device) + ":" + std::to_string(fileId);
}

bool FileInfo::parseVersionText(const std::string& text) {
  unsigned long long parsedSize = 0, parsedDevice = 0, parsedFile = 0;
  long long seconds = 0;
  int nanoseconds = 0, consumed = 0;
  if (std::sscanf(text.c_str(), "%llu:%lld:%d:%llu:%llu%n", &parsedSize, &seconds, &nanoseconds, &parsedDevice,
                  &parsedFile, &consumed) != 5 ||
      static_cast<size_t>(consumed) != text.size()) {
    return false;
  }
  size = parsedSize;
  modifiedUnixSeconds = seconds;
  modifiedNanoseconds = nanoseconds;
  device = parsedDevice;
  fileId = parsedFile;
  return true;
}

Status readFileToString(const std::string& path, std::string* out) { return readFileToString(*env(), path, out); }

Status readFileToString(Env& env, const std::string& path, std::string* out) {
  std::unique_ptr<ReadableFile> file;
  Status opened = env.openReadable(path, &file);
  if (!opened) return opened;
  out->clear();
  char buf[65536];
  for (;;) {
    int64_t got = file->read(buf, sizeof buf);
    if (got < 0) return Status::ioError("cannot read " + path);
    if (got == 0) return Status::ok();
    out->append(buf, static_cast<size_t>(got));
  }
}

}  // namespace platform
