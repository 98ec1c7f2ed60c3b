#include <shlobj.h>

#include "platform/known_folders.h"
#include "platform/win32.h"

namespace platform {

std::string knownFolderPath(KnownFolder folder, bool create) {
  int id = CSIDL_PERSONAL;
  switch (folder) {
    case KnownFolder::Documents: id = CSIDL_PERSONAL; break;
    case KnownFolder::Pictures: id = CSIDL_MYPICTURES; break;
    case KnownFolder::Music: id = CSIDL_MYMUSIC; break;
    case KnownFolder::Desktop: id = CSIDL_DESKTOPDIRECTORY; break;
  }
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, create ? id | CSIDL_FLAG_CREATE : id, nullptr, SHGFP_TYPE_CURRENT, path)))
    return "";
  std::string text = wideToUtf8(path);
  while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  return text;
}

}  // namespace platform
