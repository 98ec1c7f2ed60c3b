#include "platform/testing/memory_env.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// One spelling per path: "/" between parts (a backslash, as Windows joins
// paths, is one too), no trailing or doubled separators.
std::string normalised(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out.empty() ? "/" : out;
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// Whether `path` lies below `folder`.
bool below(const std::string& path, const std::string& folder) {
  if (folder == "/") return path != "/";
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

class Reader : public ReadableFile {
 public:
  explicit Reader(std::string content) : content_(std::move(content)) {}
  int64_t read(char* buf, size_t n) override {
    size_t count = std::min(n, content_.size() - std::min(position_, content_.size()));
    if (count) std::memcpy(buf, content_.data() + position_, count);
    position_ += count;
    return static_cast<int64_t>(count);
  }
  bool seek(uint64_t offset) override {
    if (offset > content_.size()) return false;
    position_ = static_cast<size_t>(offset);
    return true;
  }

 private:
  std::string content_;
  size_t position_ = 0;
};

}  // namespace

class MemoryEnv::Writer : public WritableFile {
 public:
  Writer(MemoryEnv& env, std::string path, std::string content)
      : env_(env), path_(std::move(path)), content_(std::move(content)) {}
  ~Writer() override { close(); }
  bool append(const char* data, size_t n) override {
    if (closed_) return false;
    content_.append(data, n);
    return true;
  }
  bool sync() override { return !closed_; }
  bool close() override {
    if (!closed_) env_.store(path_, content_);
    closed_ = true;
    return true;
  }

 private:
  MemoryEnv& env_;
  std::string path_;
  std::string content_;
  bool closed_ = false;
};

MemoryEnv::MemoryEnv() { nodes_["/"].folder = true; }

void MemoryEnv::addFile(const std::string& path, const std::string& content, int64_t modifiedUnixSeconds) {
  std::string file = normalised(path);
  createDirectories(parentOf(file));
  std::lock_guard<std::mutex> lock(mutex_);
  Node& node = nodes_[file];
  node = Node{false, content, modifiedUnixSeconds, nextId_++};
}

std::string MemoryEnv::contentOf(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(normalised(path));
  return found == nodes_.end() ? "" : found->second.content;
}

void MemoryEnv::store(const std::string& path, const std::string& content) {
  std::lock_guard<std::mutex> lock(mutex_);
  Node& node = nodes_[path];
  int64_t time = std::max<int64_t>(node.modified, 1700000000) + 1;
  node = Node{false, content, time, node.id ? node.id : nextId_++};
}

FileInfo MemoryEnv::infoOf(const Node& node) const {
  FileInfo info;
  info.isDirectory = node.folder;
  info.isRegular = !node.folder;
  info.size = node.folder ? 0 : node.content.size();
  info.modifiedUnixSeconds = node.modified;
  info.device = 1;
  info.fileId = node.id;
  return info;
}

bool MemoryEnv::parentIsFolder(const std::string& path) const {
  auto parent = nodes_.find(parentOf(path));
  return parent != nodes_.end() && parent->second.folder;
}

bool MemoryEnv::fileExists(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.count(normalised(path)) > 0;
}

bool MemoryEnv::getFileInfo(const std::string& path, FileInfo* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(normalised(path));
  if (found == nodes_.end()) return false;
  *info = infoOf(found->second);
  return true;
}

Status MemoryEnv::openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(normalised(path));
  if (found == nodes_.end()) return Status::notFound(path + ": no such file");
  if (found->second.folder) return Status::ioError(path + " is a folder");
  *file = std::make_unique<Reader>(found->second.content);
  return Status::ok();
}

Status MemoryEnv::openForWriting(const std::string& path, bool keep, bool exclusive,
                                 std::unique_ptr<WritableFile>* file) {
  std::string name = normalised(path);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!parentIsFolder(name)) return Status::notFound(path + ": no such folder");
  auto found = nodes_.find(name);
  if (found != nodes_.end() && found->second.folder) return Status::ioError(path + " is a folder");
  if (found != nodes_.end() && exclusive) return Status::exists(path + " exists");
  std::string start = keep && found != nodes_.end() ? found->second.content : "";
  if (found == nodes_.end()) nodes_[name] = Node{false, "", 1700000000, nextId_++};
  *file = std::make_unique<Writer>(*this, name, start);
  return Status::ok();
}

Status MemoryEnv::openWritable(const std::string& path, std::unique_ptr<WritableFile>* file) {
  return openForWriting(path, false, false, file);
}

Status MemoryEnv::openAppendable(const std::string& path, std::unique_ptr<WritableFile>* file) {
  return openForWriting(path, true, false, file);
}

Status MemoryEnv::createExclusive(const std::string& path, std::unique_ptr<WritableFile>* file) {
  return openForWriting(path, false, true, file);
}

Status MemoryEnv::openWritableNoLink(const std::string& path, std::unique_ptr<WritableFile>* file) {
  return openForWriting(path, false, false, file);  // there are no links here
}

Status MemoryEnv::renameFile(const std::string& from, const std::string& to) {
  std::string source = normalised(from), target = normalised(to);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(source);
  if (found == nodes_.end()) return Status::notFound(from + ": no such file");
  if (found->second.folder) return Status::invalid(from + " is a folder; only files are renamed here");
  if (!parentIsFolder(target)) return Status::notFound(to + ": no such folder");
  auto existing = nodes_.find(target);
  if (existing != nodes_.end() && existing->second.folder) return Status::ioError(to + " is a folder");
  Node moved = found->second;
  nodes_.erase(found);
  nodes_[target] = moved;
  return Status::ok();
}

bool MemoryEnv::removeFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(normalised(path));
  if (found == nodes_.end() || found->second.folder) return false;
  nodes_.erase(found);
  return true;
}

bool MemoryEnv::removeTree(const std::string& path) {
  std::string root = normalised(path);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    bool gone = (it->first == root && root != "/") || below(it->first, root);
    it = gone ? nodes_.erase(it) : std::next(it);
  }
  return true;
}

bool MemoryEnv::createDirectories(const std::string& path) {
  std::string folder = normalised(path);
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> missing;
  for (std::string at = folder; at != "/"; at = parentOf(at)) {
    auto found = nodes_.find(at);
    if (found != nodes_.end()) {
      if (!found->second.folder) return false;
      break;
    }
    missing.push_back(at);
  }
  for (const std::string& at : missing) nodes_[at] = Node{true, "", 1700000000, nextId_++};
  return true;
}

bool MemoryEnv::listDirectory(const std::string& path, std::vector<std::string>* names) {
  std::vector<DirectoryEntry> entries;
  if (!scanDirectory(path, &entries)) return false;
  names->clear();
  for (const DirectoryEntry& entry : entries) names->push_back(entry.name);
  return true;
}

Status MemoryEnv::scanDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  std::string folder = normalised(path);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(folder);
  if (found == nodes_.end() || !found->second.folder) return Status::notFound(path + ": no such folder");
  entries->clear();
  // "/a/..." sorts after "/a b" and "/a-b": the entries start at "/a/".
  std::string prefix = folder == "/" ? "/" : folder + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first == folder || parentOf(it->first) != folder) continue;  // itself, or deeper down
    DirectoryEntry entry;
    entry.name = it->first.substr(folder == "/" ? 1 : folder.size() + 1);
    entry.kind = it->second.folder ? DirectoryEntry::Kind::Directory : DirectoryEntry::Kind::File;
    entry.info = infoOf(it->second);
    entries->push_back(std::move(entry));
  }
  return Status::ok();
}

int64_t MemoryEnv::freeBytes(const std::string&) { return int64_t{1} << 40; }

std::string MemoryEnv::resolvedPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string name = normalised(path);
  return nodes_.count(name) > 0 ? name : std::string();
}

bool MemoryEnv::copyFileAccess(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.count(normalised(from)) > 0 && nodes_.count(normalised(to)) > 0;
}

bool MemoryEnv::setModifiedTime(const std::string& path, int64_t unixSeconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(normalised(path));
  if (found == nodes_.end()) return false;
  found->second.modified = unixSeconds;
  return true;
}

}  // namespace platform
