#include "platform/path.h"

namespace platform {

bool hasDriveLetter(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  char c = path[0];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isBelow(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path[folder.size()] == '\\' || path[folder.size()] == '/');
}

std::string pathFrom(const std::string& folder, const std::string& path) {
  if (path.empty() || hasDriveLetter(path) || path[0] == '/' || path[0] == '\\' || folder.empty()) return path;
  return joinPath(folder, path);
}

}  // namespace platform
