#include "engine/policy_targets.h"

#include <algorithm>
#include <cstring>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_reader.h"

namespace dornik {
namespace {

// Policies at depth 2, their first child at depth 3, its first `target`
// at depth 4.
class PolicyListHandler : public ZR::CXmlHandler {
 public:
  explicit PolicyListHandler(std::vector<Policy>& out) : out_(out) {}
  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    ++depth_;
    if (depth_ == 2) {
      out_.emplace_back();
      const char* value = attributes.find("value");
      out_.back().hasValue = value != nullptr;
      if (value) out_.back().value = value;
      childCount_ = 0;
    } else if (depth_ == 3) {
      inFirstChild_ = ++childCount_ == 1;
      if (inFirstChild_) out_.back().hasChild = true;
      targetSeen_ = false;
    } else if (depth_ == 4 && inFirstChild_ && !targetSeen_ && std::strcmp(name, "target") == 0) {
      targetSeen_ = inTarget_ = true;
    }
  }
  void endElement(const char*) override {
    if (depth_ == 4) inTarget_ = false;
    if (depth_ == 3) inFirstChild_ = false;
    --depth_;
  }
  void characters(const char* data, size_t length) override {
    if (depth_ == 4 && inTarget_) out_.back().target.append(data, length);
  }

 private:
  std::vector<Policy>& out_;
  int depth_ = 0;
  size_t childCount_ = 0;
  bool inFirstChild_ = false;
  bool targetSeen_ = false;
  bool inTarget_ = false;
};

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

}  // namespace

bool readPolicyList(platform::Env& env, const std::string& path, std::vector<Policy>& policies, std::string& error) {
  policies.clear();
  PolicyListHandler handler(policies);
  return ZR::CXmlReader::parseFile(env, path, handler, error);
}

bool TargetNormaliser::specialFolder(size_t index, std::string& folder) {
  auto known = folders_.find(index);
  if (known == folders_.end()) {
    std::string found;
    if (!kSpecialNames[index].folder(found, false)) found.clear();
    if (found.empty() && log_) log_->warning("no folder known for %s; its targets are kept as they are", kSpecialNames[index].name);
    known = folders_.emplace(index, found).first;
  }
  folder = known->second;
  return !folder.empty();
}

std::string TargetNormaliser::normalise(const std::string& target) {
  std::string t = target;
  if (!driveForm(t) && t.size() > 2 && isSeparator(t[0])) {
    std::string rest = t.substr(1);
    for (size_t i = 0; i < std::size(kSpecialNames); ++i) {
      std::string name = kSpecialNames[i].name;
      if (!ZR::CStringUtils::equalsIgnoreCaseASCII(rest.substr(0, name.size()), name)) continue;
      std::string folder;
      if (specialFolder(i, folder)) {
        t = folder + rest.substr(name.size());
        if (t[0] >= 'A' && t[0] <= 'Z') t[0] = static_cast<char>(t[0] - 'A' + 'a');
      }
      break;
    }
  }
  std::replace(t.begin(), t.end(), '/', '\\');
  return t;
}

TextSet policyTargets(const std::vector<Policy>& policies, const TextSet& excluded, TargetNormaliser& normaliser,
                      ZR::CLogger& log) {
  TextSet targets;
  size_t withoutValue = 0, withoutChild = 0;
  for (const Policy& policy : policies) {
    if (!policy.hasValue) ++withoutValue;
    if (policy.hasValue && excluded.count(policy.value)) continue;
    if (!policy.hasChild) {
      ++withoutChild;
      continue;
    }
    targets.insert(normaliser.normalise(policy.target));
  }
  if (withoutValue) log.warning("%zu policies have no value attribute; none of them can expire", withoutValue);
  if (withoutChild) log.warning("%zu policies have no child element and so no target; skipped", withoutChild);
  return targets;
}

}  // namespace dornik
