#include "engine/policy_targets.h"

#include <algorithm>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"

namespace dornik {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// "/c/..." becomes "c:/...". False when the target is not of that form.
bool driveForm(std::string& t) {
  if (t.size() < 3 || !isSeparator(t[0]) || !isSeparator(t[2])) return false;
  t[0] = t[1];
  t[1] = ':';
  return true;
}

struct SpecialName {
  const char* name;
  bool (*folder)(std::string&, bool);
};

const SpecialName kSpecialNames[] = {
    {"My Documents", ZR::CSpecialFolder::getDocumentsPath},
    {"My Pictures", ZR::CSpecialFolder::getPicturesPath},
    {"My Music", ZR::CSpecialFolder::getMusicPath},
    {"Desktop", ZR::CSpecialFolder::getDesktopPath},
};

void expandSpecialFolder(std::string& t, ZR::CLogger* log) {
  if (t.size() <= 2 || !isSeparator(t[0])) return;
  std::string rest = t.substr(1);
  for (const SpecialName& special : kSpecialNames) {
    std::string name = special.name;
    if (!ZR::CStringUtils::equalsIgnoreCaseASCII(rest.substr(0, name.size()), name)) continue;
    std::string folder;
    if (!special.folder(folder, false) || folder.empty()) {
      if (log) log->warning("no folder known for %s; target %s kept as it is", special.name, t.c_str());
      return;
    }
    t = folder + rest.substr(name.size());
    if (t[0] >= 'A' && t[0] <= 'Z') t[0] = static_cast<char>(t[0] - 'A' + 'a');
    return;
  }
}

}  // namespace

std::string normaliseTarget(const std::string& target, ZR::CLogger* log) {
  std::string t = target;
  if (!driveForm(t)) expandSpecialFolder(t, log);
  std::replace(t.begin(), t.end(), '/', '\\');
  return t;
}

TextSet policyTargets(const ZR::CXmlElement& list, const TextSet& excluded, ZR::CLogger& log) {
  TextSet targets;
  for (size_t i = 0; i < list.getChildCount(); ++i) {
    const ZR::CXmlElement* policy = list.getChild(i);
    const ZR::CXmlAttribute* value = policy->getAttribute("value");
    if (!value) log.warning("policy <%s> number %zu has no value attribute", policy->getName().c_str(), i + 1);
    if (value && excluded.count(value->value)) continue;
    const ZR::CXmlElement* first = policy->getChild(size_t{0});
    if (!first) {
      log.warning("policy %s has no target element; skipped", value ? value->value.c_str() : "without value");
      continue;
    }
    const ZR::CXmlElement* target = first->getChild("target");
    targets.insert(normaliseTarget(target ? target->getText() : std::string(), &log));
  }
  return targets;
}

}  // namespace dornik
