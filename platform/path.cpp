#include "platform/path.h"

namespace platform {

bool hasDriveLetter(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  char c = path[0];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace platform
