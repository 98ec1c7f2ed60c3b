// Policy lists: each child of the root is one policy, its `value` the
// policy's identifier, and the `target` under its first child element the
// folder it keeps cached (/My Documents/Projects, /c/Data).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"

namespace ZR {
class CLogger;
}

namespace dornik {

using TextSet = std::set<std::string>;

// One policy as the list gives it.
struct Policy {
  std::string value;
  bool hasValue = false;
  bool hasChild = false;   // false: no child element, so no target at all
  std::string target;      // text of `target` under the first child; empty when absent
};

// Reads a policy list as a stream. False with `error` when it cannot be
// read or parsed.
bool readPolicyList(platform::Env& env, const std::string& path, std::vector<Policy>& policies, std::string& error);

// Turns target texts into local folders, asking the system for each
// special folder once.
class TargetNormaliser {
 public:
  explicit TargetNormaliser(ZR::CLogger* log) : log_(log) {}

  // "/c/Data" becomes c:\Data, "/My Documents/x" the documents folder
  // followed by \x (drive in lower case); any other text only gets
  // backslashes. When the system names no folder for a special name the
  // target stays as it is (a warning says so).
  std::string normalise(const std::string& target);

 private:
  bool specialFolder(size_t index, std::string& folder);

  ZR::CLogger* log_;
  std::map<size_t, std::string> folders_;  // by index of the special name; empty: none known
};

// The normalised targets of the policies, leaving out those whose value is
// in `excluded`. A policy without a child element has no target and is
// skipped; one whose first child has no `target` gives the empty folder
// text. A policy without `value` is never excluded.
TextSet policyTargets(const std::vector<Policy>& policies, const TextSet& excluded, TargetNormaliser& normaliser,
                      ZR::CLogger& log);

}  // namespace dornik
