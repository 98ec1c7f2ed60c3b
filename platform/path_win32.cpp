#include "platform/path.h"

// On Windows logical paths are host paths: drive paths are taken as they
// stand, and both separators are understood.
namespace platform {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string hostPath(const std::string& logical) { return logical; }

std::string logicalPath(const std::string& host) {
  std::string out = host;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string parentFolder(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return hasDriveLetter(path) ? path.substr(0, 2) : ".";
  // The root of a drive ("c:\") keeps its separator, as "/" does.
  if (separator == 0 || (separator == 2 && hasDriveLetter(path))) return path.substr(0, separator + 1);
  return path.substr(0, separator);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (isSeparator(folder.back())) return folder + name;
  return folder + "\\" + name;
}

}  // namespace platform
