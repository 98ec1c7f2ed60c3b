// CCMClient as the controller of a run: the action set, the deletions, the
// upload lists and the two workers.
#include <algorithm>
#include <stdexcept>

#include "actionset/action_set_file.h"
#include "bindings/cabinet/file_index.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/thread.h"
#include "client/ccm_client.h"
#include "client/upload_session.h"
#include "platform/env.h"
#include "platform/path.h"
#include "prepare/cpu_bound_thread.h"
#include "prepare/image_transcoder.h"
#include "service/velkan_exceptions.h"
#include "status/policy_status.h"
#include "upload/net_bound_thread.h"
#include "pipeline/upload_item.h"

namespace velkan {
namespace {

constexpr const char* kOffsetExpression = "/file/offset@value";
constexpr const char* kMimeExpression = "/file/mimeType@name";

// The value reader's log lines for a value the action-set reader found (or not).
void logValue(ZR::CLogger& log, const char* expression, bool found, const std::string& value, const char* child) {
  std::string line = found ? "Read " + value + " for " + expression + "\n"
                           : "While reading " + std::string(expression) + ", message is :  element '" + child +
                                 "' not found under '/file'\n";
  log.info("%s", line.c_str());
}

}  // namespace

void CCMClient::run(const std::string& configurationPath) {
  configure(configurationPath);
  startImageCodecs(&log_);
  readActionSet();
  if (settings_.sortUploads) sortUploads();
  processActions();
}

void CCMClient::readActionSet() {
  // The action set decides which files leave the machine and which cached
  // copies are deleted: say so when someone else could have written it.
  platform::FileInfo info;
  if (context_.env->getFileInfo(platform::hostPath(settings_.actionset), &info) && info.othersMayWrite) {
    log_.warning("%s", ("the action set " + settings_.actionset +
                        " can be changed by other users; keep it writable by this user only").c_str());
  }
  dornik::ActionSetContent content = dornik::readActionSet(*context_.env, settings_.actionset);
  if (!content.loaded) {
    log_.error("%s", content.detail.c_str());
    throw std::runtime_error(dornik::kActionSetLoadFailed);
  }
  for (const std::string& warning : content.warnings) log_.warning("%s", warning.c_str());
  for (const dornik::Action& action : content.actions) {
    switch (action.kind) {
      case dornik::ActionKind::Create: onCreate(action); break;
      case dornik::ActionKind::Delete: onDelete(action); break;
      case dornik::ActionKind::GetContents: onGetContents(action); break;
      case dornik::ActionKind::GetPolicies: onGetPolicies(action); break;
      case dornik::ActionKind::SetSymLinks: onSetSymLinks(action); break;
      case dornik::ActionKind::WriteGhostContent: onWriteGhostContent(action); break;
      case dornik::ActionKind::DeletePolicies: onDeletePolicies(action); break;
    }
  }
  if (!content.error.empty()) {
    log_.error("%s", content.detail.c_str());
    throw std::runtime_error(content.error);
  }
}

void CCMClient::onDelete(const dornik::Action& action) {
  deleteList_.insert(deleteList_.end(), action.paths.begin(), action.paths.end());
}

void CCMClient::onCreate(const dornik::Action& action) {
  for (const dornik::CreateEntry& entry : action.files) {
    createdPaths_.insert(entry.path);
    logValue(log_, kOffsetExpression, entry.offsetFound, std::to_string(entry.offset), "offset");
    logValue(log_, kMimeExpression, entry.mimeTypeFound, entry.mimeType, "mimeType");
    try {
      CUploadFile file(*context_.env, entry.path, entry.mimeType, entry.offset);
      // A file listed again with the cache's size as its offset is sent
      // whole again, unless the file index shows that this very version
      // was uploaded already (an empty stored file has the offset 0).
      if (context_.index->holdsVersion(file.path(), file.size(), file.modifiedUnixSeconds())) {
        log_.info("%s", ("Already held by the cache: " + file.path()).c_str());
        continue;
      }
      // A negative MaxDataPerFile means no limit: every new file is small.
      bool small = settings_.maxDataPerFile < 0 || file.size() <= static_cast<uint64_t>(settings_.maxDataPerFile);
      if (file.offset() != 0) {
        resumedUploads_.push_back(std::move(file));
      } else if (small) {
        smallUploads_.push_back(std::move(file));
      } else {
        largeUploads_.push_back(std::move(file));
      }
    } catch (const CFileNotFoundException& e) {
      // A file that is gone costs no call: its cached copy goes with the
      // next backup's deletions. One that cannot be examined is listed again next run.
      if (!context_.env->fileExists(platform::hostPath(entry.path))) {
        ++vanished_;
        log_.warning("%s", (entry.path + " no longer exists; nothing was sent, its cached copy goes at the next backup")
                               .c_str());
        if (progress_) progress_->vanished(false, 0);
        continue;
      }
      // Say why it cannot be examined (a folder on its way that became a
      // link, say) where opening it tells.
      std::unique_ptr<platform::ReadableFile> probe;
      platform::Status opened = context_.env->openReadable(platform::hostPath(entry.path), &probe);
      bool aLink = !opened && opened.code() == platform::Status::kRefused;
      std::string why = aLink ? opened.message() : ZR::CStringUtils::rtrim(e.what(), " \t\r\n");
      log_.warning("%s", ("skipped: " + why).c_str());
      noteNotUploaded(entry.path, why);
      if (progress_) progress_->failure(entry.path, why);
    }
  }
}

void CCMClient::sortUploads() {
  auto newestFirst = [](const CUploadFile& a, const CUploadFile& b) { return a.lastWriteTime() > b.lastWriteTime(); };
  std::stable_sort(smallUploads_.begin(), smallUploads_.end(), newestFirst);
  std::stable_sort(resumedUploads_.begin(), resumedUploads_.end(), newestFirst);
  std::stable_sort(largeUploads_.begin(), largeUploads_.end(),
                   [](const CUploadFile& a, const CUploadFile& b) { return a.size() < b.size(); });
}

// What the run is to do, told before it starts doing it.
void CCMClient::planProgress() {
  if (!progress_) return;
  progress_->planDeletions(deleteList_.size());
  uint64_t files = 0, bytes = 0;
  for (const auto* list : {&smallUploads_, &resumedUploads_, &largeUploads_}) {
    files += list->size();
    for (const CUploadFile& file : *list) bytes += file.size();
  }
  progress_->planFiles(files, bytes);
}

// A path that is deleted and created again in the same run keeps its
// cached copy until the new version replaces it when it is finalized: an
// upload that fails then leaves the old copy in place, never none. Only
// the paths that are not created again are deleted first.
void CCMClient::keepReplacedPaths() {
  std::vector<std::string> deletions;
  for (std::string& path : deleteList_) {
    if (createdPaths_.count(path)) {
      replacedNotDeleted_.push_back(std::move(path));
    } else {
      deletions.push_back(std::move(path));
    }
  }
  deleteList_ = std::move(deletions);
  if (!replacedNotDeleted_.empty()) {
    log_.info("%s", (std::to_string(replacedNotDeleted_.size()) +
                     " changed files keep their cached copies until their new versions are stored")
                        .c_str());
  }
}

void CCMClient::processActions() {
  keepReplacedPaths();
  planProgress();
  runDeletions();
  stopUploadsAtReachedLimit();
  bool toUpload = !smallUploads_.empty() || !resumedUploads_.empty() || !largeUploads_.empty();
  if (toUpload && !uploadsStopped() && !endedEarly()) connectFirst();
  if (!endedEarly()) {
    startWorkers();
    updatePolicyStatus();
    putTranscodeQueue(smallUploads_);
    putTranscodeQueue(resumedUploads_);
    putTranscodeQueue(largeUploads_);
    stopWorkers();
  }
  throwIfEndedEarly();
  if (storageFull()) {
    throw CCacheManagerSpaceLimitException("The cache manager's store is full; the remaining files were not uploaded.\n");
  }
}

// The session is set up before the first file is prepared: without an
// authentication file, or without a service to talk to, there is no point
// preparing a single one.
void CCMClient::connectFirst() {
  try {
    ensureSession();
    answered(0);
  } catch (const CAuthenticationFileMissing& e) {
    endEarly(kExitNoAuthentication, ZR::CStringUtils::rtrim(e.what(), " \t\r\n"));
  } catch (const CSoapException& e) {
    transportFailed(e);
  }
}

// A reached limit or a failed call ends the deletions, with a warning; the
// uploads still run, unless the service could not be reached at all or
// there is no authentication file to log in with.
void CCMClient::runDeletions() {
  try {
    deleteFiles();
    return;
  } catch (const CAuthenticationFileMissing& e) {
    endEarly(kExitNoAuthentication, ZR::CStringUtils::rtrim(e.what(), " \t\r\n"));
  } catch (const CSoapException& e) {
    transportFailed(e);
    warnDeletionsStopped(e);
  } catch (const std::exception& e) {
    warnDeletionsStopped(e);
  }
}

void CCMClient::warnDeletionsStopped(const std::exception& e) {
  size_t undone = deleteList_.size() - deletionsDone_;
  log_.warning("%s", ("deletions stopped: " + ZR::CStringUtils::rtrim(e.what(), " \t\r\n") + "; " +
                      std::to_string(undone) + " of " + std::to_string(deleteList_.size()) + " deletions left undone")
                         .c_str());
}

void CCMClient::startWorkers() {
  auto preparing = std::make_unique<CCPUBoundThread>(transcodeQueue_, uploadQueue_, *this, context_);
  copiesFolder_ = preparing->transcodedFolder();
  // Throttling stops the preparing worker with the run thread: it does the heavy work.
  if (context_.throttle) context_.throttle->add(&preparing->handle());
  cpuWorker_ = std::move(preparing);
  netWorkers_.push_back(std::make_unique<CNetBoundThread>(uploadQueue_, *this, status_, context_));
  for (int i = 1; i < settings_.uploadSessions; ++i) {
    auto session = std::make_unique<CUploadSession>(*this, makeCalls());
    netWorkers_.push_back(std::make_unique<CNetBoundThread>(uploadQueue_, *session, status_, context_));
    uploadSessions_.push_back(std::move(session));
  }
}

// The preparing worker ends at its stop item, then the uploading one at
// the stop item that follows everything it prepared. The preparing worker
// goes last: its folder holds the copies the uploads read.
void CCMClient::stopWorkers() {
  if (cpuWorker_) {
    transcodeQueue_.put(UploadItem{});
    cpuWorker_->join();
    if (context_.throttle) context_.throttle->remove(&cpuWorker_->handle());
  }
  // One stop item for each network worker: each ends at the first it takes,
  // after everything prepared before it.
  for (size_t i = 0; i < netWorkers_.size(); ++i) uploadQueue_.put(UploadItem{});
  for (auto& worker : netWorkers_) worker->join();
  netWorkers_.clear();
  uploadSessions_.clear();
  cpuWorker_.reset();
  context_.index->flush();
}

// A limit already reached (by the deletions, or a limit of 0) stops the
// uploads before the first file is prepared, as later limits do after a file.
void CCMClient::stopUploadsAtReachedLimit() {
  try {
    checkLimits(0, false);
  } catch (const CUploadLimitException& e) {
    log_.error("%s", e.what());
    stopUploads();
  }
}

void CCMClient::putTranscodeQueue(const std::vector<CUploadFile>& files) {
  for (const CUploadFile& file : files) {
    if (uploadsStopped()) return;  // the workers would only drop it
    UploadItem item;
    item.object = file.path();
    item.objMime = file.mimeType();
    item.origin = file.fileInfo();  // what the later stages go by
    log_.info("Put transcode queue: %s", file.path().c_str());
    transcodeQueue_.put(std::move(item));
  }
}

std::vector<std::string> CCMClient::collectUploadPaths() const {
  std::vector<std::string> paths;
  for (const auto* list : {&smallUploads_, &resumedUploads_, &largeUploads_}) {
    for (const CUploadFile& file : *list) paths.push_back(file.path());
  }
  return paths;
}

std::string CCMClient::readCurrentPolicy() { return velkan::readCurrentPolicy(*context_.env); }

void CCMClient::updatePolicyStatus() { velkan::updatePolicyStatus(readCurrentPolicy(), collectUploadPaths(), status_); }

}  // namespace velkan
