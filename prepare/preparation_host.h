// What the preparing worker needs of the run that owns it: the limits that
// decide how pictures and executables are prepared, the pause before each
// compression, where copies go, and whether the run still uploads. The
// client object implements it.
#pragma once

#include <cstdint>
#include <string>

namespace velkan {

class MemoryBudget;

struct PreparationSettings {
  int32_t maxImageWidth = 768;
  int32_t maxImageHeight = 1024;
  int32_t maxImageQuality = 80;
  int32_t compressionExeSize = -1;  // executables above this many bytes go unchanged
  uint32_t compressionWaitMs = 10000;
  std::string transcodedFolder;     // empty: the default folder
  bool keepPictures = false;        // pictures go as they are
};

class PreparationHost {
 public:
  virtual ~PreparationHost() = default;
  // Fixed before the worker starts.
  virtual const PreparationSettings& preparationSettings() const = 0;
  // Once true, nothing more is prepared in this run. Thread-safe.
  virtual bool uploadsStopped() const = 0;
  // Where copies prepared in memory are counted; null: every copy goes to a file.
  virtual MemoryBudget* memoryBudget() { return nullptr; }
  // A file could not be prepared and is not sent in this run.
  virtual void preparationFailed(const std::string& /*path*/, const std::string& /*why*/) {}
  // A file of the run no longer exists (`plannedBytes` were counted for
  // it): nothing is sent for it, and its cached copy goes with the next
  // backup's deletions.
  virtual void fileVanished(const std::string& /*path*/, uint64_t /*plannedBytes*/) {}
  // A file changed while it was read and is read again; a file that never
  // held still is sent from a private copy.
  virtual void fileReadAgain(const std::string& /*path*/) {}
  virtual void privateCopyTaken(const std::string& /*path*/) {}
  // A picture is to be stored scaled or re-encoded.
  virtual void pictureReencoded(const std::string& /*path*/) {}
};

}  // namespace velkan
