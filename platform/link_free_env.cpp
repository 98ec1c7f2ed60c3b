#include "platform/link_free_env.h"

#include "platform/folder_handle.h"

namespace platform {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The folder that holds the last part of `relative`, reached from `root`
// without following a link, and that last part.
Status reachParent(const std::string& root, const std::string& relative, std::unique_ptr<FolderHandle>& folder,
                   std::string& name) {
  std::vector<std::string> parts = pathParts(relative);
  if (parts.empty()) return Status::invalid("nothing below " + root);
  name = parts.back();
  if (Status opened = FolderHandle::open(root, &folder); !opened) return opened;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    std::unique_ptr<FolderHandle> next;
    if (Status reached = folder->child(parts[i], false, &next); !reached) return reached;
    folder = std::move(next);
  }
  return Status::ok();
}

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

bool LinkFreeEnv::getFileInfo(const std::string& path, FileInfo* info) {
  std::string root, relative, name;
  if (!split(path, root, relative)) return target()->getFileInfo(path, info);
  std::unique_ptr<FolderHandle> folder;
  if (!reachParent(root, relative, folder, name)) return false;
  bool isLink = false;
  return folder->info(name, info, &isLink) && !isLink;
}

Status LinkFreeEnv::openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  std::string root, relative, name;
  if (!split(path, root, relative)) return target()->openReadable(path, file);
  std::unique_ptr<FolderHandle> folder;
  if (Status reached = reachParent(root, relative, folder, name); !reached) return reached;
  return folder->openReadable(name, file);
}

}  // namespace platform
