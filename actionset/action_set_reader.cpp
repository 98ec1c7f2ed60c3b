#include <cstring>

#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_reader.h"
#include "actionset/action_set_file.h"

namespace dornik {

const char* const kActionSetLoadFailed = "Loading of Action XML failed.";
const char* const kActionSetChildMissing = "Xml parsing error. Possibly invalid XML file.";

const char* actionName(ActionKind kind) {
  switch (kind) {
    case ActionKind::Create: return "create";
    case ActionKind::Delete: return "delete";
    case ActionKind::GetContents: return "getContents";
    case ActionKind::GetPolicies: return "getPolicies";
    case ActionKind::SetSymLinks: return "setSymLinks";
    case ActionKind::WriteGhostContent: return "writeGhostContent";
    case ActionKind::DeletePolicies: return "deletePolicies";
  }
  return "";
}

namespace {

bool kindOf(const char* name, ActionKind& kind) {
  static const ActionKind kKinds[] = {ActionKind::Create,      ActionKind::Delete,
                                      ActionKind::GetContents, ActionKind::GetPolicies,
                                      ActionKind::SetSymLinks, ActionKind::WriteGhostContent,
                                      ActionKind::DeletePolicies};
  for (ActionKind k : kKinds) {
    if (std::strcmp(name, actionName(k)) == 0) {
      kind = k;
      return true;
    }
  }
  return false;
}

// Collects the actions as the document streams by. Actions are only handed
// out once the whole document has parsed, so a broken file never leads to
// half a run.
class ActionSetHandler : public ZR::CXmlHandler {
 public:
  explicit ActionSetHandler(ActionSetContent& out) : out_(out) {}

  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    ++depth_;
    if (stopped_) return;
    if (depth_ == 2) {
      startAction(attributes);
    } else if (depth_ == 3 && inAction_) {
      startEntry(name, attributes);
    } else if (depth_ == 4 && inCreateFile_) {
      readCreateDetail(name, attributes);
    }
  }

  void endElement(const char*) override {
    if (!stopped_) {
      if (depth_ == 3) inCreateFile_ = false;
      if (depth_ == 2 && inAction_) endAction();
    }
    --depth_;
  }

  void characters(const char*, size_t) override {}

 private:
  void startAction(const ZR::CXmlAttributes& attributes) {
    const char* name = attributes.find("name");
    ActionKind kind;
    inAction_ = name && kindOf(name, kind);
    if (!inAction_) return;
    out_.actions.push_back(Action{kind, {}, {}, {}, false});
    childCount_ = 0;
  }

  void startEntry(const char* name, const ZR::CXmlAttributes& attributes) {
    Action& action = out_.actions.back();
    const char* path = attributes.find("path");
    ++childCount_;
    switch (action.kind) {
      case ActionKind::Delete:
        if (path) {
          action.paths.emplace_back(path);
        } else {
          out_.warnings.push_back(std::string("delete entry <") + name + "> without path skipped");
        }
        break;
      case ActionKind::Create:
        if (std::strcmp(name, "file") != 0) break;
        if (!path) {
          out_.warnings.push_back("create entry <file> without path skipped");
          break;
        }
        action.files.emplace_back();
        action.files.back().path = path;
        inCreateFile_ = true;
        offsetChildSeen_ = mimeChildSeen_ = false;
        break;
      case ActionKind::GetContents:
        if (childCount_ == 1) {
          if (path) {
            action.contentsPath = path;
          } else {
            stop("getContents entry <" + std::string(name) + "> has no path");
          }
        }
        break;
      default:
        break;
    }
  }

  // "/file/offset@value" and "/file/mimeType@name": the first child of
  // that name counts, whether or not it has the attribute.
  void readCreateDetail(const char* name, const ZR::CXmlAttributes& attributes) {
    CreateEntry& entry = out_.actions.back().files.back();
    if (std::strcmp(name, "offset") == 0 && !offsetChildSeen_) {
      offsetChildSeen_ = true;
      if (const char* value = attributes.find("value")) {
        entry.offset = ZR::CNumberText::toInt64(value);
        entry.offsetFound = true;
      }
    } else if (std::strcmp(name, "mimeType") == 0 && !mimeChildSeen_) {
      mimeChildSeen_ = true;
      if (const char* value = attributes.find("name")) {
        entry.mimeType = value;
        entry.mimeTypeFound = true;
      }
    }
  }

  void endAction() {
    inAction_ = false;
    if (out_.actions.back().kind == ActionKind::GetContents && childCount_ == 0) {
      stop("getContents action names no folder");
    }
  }

  void stop(const std::string& detail) {
    out_.actions.back().contentsPathMissing = true;
    out_.error = kActionSetChildMissing;
    out_.detail = detail;
    stopped_ = true;
    inAction_ = inCreateFile_ = false;
  }

  ActionSetContent& out_;
  int depth_ = 0;
  bool stopped_ = false;
  bool inAction_ = false;
  bool inCreateFile_ = false;
  bool offsetChildSeen_ = false;
  bool mimeChildSeen_ = false;
  size_t childCount_ = 0;
};

}  // namespace

ActionSetContent readActionSet(platform::Env& env, const std::string& path) {
  ActionSetContent content;
  ActionSetHandler handler(content);
  std::string parseError;
  if (!ZR::CXmlReader::parseFile(env, path, handler, parseError)) {
    content = ActionSetContent();
    content.error = kActionSetLoadFailed;
    content.detail = path + ": " + parseError;
    return content;
  }
  content.loaded = true;
  return content;
}

}  // namespace dornik
