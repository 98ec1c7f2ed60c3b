#include "platform/known_folders.h"

#include <pwd.h>
#include <unistd.h>

#include "platform/env.h"
#include "platform/process.h"

namespace platform {
namespace {

std::string homeFolder() {
  std::string home = environmentVariable("HOME");
  if (!home.empty()) return home;
  struct passwd* pw = ::getpwuid(::getuid());
  return (pw && pw->pw_dir) ? pw->pw_dir : "";
}

struct FolderNames {
  const char* xdgKey;
  const char* fallback;
};

FolderNames namesOf(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::Documents: return {"XDG_DOCUMENTS_DIR", "Documents"};
    case KnownFolder::Pictures: return {"XDG_PICTURES_DIR", "Pictures"};
    case KnownFolder::Music: return {"XDG_MUSIC_DIR", "Music"};
    case KnownFolder::Desktop: return {"XDG_DESKTOP_DIR", "Desktop"};
  }
  return {"", ""};
}

// Value of KEY="..." in user-dirs.dirs with $HOME expanded; empty when absent
// or not an absolute path.
std::string xdgValue(const std::string& key, const std::string& home) {
  std::string configHome = environmentVariable("XDG_CONFIG_HOME");
  if (configHome.empty()) configHome = home + "/.config";
  std::string text;
  if (!readFileToString(configHome + "/user-dirs.dirs", &text)) return "";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.compare(0, key.size() + 2, key + "=\"") != 0) continue;
    size_t close = line.rfind('"');
    if (close <= key.size() + 1) continue;
    std::string value = line.substr(key.size() + 2, close - key.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    if (value.empty() || value.front() != '/') return "";
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value;
  }
  return "";
}

std::string namedFolder(KnownFolder folder) {
  std::string home = homeFolder();
  FolderNames names = namesOf(folder);
  std::string configured = xdgValue(names.xdgKey, home);
  if (!configured.empty()) return configured;
  if (home.empty()) return "";
  return home + "/" + names.fallback;
}

}  // namespace

std::string knownFolderPath(KnownFolder folder, bool create) {
  std::string path = namedFolder(folder);
  if (create && !path.empty()) env()->createDirectories(path);
  return path;
}

}  // namespace platform
