#include "bindings/zrcore/file.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "platform/known_folders.h"
#include "platform/path.h"
#include "platform/process.h"

namespace ZR {

CFile::CFile(platform::Env& env, const std::string& path, const char* mode)
    : env_(env), hostPath_(platform::hostPath(path)) {
  if (mode && std::strcmp(mode, "r") == 0) {
    error_ = env_.openReadable(hostPath_, &reader_).message();
  } else if (mode && std::strcmp(mode, "w") == 0) {
    error_ = env_.openWritable(hostPath_, &writer_).message();
  } else {
    error_ = "unsupported file mode";
  }
}

CFile::CFile(const std::string& path, const char* mode) : CFile(*platform::env(), path, mode) {}

CFile::~CFile() { close(); }

int64_t CFile::size() const {
  platform::FileInfo info;
  if (!env_.getFileInfo(hostPath_, &info)) return -1;
  return static_cast<int64_t>(info.size);
}

int64_t CFile::read(void* buffer, size_t count) {
  if (!reader_) return -1;
  return reader_->read(static_cast<char*>(buffer), count);
}

bool CFile::seek(uint64_t offset) { return reader_ && reader_->seek(offset); }

int64_t CFile::write(const void* data, size_t count) {
  if (!writer_) return -1;
  if (!writer_->append(static_cast<const char*>(data), count)) {
    error_ = "cannot write " + hostPath_;
    return -1;
  }
  return static_cast<int64_t>(count);
}

bool CFile::close() {
  reader_.reset();
  if (!writer_) return true;
  bool ok = writer_->close();
  writer_.reset();
  if (!ok) error_ = "cannot store " + hostPath_;
  return ok;
}

namespace {

std::string temporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return target + ".tmp-" + std::to_string(platform::processId()) + "-" + std::to_string(counter++);
}

// The process id in a temporary's name "<target>.tmp-<pid>-<n>"; 0 when the
// name is not one of the target's temporaries.
int writerOfTemporary(const std::string& name, const std::string& targetName) {
  const std::string prefix = targetName + ".tmp-";
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t dash = name.find('-', prefix.size());
  if (dash == std::string::npos || dash == prefix.size() || dash - prefix.size() > 9) return 0;
  int pid = 0;
  for (size_t i = prefix.size(); i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

// True the first time a process asks for a target: a dead writer's
// temporary can only be older than this process's first write of the file,
// so one look per file and process is enough (a folder of many files is not
// listed again on every write).
bool firstCommitOf(const std::string& target) {
  static std::mutex mutex;
  static std::set<std::string> seen;
  std::lock_guard<std::mutex> lock(mutex);
  return seen.insert(target).second;
}

// Temporaries of the target left by writers that were killed: removed once
// a later write of the same file succeeds, so they never pile up.
void removeAbandonedTemporaries(platform::Env& env, const std::string& target) {
  std::string folder = platform::parentFolder(target);
  std::string targetName = CFileUtils::fileNameFromPath(target);
  std::vector<std::string> names;
  if (!env.listDirectory(folder, &names)) return;
  for (const std::string& name : names) {
    int pid = writerOfTemporary(name, targetName);
    if (pid != 0 && pid != platform::processId() && !platform::processAlive(pid)) {
      env.removeFile(platform::joinPath(folder, name));
    }
  }
}

}  // namespace

// A symbolic link is written through: the file it leads to is replaced (the
// temporary beside it), and the link stays; unless links are refused.
CAtomicFile::CAtomicFile(platform::Env& env, const std::string& path, bool durable, LinkAtTarget links)
    : env_(env), target_(platform::hostPath(path)), durable_(durable) {
  if (target_.empty()) {
    error_ = "no file name given";
    return;
  }
  std::string followed = env_.finalLinkTarget(target_);
  if (followed != target_ && links == LinkAtTarget::Refuse) {
    error_ = target_ + " is a link; it is not written through (remove it if it is not yours)";
    return;
  }
  target_ = followed;
  // A name taken (by a planted file or link) is passed over for the next.
  for (int attempt = 0; attempt < 8 && !writer_; ++attempt) {
    temporary_ = temporaryNameFor(target_);
    platform::Status created = env_.createExclusive(temporary_, &writer_);
    error_ = created.message();
    if (created.code() != platform::Status::kExists) break;
  }
  if (!writer_) {
    if (error_.empty()) error_ = "cannot create " + temporary_;
    temporary_.clear();
    return;
  }
  error_.clear();
  // The new version keeps who may read and change the old one, before any
  // of its content is written.
  if (env_.fileExists(target_)) env_.copyFileAccess(target_, temporary_);
}

CAtomicFile::~CAtomicFile() { discard(); }

bool CAtomicFile::append(const std::string& data) { return append(data.data(), data.size()); }

bool CAtomicFile::append(const char* data, size_t count) {
  if (!isValid()) return false;
  if (!writer_->append(data, count)) {
    error_ = "cannot write " + temporary_ + " (disk full?)";
    return false;
  }
  return true;
}

bool CAtomicFile::commit() {
  if (!isValid()) return false;
  if ((durable_ && !writer_->sync()) || !writer_->close()) {
    error_ = "cannot store " + temporary_ + " (disk full?)";
    discard();
    return false;
  }
  writer_.reset();
  if (platform::Status renamed = env_.renameFile(temporary_, target_); !renamed) {
    error_ = renamed.message();
    discard();
    return false;
  }
  temporary_.clear();
  if (firstCommitOf(target_)) removeAbandonedTemporaries(env_, target_);
  return true;
}

void CAtomicFile::discard() {
  if (writer_) {
    writer_->close();
    writer_.reset();
  }
  if (!temporary_.empty()) {
    env_.removeFile(temporary_);
    temporary_.clear();
  }
}

bool CFileUtils::fileExists(platform::Env& env, const std::string& path) {
  return env.fileExists(platform::hostPath(path));
}

bool CFileUtils::fileExists(const std::string& path) { return fileExists(*platform::env(), path); }

bool CFileUtils::getFileInfo(platform::Env& env, const std::string& path, CFileInfo& info) {
  return env.getFileInfo(platform::hostPath(path), &info);
}

bool CFileUtils::getFileInfo(const std::string& path, CFileInfo& info) {
  return getFileInfo(*platform::env(), path, info);
}

std::string CFileUtils::fileNameFromPath(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool CFileUtils::writeFileAtomically(platform::Env& env, const std::string& path, const std::string& content,
                                     std::string& error, bool durable, LinkAtTarget links) {
  CAtomicFile file(env, path, durable, links);
  if (file.append(content) && file.commit()) return true;
  error = file.lastError();
  return false;
}

bool CFileUtils::readFile(platform::Env& env, const std::string& path, std::string& content, std::string& error) {
  platform::Status read = platform::readFileToString(env, platform::hostPath(path), &content);
  error = read.message();
  return read.isOk();
}

namespace {

std::string folderHostPath(const std::string& path) {
  std::string host = platform::hostPath(path);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  return host;
}

}  // namespace

bool CDir::removeDirectory(platform::Env& env, const std::string& path, bool recursive) {
  std::string host = folderHostPath(path);
  if (!recursive) {
    std::vector<std::string> names;
    if (env.listDirectory(host, &names) && !names.empty()) return false;
  }
  return env.removeTree(host);
}

bool CDir::removeDirectory(const std::string& path, bool recursive) {
  return removeDirectory(*platform::env(), path, recursive);
}

bool CDir::createDirectory(platform::Env& env, const std::string& path) {
  return env.createDirectories(folderHostPath(path));
}

std::string CAppUtil::getExeFolder() { return platform::executableFolder(); }

namespace {

bool knownFolder(platform::KnownFolder which, std::string& path, bool create) {
  std::string host = platform::knownFolderPath(which, create);
  if (host.empty()) return false;
  path = platform::logicalPath(host);
  return true;
}

}  // namespace

bool CSpecialFolder::getDocumentsPath(std::string& path, bool create) {
  return knownFolder(platform::KnownFolder::Documents, path, create);
}
bool CSpecialFolder::getPicturesPath(std::string& path, bool create) {
  return knownFolder(platform::KnownFolder::Pictures, path, create);
}
bool CSpecialFolder::getMusicPath(std::string& path, bool create) {
  return knownFolder(platform::KnownFolder::Music, path, create);
}
bool CSpecialFolder::getDesktopPath(std::string& path, bool create) {
  return knownFolder(platform::KnownFolder::Desktop, path, create);
}

}  // namespace ZR
