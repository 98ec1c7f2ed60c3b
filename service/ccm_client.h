// The cache client object: one per velkan process. It holds the settings,
// the upload counters and limits, the session key store and the service
// session, and offers the service operations the controller and the
// network worker call. The controller side (reading and carrying out an
// action set) is built on top of these operations.
//
// Calls that talk to the service are made from one thread at a time: the
// controller's before the workers start, then the network worker's.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/action_queue.h"
#include "client/client_settings.h"
#include "client/session_key_store.h"
#include "client/upload_file.h"
#include "client/upload_limits.h"
#include "service/soap_session.h"

namespace ZR {
class CLogger;
class CXmlElement;
class CXmlWriter;
}  // namespace ZR

namespace dornik {
struct Action;
}

namespace ZR {
class CThread;
}

namespace velkan {

class CCMClient : public ByteAccounting {
 public:
  // Opens the session key store and the two queues, takes the proxy
  // settings of agent.xml (current folder) and becomes the process's
  // transfer accounting. REQUIRES: the logger exists.
  explicit CCMClient(platform::Clock& clock = *platform::Clock::system());
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
  void stopUploadsAtReachedLimit();
  void updatePolicyStatus();
  std::string readCurrentPolicy();
  std::vector<std::string> collectUploadPaths() const;
  void putTranscodeQueue(const std::vector<CUploadFile>& files);

  const std::vector<CUploadFile>& smallUploads() const { return smallUploads_; }
  const std::vector<CUploadFile>& largeUploads() const { return largeUploads_; }
  const std::vector<CUploadFile>& resumedUploads() const { return resumedUploads_; }

  const ClientSettings& settings() const { return settings_; }
  CUploadLimits& limits() { return limits_; }
  const std::string& sessionKey() const { return sessionKey_; }
  const std::string& attachmentId() const { return attachmentId_; }
  bool loggedIn() const { return loggedIn_; }
  std::vector<std::string>& deleteList() { return deleteList_; }
  ServiceOptions& serviceOptions() { return serviceOptions_; }

  // Byte accounting and limits of the run.
  void accountBytes(int32_t count) override { limits_.accountBytes(count); }
  void countFile() { limits_.countFile(); }
  void checkLimits(int32_t count, bool withDeleteTime) { limits_.checkLimits(count, withDeleteTime); }

  // Session.
  void ensureSession();
  void login();
  // Logs a failed result and logs in again after -3; returns the code (-2
  // on success; 0 for a document).
  int checkResult(const std::string& where, const std::string& operation, const std::string& result);
  // True for a text of at least two characters that starts with "-" and a digit.
  static bool isErrorCode(const std::string& text);

  // The three steps of an upload; each returns the service's code.
  int uploadMetaData(const std::string& filePath, const std::string& metadata);
  int writeContentAsAttachment(const std::string& filePath, const std::string& localFile);
  int finalizeFile(const std::string& filePath, const std::string& metadata);

  void deleteFile(const std::string& filePath);
  // Deletes the paths of the delete list in order, testing the limits
  // (delete time included) before each; a reached limit ends the loop
  // with CUploadLimitException. Each path leaves the file index after its
  // deletion, whatever the service answered.
  void deleteFiles();

  void getDir(const std::string& path, const std::string& outputPath);
  void getPolicies(const std::string& outputPath);
  void setSymlinks(const std::string& symlinkPath);
  void deletePolicy(const std::string& expiredPoliciesPath);
  void writeGhostContent(const std::string& ghostContentPath);
  static void appendGhostEntries(const ZR::CXmlElement& group, ZR::CXmlWriter& writer);
  // The document sent for one group of the ghost content file: its
  // directory and file entries under <contents>, paths with forward slashes.
  static std::string ghostDocument(const ZR::CXmlElement& group);

  // The remote path of a ghost group whose first entry has `entryPath`;
  // throws std::out_of_range for an empty one.
  static std::string ghostRemotePath(const std::string& entryPath);

  // Handlers of the five service actions.
  void onGetContents(const dornik::Action& action);
  void onGetPolicies(const dornik::Action& action);
  void onSetSymLinks(const dornik::Action& action);
  void onDeletePolicies(const dornik::Action& action);
  void onWriteGhostContent(const dornik::Action& action);

  // Uploads end early once a limit is reached or the store is full: the
  // workers send and prepare nothing more in this run. Thread-safe.
  void stopUploads() { uploadsStopped_.store(true); }
  bool uploadsStopped() const { return uploadsStopped_.load(); }
  void setStorageFull() {
    storageFull_.store(true);
    stopUploads();
  }
  bool storageFull() const { return storageFull_.load(); }

  CSoapSession* session() { return session_.get(); }
  CActionQueue& transcodeQueue() { return transcodeQueue_; }
  CActionQueue& uploadQueue() { return uploadQueue_; }

 private:
  ZR::CLogger& log_;
  bool loggedIn_ = false;
  CSessionKeyStore keys_;
  CActionQueue transcodeQueue_;
  std::unique_ptr<ZR::CThread> cpuWorker_;
  CActionQueue uploadQueue_;
  std::unique_ptr<ZR::CThread> netWorker_;
  std::unique_ptr<CSoapSession> session_;
  std::string configurationPath_;
  ClientSettings settings_;
  std::string sessionKey_;
  std::string attachmentId_;
  std::vector<std::string> deleteList_;
  size_t deletionsDone_ = 0;
  std::vector<CUploadFile> smallUploads_;
  std::vector<CUploadFile> largeUploads_;
  std::vector<CUploadFile> resumedUploads_;
  ServiceOptions serviceOptions_;
  CUploadLimits limits_;
  std::atomic<bool> uploadsStopped_{false};
  std::atomic<bool> storageFull_{false};
};

}  // namespace velkan
