#include "platform/path.h"

#include <cstdlib>

namespace platform {
namespace {

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string driveRoot(char letter) {
  std::string name = "VELKAN_DRIVE_";
  name += upperAscii(letter);
  const char* root = std::getenv(name.c_str());
  return (root && *root) ? root : "/";
}

std::string withSlashes(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

std::string withBackslashes(std::string text) {
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

}  // namespace

std::string hostPath(const std::string& logical) {
  if (!hasDriveLetter(logical)) return withSlashes(logical);
  std::string rest = withSlashes(logical.substr(2));
  std::string root = driveRoot(logical[0]);
  while (!root.empty() && root.back() == '/' && !rest.empty() && rest.front() == '/') rest.erase(0, 1);
  if (!root.empty() && root.back() != '/' && !rest.empty() && rest.front() != '/') root += '/';
  return root + rest;
}

std::string logicalPath(const std::string& host) {
  char bestLetter = 'c';
  size_t bestLength = 0;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string root = driveRoot(letter);
    if (root == "/") continue;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    bool prefix = host.compare(0, root.size(), root) == 0 &&
                  (host.size() == root.size() || host[root.size()] == '/');
    if (prefix && root.size() > bestLength) {
      bestLetter = letter;
      bestLength = root.size();
    }
  }
  std::string rest = host.substr(bestLength);
  if (rest.empty() || rest.front() != '/') rest.insert(rest.begin(), '/');
  return std::string(1, bestLetter) + ":" + withBackslashes(rest);
}

std::string parentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace platform
