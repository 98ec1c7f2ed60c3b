// Where prepared copies wait for their upload. Each run of velkan gets a
// folder of its own inside the transcoded folder and holds a lock on it, so
// that two processes never delete each other's waiting copies; folders
// whose process has ended are removed when the next run starts.
#pragma once

#include <string>

#include "platform/env.h"
#include "platform/file_lock.h"

namespace ZR {
class CLogger;
}

namespace velkan {

class TranscodedFolder {
 public:
  // `configured` (may be empty) names the transcoded folder; by default it
  // is "transcoded" beside the executable, or the user's cache folder when
  // that one cannot be written. Its files are reached through `env`.
  TranscodedFolder(platform::Env& env, const std::string& configured, ZR::CLogger* log);
  ~TranscodedFolder();
  TranscodedFolder(const TranscodedFolder&) = delete;
  TranscodedFolder& operator=(const TranscodedFolder&) = delete;

  // This run's folder, ending with a separator; empty when none could be made.
  const std::string& path() const { return path_; }

 private:
  // Makes this run's folder under `base`; false with the reason.
  bool claim(const std::string& base, std::string& why);

  platform::Env& env_;
  std::string path_;
  platform::FileLock lock_;
  ZR::CLogger* log_;
};

}  // namespace velkan
