// Prefix questions over sorted texts, each in logarithmic time. A text d
// "covers" a text p when p begins with d, character by character, with no
// regard to separators: c:\a covers c:\a\x.txt and also c:\ab.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dornik {

inline bool covers(std::string_view d, std::string_view p) { return p.substr(0, d.size()) == d; }

// Does any of a sorted list of texts begin with a given prefix?
class SortedTexts {
 public:
  // REQUIRES: `texts` sorted in byte order; kept by reference.
  explicit SortedTexts(const std::vector<std::string_view>& texts) : texts_(texts) {}
  // True when some text is covered by `prefix`.
  bool anyCoveredBy(std::string_view prefix) const;

 private:
  const std::vector<std::string_view>& texts_;
};

// Is a text covered by any of a set of prefixes?
class CoveringPrefixes {
 public:
  // `prefixes` in any order; copied views, so the texts must outlive this.
  explicit CoveringPrefixes(std::vector<std::string_view> prefixes);
  // True when some prefix covers `text`.
  bool coverAny(std::string_view text) const;

 private:
  // Sorted and reduced to the prefixes no other prefix covers: then the
  // only candidate for a text is the greatest prefix not above it.
  std::vector<std::string_view> minimal_;
};

}  // namespace dornik
