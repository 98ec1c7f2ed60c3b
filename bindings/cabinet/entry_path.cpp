#include "bindings/cabinet/entry_path.h"

#include <algorithm>

namespace ZR {

namespace {

void replaceSlashes(std::string& path) { std::replace(path.begin(), path.end(), '/', '\\'); }

// Length of the UTF-8 character that starts the text, so the drive colon
// never splits a character.
size_t firstCharacterLength(const std::string& text) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(length, text.size());
}

void addDriveColonAndLowerDrive(std::string& path) {
  if (path.empty()) return;
  if (path.find(':') == std::string::npos) path.insert(firstCharacterLength(path), 1, ':');
  if (path[0] >= 'A' && path[0] <= 'Z') path[0] = static_cast<char>(path[0] - 'A' + 'a');
}

bool isSpecialFileName(const std::string& path) {
  static const char* const kNames[] = {"My Documents", "My Music", "My Pictures", "Desktop", "Drive.properties"};
  for (const char* name : kNames) {
    if (path == name) return true;
  }
  return false;
}

}  // namespace

std::string normaliseFilePath(std::string path) {
  replaceSlashes(path);
  if (isSpecialFileName(path)) return path;
  addDriveColonAndLowerDrive(path);
  return path;
}

std::string normaliseDirectoryPath(std::string path) {
  replaceSlashes(path);
  addDriveColonAndLowerDrive(path);
  return path;
}

}  // namespace ZR
