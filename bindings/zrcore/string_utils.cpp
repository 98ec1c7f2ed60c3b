#include "bindings/zrcore/string_utils.h"

#include <cmath>
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

double CNumberText::toDouble(const std::string& text) {
  double value = std::strtod(text.c_str(), nullptr);
  return std::isnan(value) ? 0.0 : value;
}

}  // namespace ZR
