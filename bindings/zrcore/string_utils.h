// Text helpers. Texts are UTF-8; "ASCII" operations leave other bytes alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ZR {

class CStringUtils {
 public:
  static std::wstring utf8ToWide(const std::string& text);
  // Copy with A-Z turned into a-z; other bytes unchanged.
  static std::string lowerCaseASCII(const std::string& text);
  // True when every byte is below 0x80.
  static bool isAscii(const std::string& text);
  // Removes from the end every character that occurs in `characters`.
  static std::string rtrim(const std::string& text, const std::string& characters);
  // True when the two texts are equal ignoring ASCII case.
  static bool equalsIgnoreCaseASCII(const std::string& a, const std::string& b);
  static bool startsWith(const std::string& text, const std::string& prefix);
  // True when the text is well-formed UTF-8 holding only characters an XML
  // 1.0 document may carry (no controls but tab, line feed and carriage
  // return; no surrogates, U+FFFE or U+FFFF).
  static bool isXmlText(std::string_view text);
  // The value of the first "key=value" line of a text of such lines (a
  // metadata text); empty when no line has the key.
  static std::string lineValue(std::string_view text, std::string_view key);
  // Of `known`, the name that takes the fewest letters changed, added or
  // removed (ignoring ASCII case) to become `name`; empty when none is
  // within a third of the name's length (at least two letters).
  static std::string nearestName(const std::string& name, const std::vector<std::string>& known);
  // A 64-bit FNV-1a hash of the text as 16 lower-case hexadecimal digits:
  // a short, stable stand-in for a long text (not for secrets).
  static std::string hashHex(std::string_view text);
};

// Splits a text at every occurrence of a separator; empty parts are kept, so
// "a;;b" has three parts and "" has one.
class CStringSplitterExact {
 public:
  CStringSplitterExact(const std::string& text, const std::string& separator);
  size_t getPartCount() const { return parts_.size(); }
  // False when index is out of range.
  bool getPart(size_t index, std::string& out) const;

 private:
  std::vector<std::string> parts_;
};

class CTimeUtils {
 public:
  // Current UTC time as "YYYYMMDDhhmmss"; the first 8 characters name the day.
  static void getUTCTime(std::string& out);
};

// Number conversions for texts read from files: they never throw and never
// overflow.
class CNumberText {
 public:
  // The C library's atoi rule (optional blanks and sign, leading digits, 0
  // when none), clamped to the 32-bit range instead of overflowing.
  static int32_t toInt32(const std::string& text);
  // The same rule for 64-bit values.
  static int64_t toInt64(const std::string& text);
  // The C library's atof rule: the leading number, 0 when there is none.
  // Not-a-number results count as 0 so the value can be ordered.
  static double toDouble(const std::string& text);
  // Strict: the whole text is an optional "-" and decimal digits that fit;
  // false (value untouched) for anything else, blanks included.
  static bool parseExact(const std::string& text, int64_t& value);
};

}  // namespace ZR
