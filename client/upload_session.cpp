#include "client/upload_session.h"

#include "client/ccm_client.h"

namespace velkan {

CUploadSession::CUploadSession(CCMClient& client, std::unique_ptr<CacheManagerCalls> calls)
    : client_(client), calls_(std::move(calls)) {}

CUploadSession::~CUploadSession() = default;

int CUploadSession::uploadMetaData(const std::string& filePath, const std::string& metadata) {
  return client_.serviceAnswered(calls_->uploadMetaData(filePath, metadata));
}

int CUploadSession::writeContentAsAttachment(const std::string& filePath, const std::string& localFile) {
  return client_.serviceAnswered(calls_->writeContentAsAttachment(filePath, localFile));
}

int CUploadSession::finalizeFile(const std::string& filePath, const std::string& metadata) {
  return client_.serviceAnswered(calls_->finalizeFile(filePath, metadata));
}

int CUploadSession::writeContentFromMemory(const std::string& filePath, const std::string& content) {
  return client_.serviceAnswered(calls_->writeContentFromMemory(filePath, content));
}

void CUploadSession::countFile() { client_.countFile(); }
void CUploadSession::checkLimits(int32_t count, bool withDeleteTime) { client_.checkLimits(count, withDeleteTime); }
bool CUploadSession::startUpload() { return client_.startUpload(); }
bool CUploadSession::uploadsStopped() const { return client_.uploadsStopped(); }
void CUploadSession::stopUploads() { client_.stopUploads(); }
void CUploadSession::setStorageFull() { client_.setStorageFull(); }
MemoryBudget* CUploadSession::memoryBudget() { return client_.memoryBudget(); }
void CUploadSession::uploadStarted(const std::string& path, uint64_t sentSize) { client_.uploadStarted(path, sentSize); }
void CUploadSession::uploadEnded(const std::string& path, uint64_t originSize, uint64_t sentSize,
                                 const std::string& failure) {
  client_.uploadEnded(path, originSize, sentSize, failure);
}
void CUploadSession::transportFailed(const CSoapException& failure) { client_.transportFailed(failure); }
void CUploadSession::authenticationMissing(const std::string& why) { client_.authenticationMissing(why); }
void CUploadSession::fileVanished(const std::string& path, uint64_t plannedBytes) {
  client_.fileVanished(path, plannedBytes);
}
void CUploadSession::fileReadAgain(const std::string& path) { client_.fileReadAgain(path); }
void CUploadSession::privateCopyTaken(const std::string& path) { client_.privateCopyTaken(path); }
std::string CUploadSession::privateCopyPath(const std::string& path) { return client_.privateCopyPath(path); }

}  // namespace velkan
