// The action set: the file through which the policy engine tells the cache
// client what to delete and create, and which service actions to carry out.
//
//   <action-set>
//     <action name="delete"> <directory path="..."/> <file path="..."/> </action>
//     <action name="create">
//       <file path="c:\docs\a.doc"> <offset value="0"/> <mimeType name="application/msword"/> </file>
//     </action>
//   </action-set>
//
// Writing is atomic (temporary file, then rename) and escapes every value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bindings/zrcore/file.h"

namespace dornik {

// Streams an action set to disk; memory stays flat whatever its length.
class ActionSetWriter {
 public:
  ActionSetWriter(platform::Env& env, const std::string& path);
  ActionSetWriter(const ActionSetWriter&) = delete;
  ActionSetWriter& operator=(const ActionSetWriter&) = delete;

  void beginAction(const std::string& name);
  // An entry of a delete action: <element path="..."/>.
  void addPath(const char* element, std::string_view path);
  // An entry of a create action, with its offset ("0" when the cache size
  // is empty) and the MIME type of the path.
  void addCreate(const char* element, std::string_view path, std::string_view cacheSize);
  void endAction();
  // Ends the document and puts the file in place. False when any part of
  // it could not be written; the old file (if any) is then left untouched.
  bool commit();
  const std::string& error() const { return file_.lastError(); }

 private:
  void drainIfLarge();

  void openParents();

  std::string buffer_;
  bool rootOpen_ = false;
  bool inAction_ = false;
  bool actionTagOpen_ = false;
  ZR::CAtomicFile file_;
  bool ok_;
};

// Reading, as the cache client does it.

extern const char* const kActionSetLoadFailed;     // "Loading of Action XML failed."
extern const char* const kActionSetChildMissing;   // "Xml parsing error. Possibly invalid XML file."

enum class ActionKind { Create, Delete, GetContents, GetPolicies, SetSymLinks, WriteGhostContent, DeletePolicies };

struct CreateEntry {
  std::string path;
  int64_t offset = 0;          // 0 when absent
  bool offsetFound = false;
  std::string mimeType;        // empty when absent
  bool mimeTypeFound = false;
};

struct Action {
  ActionKind kind = ActionKind::GetPolicies;
  std::vector<CreateEntry> files;   // Create: the `file` children
  std::vector<std::string> paths;   // Delete: every child's path
  std::string contentsPath;         // GetContents: the first child's path
  // GetContents without a first child with a path: reading stopped here,
  // and carrying the action out fails (after the client's own checks).
  bool contentsPathMissing = false;
};

struct ActionSetContent {
  // False when the file could not be parsed (error = kActionSetLoadFailed,
  // detail says why); no action is valid then.
  bool loaded = false;
  // The actions in document order; actions with unknown names are left out.
  std::vector<Action> actions;
  // Set when reading stopped at an action that could not be read: the
  // actions before it are valid and are to be carried out.
  std::string error;
  std::string detail;
  // Entries skipped for want of a path, one line each.
  std::vector<std::string> warnings;
};

ActionSetContent readActionSet(platform::Env& env, const std::string& path);

const char* actionName(ActionKind kind);

}  // namespace dornik
