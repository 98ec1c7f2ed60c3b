// An Env that reads below given folders (the watched folders) without
// following a link on the way: a file or folder that became a link after
// the scan saw it is refused with a message that names the link, never
// read through it. Paths outside every folder go to the wrapped Env as they
// are; the folders themselves are trusted (links in their own paths are
// followed). Writing is not changed.
#pragma once

#include <string>
#include <vector>

#include "platform/env.h"

namespace platform {

class LinkFreeEnv : public EnvWrapper {
 public:
  // `roots`: host paths of folders; empty ones are ignored.
  LinkFreeEnv(Env* target, std::vector<std::string> roots);

  bool getFileInfo(const std::string& path, FileInfo* info) override;
  Status openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) override;

  // The root that `path` lies below (the longest), and the rest of it;
  // false when it lies below none.
  bool split(const std::string& path, std::string& root, std::string& relative) const;

 private:
  std::vector<std::string> roots_;
};

}  // namespace platform
