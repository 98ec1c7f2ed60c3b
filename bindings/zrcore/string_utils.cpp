#include "bindings/zrcore/string_utils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "platform/clock.h"
#include "platform/unicode.h"

namespace ZR {

std::wstring CStringUtils::utf8ToWide(const std::string& text) { return platform::utf8ToWide(text); }

std::string CStringUtils::lowerCaseASCII(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool CStringUtils::isAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string CStringUtils::rtrim(const std::string& text, const std::string& characters) {
  size_t end = text.find_last_not_of(characters);
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool CStringUtils::equalsIgnoreCaseASCII(const std::string& a, const std::string& b) {
  return a.size() == b.size() && lowerCaseASCII(a) == lowerCaseASCII(b);
}

bool CStringUtils::startsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

CStringSplitterExact::CStringSplitterExact(const std::string& text, const std::string& separator) {
  if (separator.empty()) {
    parts_.push_back(text);
    return;
  }
  size_t start = 0;
  for (;;) {
    size_t found = text.find(separator, start);
    if (found == std::string::npos) {
      parts_.push_back(text.substr(start));
      return;
    }
    parts_.push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
}

bool CStringSplitterExact::getPart(size_t index, std::string& out) const {
  if (index >= parts_.size()) return false;
  out = parts_[index];
  return true;
}

void CTimeUtils::getUTCTime(std::string& out) {
  platform::UtcTime t = platform::toUtc(platform::unixTimeSeconds());
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  out = buf;
}

namespace {

// Leading blanks, optional sign and digits, saturating at the given bounds.
int64_t parseLeadingInteger(const std::string& text, int64_t low, int64_t high) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (!negative) {
      value = (value > (high - digit) / 10) ? high : value * 10 + digit;
    } else {
      value = (value < (low + digit) / 10) ? low : value * 10 - digit;
    }
  }
  return value;
}

}  // namespace

int32_t CNumberText::toInt32(const std::string& text) {
  return static_cast<int32_t>(
      parseLeadingInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t CNumberText::toInt64(const std::string& text) {
  return parseLeadingInteger(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

bool CStringUtils::isXmlText(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++i;
      continue;
    }
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (length == 0 || c > 0xF4 || i + length > text.size()) return false;
    uint32_t code = c & (0x3F >> (length - 1));
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code > 0x10FFFF) return false;  // overlong or beyond Unicode
    if ((code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF) return false;
    i += length;
  }
  return true;
}

std::string CStringUtils::lineValue(std::string_view text, std::string_view key) {
  for (size_t at = 0; at < text.size();) {
    size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=') {
      return std::string(line.substr(key.size() + 1));
    }
    at = end + 1;
  }
  return "";
}

namespace {

size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string CStringUtils::nearestName(const std::string& name, const std::vector<std::string>& known) {
  std::string lower = lowerCaseASCII(name), best;
  size_t bestDistance = std::max<size_t>(2, name.size() / 3) + 1;
  for (const std::string& candidate : known) {
    size_t distance = editDistance(lower, lowerCaseASCII(candidate));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best;
}

std::string CStringUtils::hashHex(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return digits;
}

bool CNumberText::parseExact(const std::string& text, int64_t& value) {
  size_t at = text.size() > 1 && text[0] == '-' ? 1 : 0;
  if (at == text.size()) return false;
  uint64_t magnitude = 0;
  const uint64_t limit = at == 1 ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value = at == 1 ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

double CNumberText::toDouble(const std::string& text) {
  double value = std::strtod(text.c_str(), nullptr);
  return std::isnan(value) ? 0.0 : value;
}

}  // namespace ZR
