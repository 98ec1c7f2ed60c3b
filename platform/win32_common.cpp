#include "platform/win32.h"

namespace platform::win32 {

std::string errorText(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer ? wideToUtf8(std::wstring(buffer, length)) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "system error " + std::to_string(error);
  return text;
}

std::string describeLastError(const std::string& what) { return what + ": " + errorText(GetLastError()); }

}  // namespace platform::win32
