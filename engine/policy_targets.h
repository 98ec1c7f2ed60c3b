// Policy lists: each child of the root is one policy, its `value` the
// policy's identifier, and the `target` under its first child element the
// folder it keeps cached (/My Documents/Projects, /c/Data).
#pragma once

#include <set>
#include <string>

#include "bindings/zrcore/xml_element.h"

namespace ZR {
class CLogger;
}

namespace dornik {

using TextSet = std::set<std::string>;

// The local folder of a target: "/c/Data" becomes c:\Data, "/My
// Documents/x" the documents folder followed by \x (drive in lower case);
// any other text only gets backslashes. When the system names no folder
// for a special name the target stays as it is (a warning says so).
std::string normaliseTarget(const std::string& target, ZR::CLogger* log);

// The normalised targets of the policies of a list, leaving out policies
// whose value is in `excluded`. A policy without a child element has no
// target and is skipped; one whose first child has no `target` gives the
// empty folder text. A policy without `value` is never excluded.
TextSet policyTargets(const ZR::CXmlElement& list, const TextSet& excluded, ZR::CLogger& log);

}  // namespace dornik
