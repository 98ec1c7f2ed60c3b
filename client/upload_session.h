// A further upload connection of a run whose UploadSessions is above 1:
// the three calls of an upload on a session of its own, which shares the
// run's session key (and logs in again for all when the key is refused);
// counting, limits, progress and the end of the run are the client's.
// Used by one network worker.
#pragma once

#include <memory>
#include <string>

#include "service/cache_manager_calls.h"
#include "upload/upload_host.h"

namespace velkan {

class CCMClient;

class CUploadSession : public UploadHost {
 public:
  CUploadSession(CCMClient& client, std::unique_ptr<CacheManagerCalls> calls);
  ~CUploadSession() override;
  CUploadSession(const CUploadSession&) = delete;
  CUploadSession& operator=(const CUploadSession&) = delete;

  int uploadMetaData(const std::string& filePath, const std::string& metadata) override;
  int writeContentAsAttachment(const std::string& filePath, const std::string& localFile) override;
  int finalizeFile(const std::string& filePath, const std::string& metadata) override;
  int writeContentFromMemory(const std::string& filePath, const std::string& content) override;

  void countFile() override;
  void checkLimits(int32_t count, bool withDeleteTime) override;
  bool startUpload() override;
  bool uploadsStopped() const override;
  void stopUploads() override;
  void setStorageFull() override;
  MemoryBudget* memoryBudget() override;
  void uploadStarted(const std::string& path, uint64_t sentSize) override;
  void uploadEnded(const std::string& path, uint64_t originSize, uint64_t sentSize, const std::string& failure) override;
  void transportFailed(const CSoapException& failure) override;
  void authenticationMissing(const std::string& why) override;
  void fileVanished(const std::string& path, uint64_t plannedBytes) override;
  void fileReadAgain(const std::string& path) override;
  void privateCopyTaken(const std::string& path) override;
  std::string privateCopyPath(const std::string& path) override;

 private:
  CCMClient& client_;
  std::unique_ptr<CacheManagerCalls> calls_;
};

}  // namespace velkan
