#include "agent/restore_target.h"

#include <cstdio>
#include <cstdlib>

#include "bindings/zrcore/string_utils.h"
#include "platform/process.h"

namespace agent {
namespace {

constexpr const char* kTemporaryPrefix = ".cacheagent-";
constexpr const char* kTemporarySuffix = ".part";
// A batch is published when it holds this many files or bytes.
constexpr size_t kBatchFiles = 256;
constexpr uint64_t kBatchBytes = 64ull << 20;

// The process that wrote a temporary, from its name; 0 when it is none of ours.
int writerOf(const std::string& name) {
  if (name.rfind(kTemporaryPrefix, 0) != 0 || name.size() < 6 ||
      name.compare(name.size() - 5, 5, kTemporarySuffix) != 0) {
    return 0;
  }
  return std::atoi(name.c_str() + 12);
}

std::string joined(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i ? "/" : "") + parts[i];
  return out;
}

bool fitsHere(const std::string& name) { return platform::legalFileName(name) && writerOf(name) == 0; }

}  // namespace

std::string substituteName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    std::string one(1, static_cast<char>(c));
    bool legal = c >= 0x80 || platform::legalFileName("a" + one + "a");
    if (legal && c != '%') {
      out += one;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  if (!out.empty() && (out.back() == '.' || out.back() == ' ')) out += "%";
  if (!platform::legalFileName(out)) {
    // Too long (or a device name): cut, with a hash of the whole.
    std::string hash = ZR::CStringUtils::hashHex(name);
    out = out.substr(0, 160);
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
    if (!out.empty()) out.pop_back();
    out = "%" + out + "~" + hash;
  }
  return out;
}

PendingFile::PendingFile(RestoreTarget& target, std::shared_ptr<platform::FolderHandle> folder, std::string temporary,
                         std::string name, std::unique_ptr<platform::WritableFile> out)
    : target_(target), folder_(std::move(folder)), temporary_(std::move(temporary)), name_(std::move(name)),
      out_(std::move(out)) {}

PendingFile::~PendingFile() {
  if (!done_) abandon();
}

bool PendingFile::write(const char* data, size_t size) {
  if (writeFailed_ || !out_->append(data, size)) writeFailed_ = true;
  bytes_ += size;
  return !writeFailed_;
}

std::string PendingFile::finish(bool timeKnown, int64_t modifiedSeconds) {
  std::string problem;
  bool synced = !target_.syncEachFile_ || out_->sync();
  modeSet_ = out_->setMode(target_.fileMode_);
  if (modeSet_ && timeKnown && out_->setModifiedTime(modifiedSeconds, 0)) timeKnown = false;  // nothing left to set by name
  if (writeFailed_ || !synced || !out_->close()) {
    problem = "cannot write " + folder_->path() + "/" + name_;
  } else {
    setModeAndTime(timeKnown, modifiedSeconds, problem);
  }
  if (!problem.empty()) {
    abandon();
    return problem;
  }
  done_ = true;
  target_.finished({folder_, temporary_, name_}, bytes_);
  return "";
}

// By name, where the open file could not take them (POSIX did above).
bool PendingFile::setModeAndTime(bool timeKnown, int64_t modifiedSeconds, std::string& problem) {
  if (!timeKnown && modeSet_) return true;
  if (!modeSet_) {
    if (platform::Status mode = folder_->setMode(temporary_, target_.fileMode_); !mode) {
      problem = mode.message();
      return false;
    }
  }
  if (timeKnown) {
    if (platform::Status time = folder_->setModifiedTime(temporary_, modifiedSeconds, 0); !time) {
      problem = time.message();
      return false;
    }
  }
  return true;
}

void PendingFile::abandon() {
  done_ = true;
  out_->close();
  folder_->remove(temporary_);
}

platform::Status RestoreTarget::open(platform::Env& env, const std::string& folder, bool overwrite,
                                     std::unique_ptr<RestoreTarget>* target) {
  env.createDirectories(folder);
  std::unique_ptr<platform::FolderHandle> root;
  if (platform::Status opened = platform::FolderHandle::open(folder, &root); !opened) return opened;
  target->reset(new RestoreTarget(env, std::move(root), overwrite));
  return platform::Status::ok();
}

RestoreTarget::RestoreTarget(platform::Env& env, std::unique_ptr<platform::FolderHandle> root, bool overwrite)
    : env_(env), root_(std::move(root)), overwrite_(overwrite) {
  uint32_t mask = platform::inheritedCreationMask();
  fileMode_ = 0666 & ~mask;
  folderMode_ = 0777 & ~mask;
  // Where the whole file system cannot be synced at once, each file is.
  syncEachFile_ = !root_->syncFileSystem();
  removeLeftovers(*root_);
  folders_[""] = root_;
}

RestoreTarget::~RestoreTarget() { commit(); }

int64_t RestoreTarget::freeBytes() const { return env_.freeBytes(folder()); }

void RestoreTarget::removeLeftovers(platform::FolderHandle& folder) {
  std::vector<platform::DirectoryEntry> entries;
  if (!folder.list(&entries)) return;
  for (const platform::DirectoryEntry& entry : entries) {
    int writer = writerOf(entry.name);
    bool ours = writer == platform::processId();
    if (writer > 0 && entry.kind == platform::DirectoryEntry::Kind::File && (ours || !platform::processAlive(writer))) {
      folder.remove(entry.name);
    }
  }
}

// The folder that holds the first `count` parts, reached (and made) below
// the root; null with the reason when a part is a link or no folder.
std::shared_ptr<platform::FolderHandle> RestoreTarget::folderAt(const std::vector<std::string>& parts, size_t count,
                                                                std::string& why) {
  std::string key = joined(parts, count);
  auto found = folders_.find(key);
  if (found != folders_.end()) return found->second;
  std::shared_ptr<platform::FolderHandle> parent = folderAt(parts, count - 1, why);
  if (!parent) return nullptr;
  const std::string& name = parts[count - 1];
  platform::FileInfo info;
  bool isLink = false;
  bool existed = parent->info(name, &info, &isLink).isOk();
  std::unique_ptr<platform::FolderHandle> child;
  if (platform::Status reached = parent->child(name, true, &child); !reached) {
    why = reached.message();
    return nullptr;
  }
  if (!existed) parent->setMode(name, folderMode_);
  if (existed) removeLeftovers(*child);
  std::shared_ptr<platform::FolderHandle> shared(std::move(child));
  if (!existed) madeHere_.insert(shared.get());
  folders_[key] = shared;
  return shared;
}

std::string RestoreTarget::temporaryName() {
  static const std::string prefix = kTemporaryPrefix + std::to_string(platform::processId()) + "-";
  return prefix + std::to_string(++counter_) + kTemporarySuffix;
}

RestoreTarget::Begun RestoreTarget::begin(const std::vector<std::string>& given, std::unique_ptr<PendingFile>* file,
                                          std::string& why, std::string& substitute) {
  std::vector<std::string> parts = given;
  for (std::string& part : parts) {
    if (!fitsHere(part)) part = substituteName(part);
  }
  if (parts != given) substitute = joined(parts, parts.size());
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<platform::FolderHandle> folder = folderAt(parts, parts.size() - 1, why);
  if (!folder) return Begun::Failed;
  const std::string& name = parts.back();
  platform::FileInfo info;
  bool isLink = false;
  // A folder this restore made holds only what it restored.
  if (!madeHere_.count(folder.get()) && folder->info(name, &info, &isLink).isOk()) {
    if (info.isDirectory && !isLink) {
      why = folder->path() + "/" + name + " is a folder";
      return Begun::Failed;
    }
    if (!overwrite_) {
      why = folder->path() + "/" + name + (isLink ? " is a link" : "") + " is there; kept (--overwrite replaces it)";
      return Begun::Kept;
    }
  }
  // Something planted at a temporary's name is never used: the next name is tried.
  std::string temporary;
  std::unique_ptr<platform::WritableFile> out;
  for (int attempt = 0; !out; ++attempt) {
    temporary = temporaryName();
    platform::Status created = folder->createExclusive(temporary, 0600, &out);
    if (!created && (attempt == 7 || created.code() != platform::Status::kExists)) {
      why = created.message();
      return Begun::Failed;
    }
  }
  file->reset(new PendingFile(*this, folder, temporary, name, std::move(out)));
  return Begun::Ok;
}

void RestoreTarget::finished(Finished file, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  batch_.push_back(std::move(file));
  batchBytes_ += bytes;
  if (batch_.size() >= kBatchFiles || batchBytes_ >= kBatchBytes) {
    std::vector<std::string> problems = commitLocked();
    problems_.insert(problems_.end(), problems.begin(), problems.end());
  }
}

std::vector<std::string> RestoreTarget::commit() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> problems = commitLocked();
  problems.insert(problems.begin(), problems_.begin(), problems_.end());
  problems_.clear();
  return problems;
}

// The batch's bytes are made durable first (one sync of the file system,
// or each file's own), then the names appear, then the folders that hold
// them are synced.
std::vector<std::string> RestoreTarget::commitLocked() {
  std::vector<std::string> problems;
  if (batch_.empty()) return problems;
  if (!syncEachFile_) {
    if (platform::Status synced = root_->syncFileSystem(); !synced) problems.push_back(synced.message());
  }
  std::vector<platform::FolderHandle*> touched;
  for (Finished& file : batch_) {
    platform::Status renamed = file.folder->rename(file.temporary, file.name, overwrite_);
    if (!renamed) {
      problems.push_back(renamed.message());
      file.folder->remove(file.temporary);
    } else {
      ++published_;
    }
    if (touched.empty() || touched.back() != file.folder.get()) touched.push_back(file.folder.get());
  }
  for (platform::FolderHandle* folder : touched) folder->sync();
  batch_.clear();
  batchBytes_ = 0;
  return problems;
}

}  // namespace agent
