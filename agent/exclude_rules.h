// Which entries of a watched folder are left out of the backup: glob
// patterns on the path below the folder ("/" between its parts).
//
//   *      any characters but "/"      ?     one character but "/"
//   **     any characters, "/" too     [a-z] [!0-9]  one of a set, or not
//
// A pattern without "/" is matched against the name of every entry at any
// depth ("*.tmp", "node_modules"); one with "/" against the whole path
// below the folder ("build/**", "docs/*.bak"). A folder that matches is
// left out with everything below it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace agent {

// True when the whole text matches the pattern.
bool globMatch(std::string_view pattern, std::string_view text);

class ExcludeRules {
 public:
  explicit ExcludeRules(const std::vector<std::string>& patterns);
  // `relative` is the path below the watched folder, `name` its last part.
  bool excludes(std::string_view relative, std::string_view name) const;
  bool empty() const { return byName_.empty() && byPath_.empty(); }

 private:
  std::vector<std::string> byName_;
  std::vector<std::string> byPath_;
};

}  // namespace agent
