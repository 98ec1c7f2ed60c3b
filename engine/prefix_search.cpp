#include "engine/prefix_search.h"

#include <algorithm>

namespace dornik {

bool SortedTexts::anyCoveredBy(std::string_view prefix) const {
  // Texts that begin with `prefix` come right after it in byte order.
  auto first = std::lower_bound(texts_.begin(), texts_.end(), prefix);
  return first != texts_.end() && covers(prefix, *first);
}

CoveringPrefixes::CoveringPrefixes(std::vector<std::string_view> prefixes) {
  std::sort(prefixes.begin(), prefixes.end());
  for (std::string_view prefix : prefixes) {
    if (minimal_.empty() || !covers(minimal_.back(), prefix)) minimal_.push_back(prefix);
  }
}

bool CoveringPrefixes::coverAny(std::string_view text) const {
  auto after = std::upper_bound(minimal_.begin(), minimal_.end(), text);
  return after != minimal_.begin() && covers(*(after - 1), text);
}

}  // namespace dornik
