// The cache client object: one per velkan process. It is the controller of
// a run (reading and carrying out an action set, controller.cpp) and the
// client of the service: its service operations forward to
// CacheManagerCalls. It holds the settings, the upload counters and limits,
// the session key store and the run's status files, and is the host of
// both workers (their small interfaces, beside them).
//
// Calls that talk to the service are made from one thread at a time: the
// controller's before the workers start, then the network worker's.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "bindings/context/run_context.h"
#include "client/client_settings.h"
#include "client/run_ending.h"
#include "client/session_key_store.h"
#include "client/upload_file.h"
#include "client/upload_limits.h"
#include "prepare/preparation_host.h"
#include "service/cache_manager_calls.h"
#include "status/run_progress.h"
#include "status/status_files.h"
#include "pipeline/action_queue.h"
#include "pipeline/prepared_copy.h"
#include "upload/upload_host.h"

namespace ZR {
class CThread;
class CXmlElement;
class CXmlWriter;
}  // namespace ZR

namespace dornik {
struct Action;
}

namespace velkan {

// Copies of small files prepared in memory, at most this much at a time.
constexpr uint64_t kPreparedInMemoryBytes = 32ull << 20;

class CCMClient : public ByteAccounting, public PreparationHost, public UploadHost {
 public:
  // Opens the session key store and the two queues and takes the proxy
  // settings of agent.xml (current folder).
  explicit CCMClient(const ZR::CRunContext& context);
  // Ends workers that are still running (with stop items), then releases
  // everything; the session key store goes last.
  ~CCMClient() override;
  CCMClient(const CCMClient&) = delete;
  CCMClient& operator=(const CCMClient&) = delete;

  // The first steps of a run: remember the configuration file, reset the
  // counters and read the configuration (throws on a bad file).
  void configure(const std::string& configurationPath);

  // The whole run: configuration, the action set (service actions carried
  // out while reading), sorting, deletions, and the uploads through both
  // workers until both have ended. Throws on fatal errors; a full store
  // ends it with CCacheManagerSpaceLimitException.
  void run(const std::string& configurationPath);
  void readActionSet();
  void onCreate(const dornik::Action& action);
  void onDelete(const dornik::Action& action);
  void sortUploads();
  void processActions();
  void updatePolicyStatus();
  std::string readCurrentPolicy();
  std::vector<std::string> collectUploadPaths() const;
  void putTranscodeQueue(const std::vector<CUploadFile>& files);

  const std::vector<CUploadFile>& smallUploads() const { return smallUploads_; }
  const std::vector<CUploadFile>& largeUploads() const { return largeUploads_; }
  const std::vector<CUploadFile>& resumedUploads() const { return resumedUploads_; }

  CUploadLimits& limits() { return limits_; }
  std::vector<std::string>& deleteList() { return deleteList_; }
  const ZR::CRunContext& context() const { return context_; }

  // Where the run tells its progress (cs_progress.xml); null: nowhere.
  // Not owned; it must outlive the run.
  void reportProgress(RunProgress* progress) { progress_ = progress; }

  // Byte accounting and limits of the run.
  void accountBytes(int32_t count) override {
    limits_.accountBytes(count);
    if (progress_ && count > 0) progress_->bytesSent(static_cast<uint64_t>(count));
  }
  bool transferAbandoned() override { return platform::interruptionRequested(); }
  void callBegins(const char* operation) override {
    if (progress_) progress_->serviceCall(operation);
  }
  void callEnds() override {
    if (progress_) progress_->serviceCall("");
  }
  void uploadStarted(const std::string& path, uint64_t sentSize) override {
    if (progress_) progress_->uploadStarted(path, sentSize);
  }
  void uploadEnded(const std::string& path, uint64_t originSize, uint64_t sentSize,
                   const std::string& failure) override;
  void preparationFailed(const std::string& path, const std::string& why) override {
    uploadEnded(path, 0, 0, why);
  }
  void fileVanished(const std::string& path, uint64_t plannedBytes) override;
  void fileReadAgain(const std::string& path) override;
  void privateCopyTaken(const std::string& path) override;
  void pictureReencoded(const std::string& /*path*/) override {
    if (progress_) progress_->pictureReencoded();
  }
  std::string privateCopyPath(const std::string& path) override;
  // Files of the run that were gone when their turn came.
  uint64_t vanished() const { return vanished_.load(); }
  // A call that found no service, or no authentication file: the run
  // stops early when the service was never reached or stays unreachable.
  void transportFailed(const CSoapException& e) override;
  void authenticationMissing(const std::string& why) override { endEarly(kExitNoAuthentication, why); }

  // The run ends early with `code` and says why (the first call wins);
  // nothing more is uploaded. Thread-safe.
  void endEarly(int code, const std::string& why);
  // Files of the run that were not uploaded, other than for a limit, and
  // the first of them with its reason.
  uint64_t notUploaded() const { return notUploaded_.load(); }
  std::string firstNotUploaded() const;
  void countFile() override { limits_.countFile(); }
  // With several upload sessions, the file limit holds for the uploads
  // done and under way together.
  bool startUpload() override { return settings_.uploadSessions <= 1 || limits_.startFile(); }
  void cancelUpload() override { limits_.cancelFile(); }
  // The service answered a call (whatever it said): it can be reached.
  int serviceAnswered(int code) { return answered(code); }
  void checkLimits(int32_t count, bool withDeleteTime) override { limits_.checkLimits(count, withDeleteTime); }

  // The service operations (service/cache_manager_calls.h).
  void ensureSession() { calls().ensureSession(); }
  void login() { calls().login(); }
  int checkResult(const std::string& where, const std::string& operation, const std::string& result) {
    return calls().checkResult(where, operation, result);
  }
  static bool isErrorCode(const std::string& text) { return CacheManagerCalls::isErrorCode(text); }
  int uploadMetaData(const std::string& filePath, const std::string& metadata) override {
    return answered(calls().uploadMetaData(filePath, metadata));
  }
  int writeContentAsAttachment(const std::string& filePath, const std::string& localFile) override {
    return answered(calls().writeContentAsAttachment(filePath, localFile));
  }
  int finalizeFile(const std::string& filePath, const std::string& metadata) override {
    return answered(calls().finalizeFile(filePath, metadata));
  }
  int writeContentFromMemory(const std::string& filePath, const std::string& content) override {
    return answered(calls().writeContentFromMemory(filePath, content));
  }
  MemoryBudget* memoryBudget() override { return &memory_; }
  void deleteFile(const std::string& filePath) {
    calls().deleteFile(filePath);
    answered(0);
  }
  // Deletes the paths of the delete list in order, testing the limits
  // (delete time included) before each; a reached limit ends the loop
  // with CUploadLimitException. Each path leaves the file index after its
  // deletion, whatever the service answered.
  void deleteFiles();
  void getDir(const std::string& path, const std::string& outputPath) { calls().getDir(path, outputPath); }
  void getPolicies(const std::string& outputPath) { calls().getPolicies(outputPath); }
  void setSymlinks(const std::string& symlinkPath) { calls().setSymlinks(symlinkPath); }
  void deletePolicy(const std::string& expiredPoliciesPath) { calls().deletePolicy(expiredPoliciesPath); }
  void writeGhostContent(const std::string& ghostContentPath) { calls().writeGhostContent(ghostContentPath); }
  static void appendGhostEntries(const ZR::CXmlElement& group, ZR::CXmlWriter& writer);
  static std::string ghostDocument(const ZR::CXmlElement& group);
  static std::string ghostRemotePath(const std::string& entryPath);

  const std::string& sessionKey() { return calls().sessionKey(); }
  const std::string& attachmentId() { return calls().attachmentId(); }
  bool loggedIn() { return calls().loggedIn(); }

  // Handlers of the five service actions.
  void onGetContents(const dornik::Action& action);
  void onGetPolicies(const dornik::Action& action);
  void onSetSymLinks(const dornik::Action& action);
  void onDeletePolicies(const dornik::Action& action);
  void onWriteGhostContent(const dornik::Action& action);

  // Uploads end early once a limit is reached or the store is full: the
  // workers send and prepare nothing more in this run. Thread-safe.
  void stopUploads() override { uploadsStopped_.store(true); }
  // Also once the run has been interrupted.
  bool uploadsStopped() const override { return uploadsStopped_.load() || platform::interruptionRequested(); }
  void setStorageFull() override {
    storageFull_.store(true);
    stopUploads();
  }
  bool storageFull() const { return storageFull_.load(); }

  const PreparationSettings& preparationSettings() const override { return preparation_; }

  CActionQueue& transcodeQueue() { return transcodeQueue_; }
  CActionQueue& uploadQueue() { return uploadQueue_; }

 private:
  // The service half; built by configure() from the settings.
  CacheManagerCalls& calls();
  std::unique_ptr<CacheManagerCalls> makeCalls();
  void stopUploadsAtReachedLimit();
  void planProgress();
  void keepReplacedPaths();
  void connectFirst();
  void runDeletions();
  void warnDeletionsStopped(const std::exception& e);
  // Throws CRunEndedEarly when the run was interrupted or ended early.
  void throwIfEndedEarly();
  bool endedEarly() const {
    std::lock_guard<std::mutex> lock(endMutex_);
    return earlyCode_ != 0 || platform::interruptionRequested();
  }
  // The service answered a call (whatever it said): it can be reached.
  int answered(int code) {
    consecutiveTransportFailures_.store(0);
    serviceAnswered_.store(true);
    return code;
  }
  void noteNotUploaded(const std::string& path, const std::string& why);
  void startWorkers();
  void stopWorkers();

  ZR::CRunContext context_;
  ZR::CLogger& log_;
  CSessionKeyStore keys_;
  CActionQueue transcodeQueue_;
  std::unique_ptr<ZR::CThread> cpuWorker_;
  CActionQueue uploadQueue_;
  // The network workers: one, or UploadSessions, the others with sessions
  // of their own (CUploadSession).
  std::vector<std::unique_ptr<UploadHost>> uploadSessions_;
  std::vector<std::unique_ptr<ZR::CThread>> netWorkers_;
  std::unique_ptr<CacheManagerCalls> calls_;
  std::string configurationPath_;
  ClientSettings settings_;
  PreparationSettings preparation_;
  std::vector<std::string> deleteList_;
  size_t deletionsDone_ = 0;
  std::vector<CUploadFile> smallUploads_;
  std::vector<CUploadFile> largeUploads_;
  std::vector<CUploadFile> resumedUploads_;
  ServiceOptions serviceOptions_;
  CUploadLimits limits_;
  StatusFiles status_;
  RunProgress* progress_ = nullptr;
  std::atomic<uint64_t> notUploaded_{0};
  std::atomic<uint64_t> vanished_{0};
  // Paths that this run deletes and uploads again: their cached copies stay
  // until the new versions replace them.
  std::vector<std::string> replacedNotDeleted_;
  std::set<std::string> createdPaths_;  // every file of the create actions
  std::string copiesFolder_;  // the preparing worker's, for private copies
  std::atomic<uint64_t> filesUploaded_{0};
  std::atomic<int> consecutiveTransportFailures_{0};
  std::atomic<bool> serviceAnswered_{false};
  mutable std::mutex endMutex_;
  std::string firstNotUploaded_;
  int earlyCode_ = 0;
  std::string earlyWhy_;
  MemoryBudget memory_{kPreparedInMemoryBytes};
  std::atomic<bool> uploadsStopped_{false};
  std::atomic<bool> storageFull_{false};
};

}  // namespace velkan
