#include "agent/exclude_rules.h"

#include <algorithm>

namespace agent {
namespace {

// The set at pattern[at] ("[" already seen): whether c is in it, and where
// the pattern goes on. A "[" without its "]" is a plain character.
bool matchSet(std::string_view pattern, size_t& at, char c, bool& inSet) {
  size_t i = at + 1;
  bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool found = false;
  size_t first = i;
  for (; i < pattern.size() && (pattern[i] != ']' || i == first); ++i) {
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      found = found || (c >= pattern[i] && c <= pattern[i + 2]);
      i += 2;
    } else {
      found = found || c == pattern[i];
    }
  }
  if (i >= pattern.size()) return false;
  at = i + 1;
  inSet = found != negated && c != '/';
  return true;
}

}  // namespace

// Dynamic programming over the text, one row per pattern element: linear
// in the product of the lengths, so no pattern can make it blow up.
bool globMatch(std::string_view pattern, std::string_view text) {
  std::vector<char> reachable(text.size() + 1, 0), next(text.size() + 1, 0);
  reachable[0] = 1;
  for (size_t p = 0; p < pattern.size();) {
    std::fill(next.begin(), next.end(), 0);
    if (pattern[p] == '*') {
      bool crossesFolders = p + 1 < pattern.size() && pattern[p + 1] == '*';
      p += crossesFolders ? 2 : 1;
      // "**/" also matches no folder at all, so "**/x" takes "x".
      bool optionalSlash = crossesFolders && p < pattern.size() && pattern[p] == '/';
      for (size_t t = 0; t <= text.size(); ++t) {
        if (t > 0 && next[t - 1] && (crossesFolders || text[t - 1] != '/')) next[t] = 1;
        if (reachable[t]) next[t] = 1;
      }
      if (optionalSlash) {
        std::vector<char> withSlash(text.size() + 1, 0);
        for (size_t t = 0; t < text.size(); ++t) withSlash[t + 1] = next[t] && text[t] == '/';
        for (size_t t = 0; t <= text.size(); ++t) next[t] = withSlash[t] || reachable[t];
        ++p;
      }
    } else {
      size_t end = p + 1;
      bool isSet = false;
      if (pattern[p] == '[') {
        size_t at = p;
        bool unused = false;
        isSet = matchSet(pattern, at, 'a', unused);
        if (isSet) end = at;
      }
      for (size_t t = 0; t < text.size(); ++t) {
        if (!reachable[t]) continue;
        char c = text[t];
        bool matches = false;
        size_t at = p;
        if (pattern[p] == '?') {
          matches = c != '/';
        } else if (isSet) {
          matchSet(pattern, at, c, matches);
        } else {
          matches = pattern[p] == c;
        }
        if (matches) next[t + 1] = 1;
      }
      p = end;
    }
    reachable.swap(next);
  }
  return reachable[text.size()] != 0;
}

ExcludeRules::ExcludeRules(const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    (pattern.find('/') == std::string::npos ? byName_ : byPath_).push_back(pattern);
  }
}

bool ExcludeRules::excludes(std::string_view relative, std::string_view name) const {
  for (const std::string& pattern : byName_) {
    if (globMatch(pattern, name)) return true;
  }
  for (const std::string& pattern : byPath_) {
    if (globMatch(pattern, relative)) return true;
  }
  return false;
}

}  // namespace agent
