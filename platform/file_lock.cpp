#include "platform/file_lock.h"

#include <memory>

#include "platform/env.h"

namespace platform {

bool FileLock::tryLock(const std::string& path, const std::string& holder) {
  if (!tryLock(path)) return false;
  std::unique_ptr<WritableFile> note;
  if (env()->openWritable(path + ".holder", &note)) {
    note->append(holder.data(), holder.size());
    note->close();
  }
  return true;
}

std::string FileLock::holderOf(const std::string& path) {
  std::string holder;
  if (!readFileToString(path + ".holder", &holder)) return "";
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
  return holder;
}

}  // namespace platform
