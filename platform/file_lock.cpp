#include "platform/file_lock.h"

#include <memory>

#include "platform/env.h"

namespace platform {

bool FileLock::tryLock(const std::string& path, const std::string& holder) { return take(path, holder).isOk(); }

Status FileLock::take(const std::string& path, const std::string& holder) {
  if (Status locked = takeLock(path); !locked) return locked;
  // The note only tells a person who holds the lock: one that cannot be
  // written is done without, but a link planted there is refused.
  std::unique_ptr<WritableFile> note;
  Status opened = env()->openWritableNoLink(path + ".holder", &note);
  if (!opened && opened.code() == Status::kInvalid) {
    release();
    return opened;
  }
  if (opened) {
    note->append(holder.data(), holder.size());
    note->close();
  }
  return Status::ok();
}

std::string FileLock::holderOf(const std::string& path) {
  std::string holder;
  if (!readFileToString(path + ".holder", &holder)) return "";
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
  return holder;
}

}  // namespace platform
