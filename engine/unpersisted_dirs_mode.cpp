// The unpersisted-directories mode: which target folders the current
// policies no longer cover.
#include <algorithm>
#include <iterator>
#include <set>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/xml_writer.h"
#include "engine/dornik.h"
#include "engine/exit_codes.h"
#include "engine/policy_targets.h"

namespace dornik {
namespace {

TextSet expiredPolicyValues(platform::Env& env, const std::string& path, ZR::CLogger& log) {
  TextSet values;
  std::string error;
  std::unique_ptr<ZR::CXmlElement> document(ZR::CXmlBuilder::fileToDocument(env, path, error));
  if (!document) {
    // A missing file means none expired; one that is there but unreadable is worth a word.
    if (ZR::CFileUtils::fileExists(env, path)) {
      log.warning("expired-policy file %s not read, no policy counts as expired: %s", path.c_str(), error.c_str());
    } else {
      log.trace("no expired policies read from %s: %s", path.c_str(), error.c_str());
    }
    return values;
  }
  for (size_t i = 0; i < document->getChildCount(); ++i) values.insert(document->getChild(i)->getText());
  return values;
}

// The lines "<dir>path</dir>\n" of a target list.
std::string targetListText(const TextSet& targets) {
  std::string text;
  for (const std::string& target : targets) text += "<dir>" + ZR::CXmlUtil::escapeXml2(target) + "</dir>\n";
  return text;
}

std::string unpersistedDocument(const TextSet& targets) {
  std::string text;
  ZR::CXmlWriter xml(text, true);
  xml.declaration();
  xml.startElement("unPersistedDirs");
  for (const std::string& target : targets) {
    xml.startElement("dir");
    xml.text(target);
    xml.endElement();
  }
  xml.endElement();
  return text;
}

// Writes one output whole; logs and returns false when it cannot.
bool writeOutput(platform::Env& env, const char* what, const std::string& path, const std::string& content,
                 ZR::CLogger& log) {
  if (path.empty()) {
    log.info("no path set for the %s; not written", what);
    return true;
  }
  std::string error;
  if (ZR::CFileUtils::writeFileAtomically(env, path, content, error)) return true;
  log.error("Error writing %s to path:%s : %s", what, path.c_str(), error.c_str());
  return false;
}

}  // namespace

int runUnpersistedDirsMode(platform::Env& env, const Settings& settings, ZR::CLogger& log) {
  std::string error;
  std::vector<Policy> currentList, previousList;
  if (!readPolicyList(env, settings.currentpolicylist, currentList, error)) {
    log.error(" Error reading current policies List %s", settings.currentpolicylist.c_str());
    log.error("%s", error.c_str());
    return kExitInputUnreadable;
  }
  TargetNormaliser normaliser(&log);
  TextSet currentTargets =
      policyTargets(currentList, expiredPolicyValues(env, settings.expiredpolicyfile, log), normaliser, log);
  std::vector<Policy>().swap(currentList);
  if (!readPolicyList(env, settings.prevpolicylist, previousList, error)) {
    log.error(" Error reading previous policies List %s", settings.prevpolicylist.c_str());
    log.error("%s", error.c_str());
    return kExitInputUnreadable;
  }
  TextSet previousTargets = policyTargets(previousList, {}, normaliser, log);
  std::vector<Policy>().swap(previousList);
  TextSet unpersisted;
  std::set_difference(previousTargets.begin(), previousTargets.end(), currentTargets.begin(), currentTargets.end(),
                      std::inserter(unpersisted, unpersisted.end()));
  log.info("policies: %zu current targets, %zu previous targets, %zu unpersisted", currentTargets.size(),
           previousTargets.size(), unpersisted.size());

  bool written =
      writeOutput(env, "unpersisted directories", settings.unpersistedDirs, unpersistedDocument(unpersisted), log);
  written =
      writeOutput(env, "previous target list", settings.prevDirXml, targetListText(previousTargets), log) && written;
  written =
      writeOutput(env, "current target list", settings.currentDirXml, targetListText(currentTargets), log) && written;
  return written ? kExitOk : kExitWriteFailed;
}

}  // namespace dornik
