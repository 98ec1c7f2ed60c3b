#include "platform/folder_handle.h"

namespace platform {

bool FolderHandle::plainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::vector<std::string> pathParts(const std::string& relative) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && relative[i] != '/' && relative[i] != '\\') continue;
    if (i > start) parts.push_back(relative.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

Status FolderHandle::descend(const std::string& relative, bool create, std::unique_ptr<FolderHandle>* folder) {
  std::vector<std::string> parts = pathParts(relative);
  if (parts.empty()) return Status::invalid("no folder named below " + path());
  std::unique_ptr<FolderHandle> current;
  FolderHandle* at = this;
  for (const std::string& part : parts) {
    std::unique_ptr<FolderHandle> next;
    if (Status reached = at->child(part, create, &next); !reached) return reached;
    current = std::move(next);
    at = current.get();
  }
  *folder = std::move(current);
  return Status::ok();
}

}  // namespace platform
