// An Env that reads below given folders (the watched folders) without
// following a link on the way: a file or folder that became a link after
// the scan saw it is refused with a message that names the link, never
// read through it. Paths outside every folder go to the wrapped Env as they
// are; the folders themselves are trusted (links in their own paths are
// followed). Writing is not changed. The folders reached are kept open for
// the next file (a folder swapped for a link later is still the folder
// that was reached, never what the link leads to). Safe from several
// threads.
#pragma once

#include <map>
#include <memory>
#include <mutex>
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
  // The folder that holds `relative`'s last part, from the cache of folders
  // reached lately (a run reads many files of one folder), and that part.
  Status parentOf(const std::string& root, const std::string& relative, std::shared_ptr<class FolderHandle>& folder,
                  std::string& name);

  std::vector<std::string> roots_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<class FolderHandle>> folders_;  // by root and relative folder
};

}  // namespace platform
