#include "platform/folder_watcher.h"

namespace platform {

Status createFolderWatcher(std::unique_ptr<FolderWatcher>*) {
  return Status::invalid("watching folders is not built for Windows yet; schedule backups instead");
}

std::string watchLimitHint() { return ""; }

}  // namespace platform
