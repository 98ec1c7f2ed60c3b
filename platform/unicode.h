// Conversions between UTF-8 (our texts) and the wide forms file systems use.
// Malformed input never fails: each bad byte becomes U+FFFD.
#pragma once

#include <string>

namespace platform {

std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const std::u16string& text);
// wchar_t is UTF-16 on Windows and UTF-32 elsewhere.
std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);

}  // namespace platform
