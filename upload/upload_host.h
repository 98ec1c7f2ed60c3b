// What the upload worker needs of the run that owns it: the three upload
// steps on the service, the counting and the limits, and the flags that
// end the uploads of a run. The client object implements it.
#pragma once

#include <cstdint>
#include <string>

#include "service/velkan_exceptions.h"

namespace velkan {

class MemoryBudget;

class UploadHost {
 public:
  virtual ~UploadHost() = default;
  // Each returns the service's code (-2 on success); transport failures throw.
  virtual int uploadMetaData(const std::string& filePath, const std::string& metadata) = 0;
  virtual int writeContentAsAttachment(const std::string& filePath, const std::string& localFile) = 0;
  virtual int finalizeFile(const std::string& filePath, const std::string& metadata) = 0;
  // The attachment step for a copy prepared in memory.
  virtual int writeContentFromMemory(const std::string& filePath, const std::string& content) = 0;
  virtual void countFile() = 0;
  // Throws CUploadLimitException when a limit is reached.
  virtual void checkLimits(int32_t count, bool withDeleteTime) = 0;
  // Before a file's upload begins: false when it may not (a file limit is
  // reached by the uploads done and under way). Thread-safe.
  virtual bool startUpload() { return true; }
  // An upload that startUpload() let begin ended without countFile().
  virtual void cancelUpload() {}
  // Once stopped, nothing more is prepared or sent in this run. Thread-safe.
  virtual bool uploadsStopped() const = 0;
  virtual void stopUploads() = 0;
  virtual void setStorageFull() = 0;
  // Where copies prepared in memory are counted; null: none are.
  virtual MemoryBudget* memoryBudget() { return nullptr; }
  // The run's progress: a file's upload begins (`sentSize` bytes are to
  // go), and ends, stored (`failure` empty) or not (why). Default: untold.
  virtual void uploadStarted(const std::string& /*path*/, uint64_t /*sentSize*/) {}
  virtual void uploadEnded(const std::string& /*path*/, uint64_t /*originSize*/, uint64_t /*sentSize*/,
                           const std::string& /*failure*/) {}
  // A call of an upload reached no service, or found no agent
  // authentication file to log in with; the host decides whether the run
  // goes on.
  virtual void transportFailed(const CSoapException& /*failure*/) {}
  // A file of the run no longer exists: nothing was sent for it.
  virtual void fileVanished(const std::string& /*path*/, uint64_t /*plannedBytes*/) {}
  // A file changed while it was sent and goes again; one never held still
  // and goes from a private copy.
  virtual void fileReadAgain(const std::string& /*path*/) {}
  virtual void privateCopyTaken(const std::string& /*path*/) {}
  // Where a private copy of the file may be written; empty: nowhere.
  virtual std::string privateCopyPath(const std::string& /*path*/) { return ""; }
  virtual void authenticationMissing(const std::string& /*why*/) {}
};

}  // namespace velkan
