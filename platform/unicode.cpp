#include "platform/unicode.h"

#include <vector>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[i]; advances i past it.
char32_t decodeOne(const std::string& text, size_t& i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int length = (lead >= 0xC2 && lead <= 0xDF) ? 2 : (lead >= 0xE0 && lead <= 0xEF) ? 3 : (lead >= 0xF0 && lead <= 0xF4) ? 4 : 0;
  if (length == 0 || i + static_cast<size_t>(length) > text.size()) {
    ++i;
    return kReplacement;
  }
  char32_t cp = lead & (0xFF >> (length + 1));
  for (int k = 1; k < length; ++k) {
    unsigned char next = byte(i + static_cast<size_t>(k));
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<size_t>(length);
  return cp;
}

std::vector<char32_t> decode(const std::string& text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(decodeOne(text, i));
  return out;
}

void encodeOne(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendUtf16(char32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::u16string utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (char32_t cp : decode(text)) appendUtf16(cp, out);
  return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      encodeOne(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      encodeOne(kReplacement, out);
    } else {
      encodeOne(unit, out);
    }
  }
  return out;
}

std::wstring utf8ToWide(const std::string& text) {
  std::wstring out;
  if constexpr (sizeof(wchar_t) == 2) {
    for (char16_t unit : utf8ToUtf16(text)) out += static_cast<wchar_t>(unit);
  } else {
    for (char32_t cp : decode(text)) out += static_cast<wchar_t>(cp);
  }
  return out;
}

std::string wideToUtf8(const std::wstring& text) {
  if constexpr (sizeof(wchar_t) == 2) {
    std::u16string units(text.begin(), text.end());
    return utf16ToUtf8(units);
  } else {
    std::string out;
    for (wchar_t c : text) {
      char32_t cp = static_cast<char32_t>(c);
      encodeOne((cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ? kReplacement : cp, out);
    }
    return out;
  }
}

}  // namespace platform
