#include "platform/link_free_env.h"

#include "platform/folder_handle.h"

namespace platform {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

constexpr size_t kKeptFolders = 256;

}  // namespace

LinkFreeEnv::LinkFreeEnv(Env* target, std::vector<std::string> roots) : EnvWrapper(target) {
  for (std::string& root : roots) {
    while (root.size() > 1 && isSeparator(root.back())) root.pop_back();
    if (!root.empty()) roots_.push_back(std::move(root));
  }
}

bool LinkFreeEnv::split(const std::string& path, std::string& root, std::string& relative) const {
  size_t best = 0;
  for (const std::string& candidate : roots_) {
    bool below = path.size() > candidate.size() && path.compare(0, candidate.size(), candidate) == 0 &&
                 (isSeparator(path[candidate.size()]) || isSeparator(candidate.back()));
    if (below && candidate.size() > best) {
      best = candidate.size();
      root = candidate;
    }
  }
  if (best == 0) return false;
  relative = path.substr(best);
  return true;
}

Status LinkFreeEnv::parentOf(const std::string& root, const std::string& relative,
                              std::shared_ptr<FolderHandle>& folder, std::string& name) {
  std::vector<std::string> parts = pathParts(relative);
  if (parts.empty()) return Status::invalid("nothing below " + root);
  name = parts.back();
  std::string key = root;
  for (size_t i = 0; i + 1 < parts.size(); ++i) key += "/" + parts[i];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = folders_.find(key);
    if (found != folders_.end()) {
      folder = found->second;
      return Status::ok();
    }
  }
  std::unique_ptr<FolderHandle> current;
  if (Status opened = FolderHandle::open(root, &current); !opened) return opened;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    std::unique_ptr<FolderHandle> next;
    if (Status reached = current->child(parts[i], false, &next); !reached) return reached;
    current = std::move(next);
  }
  folder = std::move(current);
  std::lock_guard<std::mutex> lock(mutex_);
  if (folders_.size() >= kKeptFolders) folders_.clear();
  folders_[key] = folder;
  return Status::ok();
}

bool LinkFreeEnv::getFileInfo(const std::string& path, FileInfo* info) {
  std::string root, relative, name;
  if (!split(path, root, relative)) return target()->getFileInfo(path, info);
  std::shared_ptr<FolderHandle> folder;
  if (!parentOf(root, relative, folder, name)) return false;
  bool isLink = false;
  return folder->info(name, info, &isLink) && !isLink;
}

Status LinkFreeEnv::openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  std::string root, relative, name;
  if (!split(path, root, relative)) return target()->openReadable(path, file);
  std::shared_ptr<FolderHandle> folder;
  if (Status reached = parentOf(root, relative, folder, name); !reached) return reached;
  return folder->openReadable(name, file);
}

}  // namespace platform
