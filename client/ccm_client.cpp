#include "client/ccm_client.h"

#include <cstdio>
#include <stdexcept>

#include "actionset/action_set_file.h"
#include "bindings/cabinet/file_index.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/thread.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "prepare/compression.h"
#include "service/ghost_content.h"
#include "service/velkan_exceptions.h"

namespace velkan {
namespace {

constexpr int kIndexBatchMs = 500;
// Transport failures in a row after which a service that answered before
// counts as gone.
constexpr int kTransportFailuresBeforeStop = 3;

}  // namespace

CCMClient::CCMClient(const ZR::CRunContext& context)
    : context_(context),
      log_(*context.log),
      transcodeQueue_(kTranscodeQueueName),
      uploadQueue_(kUploadQueueName),
      limits_(*context.clock),
      status_(*context.env, kStatusFolder, 500, context.log) {
  ProxySettings proxy = readProxySettings(*context.env);
  serviceOptions_.setProxy(proxy.host, proxy.port, proxy.user, proxy.password);
}

CCMClient::~CCMClient() {
  // A run that ended early may leave workers waiting on their queues.
  stopWorkers();
  calls_.reset();
  context_.index->setBatchInterval(0);  // commits what is gathered
}

void CCMClient::configure(const std::string& configurationPath) {
  configurationPath_ = configurationPath;
  deleteList_.clear();
  smallUploads_.clear();
  largeUploads_.clear();
  resumedUploads_.clear();
  uploadsStopped_.store(false);
  storageFull_.store(false);
  notUploaded_.store(0);
  vanished_.store(0);
  replacedNotDeleted_.clear();
  createdPaths_.clear();
  filesUploaded_.store(0);
  consecutiveTransportFailures_.store(0);
  serviceAnswered_.store(false);
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    firstNotUploaded_.clear();
    earlyCode_ = 0;
    earlyWhy_.clear();
  }
  limits_.resetForRun();
  settings_ = ClientSettings();
  const ZR::CConfigManager* loaded = context_.configuration;
  if (loaded && loaded->configurationPath() == configurationPath) {
    readConfiguration(loaded->document(), settings_, log_);  // parsed once, by the entry
  } else {
    readConfiguration(*context_.env, configurationPath_, settings_, log_);
  }
  std::string configuration = context_.env->resolvedPath(platform::hostPath(configurationPath_));
  settings_.takePathsFrom(platform::parentFolder(configuration.empty() ? platform::hostPath(configurationPath_)
                                                                       : configuration));
  limits_.apply(settings_);
  // One commit of the file index per half second rather than per file.
  context_.index->setBatchInterval(kIndexBatchMs);
  preparation_ = PreparationSettings{settings_.maxImageWidth,     settings_.maxImageHeight,
                                     settings_.maxImageQuality,   settings_.compressionExeSize,
                                     settings_.compressionWaitMs, settings_.transcodedFolder,
                                     settings_.keepPictures};
  keys_.bindToEndpoint(buildEndpoint(settings_.server));
  serviceOptions_.maxReplyBytes = settings_.maxReplyBytes;
  serviceOptions_.connectTimeoutSeconds = settings_.connectTimeoutSeconds;
  serviceOptions_.sendTimeoutSeconds = serviceOptions_.receiveTimeoutSeconds = settings_.replyTimeoutSeconds;
  calls_ = makeCalls();
}

// A session on the configured service; each upload session has its own,
// all share the session key store.
std::unique_ptr<CacheManagerCalls> CCMClient::makeCalls() {
  return std::make_unique<CacheManagerCalls>(
      *context_.env, ServiceSettings{settings_.server, settings_.accessDocument, settings_.timestampFile},
      serviceOptions_, keys_, log_, this);
}

CacheManagerCalls& CCMClient::calls() {
  if (!calls_) throw CVelkanException("the client is not configured yet\n");
  return *calls_;
}

void CCMClient::uploadEnded(const std::string& path, uint64_t originSize, uint64_t sentSize,
                            const std::string& failure) {
  if (failure.empty()) ++filesUploaded_;
  if (!failure.empty()) noteNotUploaded(path, failure);
  if (progress_) progress_->uploadEnded(path, originSize, sentSize, failure);
}

void CCMClient::fileVanished(const std::string& path, uint64_t plannedBytes) {
  ++vanished_;
  std::string line = path + " no longer exists; nothing was sent, its cached copy goes at the next backup";
  log_.warning("%s", line.c_str());
  std::printf("vanished %s\n", path.c_str());
  std::fflush(stdout);
  if (progress_) progress_->vanished(true, plannedBytes);
}

void CCMClient::fileReadAgain(const std::string& path) {
  log_.info("%s", (path + " changed while it was read; it is read again").c_str());
  if (progress_) progress_->retried();
}

void CCMClient::privateCopyTaken(const std::string& path) {
  log_.info("%s", (path + " never held still; it goes from a private copy taken while it did").c_str());
  if (progress_) progress_->privateCopy();
}

std::string CCMClient::privateCopyPath(const std::string& path) {
  // The preparing worker's folder; without one, the configured folder itself.
  std::string folder = copiesFolder_.empty() ? settings_.transcodedFolder : copiesFolder_;
  if (folder.empty()) return "";
  if (folder.back() != '/' && folder.back() != '\\') folder = platform::joinPath(folder, "");
  return makeUniqueName(folder, path) + ".copy";
}

void CCMClient::noteNotUploaded(const std::string& path, const std::string& why) {
  if (notUploaded_++ != 0) return;
  std::lock_guard<std::mutex> lock(endMutex_);
  firstNotUploaded_ = path + " (" + why + ")";
}

std::string CCMClient::firstNotUploaded() const {
  std::lock_guard<std::mutex> lock(endMutex_);
  return firstNotUploaded_;
}

void CCMClient::transportFailed(const CSoapException& e) {
  int inARow = ++consecutiveTransportFailures_;
  if (serviceAnswered_.load() && inARow < kTransportFailuresBeforeStop) return;
  std::string detail = e.detail().empty() ? ZR::CStringUtils::rtrim(e.what(), " \t\r\n") : e.detail();
  endEarly(kExitServiceUnreachable, "cannot reach the cache manager at " + settings_.server + ": " + detail);
}

void CCMClient::endEarly(int code, const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    if (earlyCode_ != 0) return;
    earlyCode_ = code;
    earlyWhy_ = why;
  }
  log_.error("%s", ("the run stops early: " + why).c_str());
  stopUploads();
}

void CCMClient::throwIfEndedEarly() {
  if (platform::interruptionRequested()) {
    uint64_t planned = smallUploads_.size() + resumedUploads_.size() + largeUploads_.size();
    endEarly(kExitInterrupted, "interrupted after " + std::to_string(filesUploaded_.load()) + " of " +
                                   std::to_string(planned) + " files were uploaded and " +
                                   std::to_string(deletionsDone_) + " of " + std::to_string(deleteList_.size()) +
                                   " deletions done; the rest goes in the next run");
  }
  std::lock_guard<std::mutex> lock(endMutex_);
  if (earlyCode_ != 0) throw CRunEndedEarly(earlyCode_, earlyWhy_);
}

void CCMClient::deleteFiles() {
  deletionsDone_ = 0;
  for (const std::string& path : deleteList_) {
    if (platform::interruptionRequested()) return;
    checkLimits(0, true);
    deleteFile(path);
    context_.index->removeFileItem(path);
    ++deletionsDone_;
    if (progress_) progress_->deletionDone();
  }
}

void CCMClient::appendGhostEntries(const ZR::CXmlElement& group, ZR::CXmlWriter& writer) {
  velkan::appendGhostEntries(group, writer);
}

std::string CCMClient::ghostDocument(const ZR::CXmlElement& group) { return velkan::ghostDocument(group); }

std::string CCMClient::ghostRemotePath(const std::string& entryPath) { return velkan::ghostRemotePath(entryPath); }

void CCMClient::onGetContents(const dornik::Action& action) {
  if (settings_.outputFile.empty()) throw std::runtime_error("no output file present to store dir content.");
  if (action.contentsPathMissing) throw std::runtime_error(dornik::kActionSetChildMissing);
  getDir(action.contentsPath, settings_.outputFile);
}

void CCMClient::onGetPolicies(const dornik::Action&) {
  if (settings_.outputFile.empty()) throw std::runtime_error("no output file present to store policies.");
  getPolicies(settings_.outputFile);
}

void CCMClient::onSetSymLinks(const dornik::Action&) {
  if (settings_.symlinkFile.empty()) {
    throw std::runtime_error("no symLink xml file present to update data on CacheManager.");
  }
  setSymlinks(settings_.symlinkFile);
}

void CCMClient::onDeletePolicies(const dornik::Action&) {
  if (settings_.expiredPoliciesFile.empty()) throw std::runtime_error("no value for expired  xml file present ");
  deletePolicy(settings_.expiredPoliciesFile);
}

void CCMClient::onWriteGhostContent(const dornik::Action&) {
  if (settings_.ghostContentFile.empty()) {
    throw std::runtime_error("no ghostContent xml file present to update data on CacheManager.");
  }
  writeGhostContent(settings_.ghostContentFile);
}

}  // namespace velkan
