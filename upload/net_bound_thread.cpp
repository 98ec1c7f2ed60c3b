#include "upload/net_bound_thread.h"

#include <cstdio>
#include <stdexcept>

#include "bindings/cabinet/file_index.h"
#include "bindings/zrcore/log.h"
#include "platform/clock.h"
#include "platform/path.h"
#include "bindings/zrcore/string_utils.h"
#include "service/error_messages.h"
#include "service/velkan_exceptions.h"
#include "pipeline/consistent_read.h"
#include "pipeline/metadata_text.h"
#include "pipeline/prepared_copy.h"
#include "pipeline/upload_item.h"

namespace velkan {
namespace {

// Why the service did not store a file, as a person reads it.
std::string resultText(int result) {
  std::string message = CErrorMessageRegistry::instance().serviceMessage(result);
  return "the service answered " + std::to_string(result) + (message.empty() ? "" : " (" + message + ")");
}

std::runtime_error statFailed(const std::string& path) {
  return std::runtime_error("CNetBoundThread::fillMetaData _stat to get fileinfo failed:" + path);
}

// An upload of this size or more is named on the status page at once;
// smaller ones as often as the page is rewritten.
constexpr uint64_t kLastingUploadBytes = 1 << 20;

// Ends the "uploading" state whatever way the upload ends.
class UploadingScope {
 public:
  UploadingScope(StatusFiles& status, const std::string& object, uint64_t sentSize) : status_(status) {
    status_.removeWaiting(object);
    status_.setUploading(object, sentSize >= kLastingUploadBytes);
  }
  ~UploadingScope() { status_.clearUploading(); }
  UploadingScope(const UploadingScope&) = delete;
  UploadingScope& operator=(const UploadingScope&) = delete;

 private:
  StatusFiles& status_;
};

}  // namespace

CNetBoundThread::CNetBoundThread(CActionQueue& uploadQueue, UploadHost& host, StatusFiles& status,
                                 const ZR::CRunContext& context)
    : uploadQueue_(uploadQueue), host_(host), status_(status), context_(context) {
  threadStart();
}

CNetBoundThread::~CNetBoundThread() { join(); }

int CNetBoundThread::run() {
  ZR::CLogger& log = *context_.log;
  log.info("CNetBoundThread started");
  for (;;) {
    UploadItem item;
    uploadQueue_.take(item);
    bool stop = item.isStop();
    std::string object = item.object;
    try {
      upload(std::move(item));
    } catch (const CUploadLimitException& e) {
      // A reached limit ends the uploads of this run: logged once, the
      // remaining items are taken off the queue unsent.
      log.error("%s", (std::string("CNetBoundThread::run ") + e.what()).c_str());
      host_.stopUploads();
    } catch (const CAuthenticationFileMissing& e) {
      log.error("%s", (std::string("CNetBoundThread::run ") + e.what()).c_str());
      std::string why = ZR::CStringUtils::rtrim(e.what(), " \t\r\n");
      host_.uploadEnded(object, 0, 0, why);
      host_.authenticationMissing(why);
    } catch (const CSoapException& e) {
      log.error("%s", (std::string("CNetBoundThread::run ") + e.what()).c_str());
      host_.uploadEnded(object, 0, 0, e.detail().empty() ? ZR::CStringUtils::rtrim(e.what(), " \t\r\n") : e.detail());
      host_.transportFailed(e);
    } catch (const std::exception& e) {
      log.error("%s", (std::string("CNetBoundThread::run ") + e.what()).c_str());
      host_.uploadEnded(object, 0, 0, ZR::CStringUtils::rtrim(e.what(), " \t\r\n"));
    }
    if (stop) break;
  }
  status_.flush();
  log.info("CNetBoundThread stopped");
  return 0;
}

platform::FileInfo CNetBoundThread::originOf(const UploadItem& item) {
  if (item.origin) return *item.origin;
  platform::FileInfo origin;
  if (!context_.env->getFileInfo(platform::hostPath(item.object), &origin) || origin.isDirectory) {
    throw statFailed(item.object);
  }
  return origin;
}

uint64_t CNetBoundThread::sentSizeOf(const UploadItem& item, const platform::FileInfo& origin) {
  if (item.inMemory) return item.preparedContent.size();
  if (item.transcodedObject.empty()) return origin.size;
  if (item.sentSize) return *item.sentSize;
  platform::FileInfo copy;
  if (!context_.env->getFileInfo(platform::hostPath(item.transcodedObject), &copy) || copy.isDirectory) {
    throw statFailed(item.transcodedObject);
  }
  return copy.size;
}

void CNetBoundThread::fillMetaData(const std::string& object, const std::string& objMime,
                                   const std::string& transcodedObject, std::string& out) {
  UploadItem item;
  item.object = object;
  item.objMime = objMime;
  item.transcodedObject = transcodedObject;
  platform::FileInfo origin = originOf(item);
  MetadataText text;
  text.originLines(object, objMime, origin, sentSizeOf(item, origin));
  out += text.text();
}

int CNetBoundThread::send(const UploadItem& item, const std::string& metadata, const platform::FileInfo& origin,
                          bool& changed, std::string& whyUnsent) {
  UploadingScope uploading(status_, item.object, sentSizeOf(item, origin));
  const std::string& toSend = item.transcodedObject.empty() ? item.object : item.transcodedObject;
  int result = host_.uploadMetaData(item.object, metadata);
  if (result == -2) {
    result = item.inMemory ? host_.writeContentFromMemory(item.object, item.preparedContent)
                           : host_.writeContentAsAttachment(item.object, toSend);
  }
  if (result != -2) return result;
  // What was sent must be the version the metadata describes: a file that
  // changed since the run looked at it (while it was prepared or sent) is
  // not finalized, so the service keeps the previous version. A copy made
  // while the file held still is that version, whatever the file did since.
  if (item.consistent) return host_.finalizeFile(item.object, "");
  platform::FileInfo now;
  if (!context_.env->getFileInfo(platform::hostPath(item.object), &now)) {
    changed = true;
    whyUnsent = "could not be examined after it was sent";
  } else if (!now.sameVersion(origin)) {
    changed = true;
    whyUnsent = "changed while it was being sent";
  }
  return changed ? result : host_.finalizeFile(item.object, "");
}

// The end of an item that was not sent: counted like any other, recorded
// nowhere, and told on the terminal.
bool CNetBoundThread::finishUnsent(const std::string& object, const std::string& why) {
  context_.log->warning("%s", (object + " " + why + "; not uploaded, it goes again next run").c_str());
  std::printf("not uploaded %s (%s)\n", object.c_str(), why.c_str());
  std::fflush(stdout);
  host_.uploadEnded(object, 0, 0, why);
  countFile();
  host_.checkLimits(0, false);
  return true;
}

// A line per file on the terminal, so that a long run is never silent.
// Not flushed here: a system call per small file (and a wake-up of the
// program reading the lines) was about 8 % of the client's time on small
// files; the run's flusher thread sends the lines on within 200 ms.
void CNetBoundThread::report(const std::string& object, int result, uint64_t size) {
  if (result == -2) {
    std::printf("uploaded %s (%llu bytes)\n", object.c_str(), static_cast<unsigned long long>(size));
  } else {
    std::printf("not uploaded %s (result %d)\n", object.c_str(), result);
  }
}

namespace {

// Gives a copy held in memory back to the run's budget when its item is done.
class MemoryHeld {
 public:
  MemoryHeld(MemoryBudget* budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {}
  ~MemoryHeld() {
    if (budget_) budget_->give(bytes_);
  }
  MemoryHeld(const MemoryHeld&) = delete;
  MemoryHeld& operator=(const MemoryHeld&) = delete;

 private:
  MemoryBudget* budget_;
  uint64_t bytes_;
};

}  // namespace

bool CNetBoundThread::uploadObject(const WorkItem& workItem) { return upload(UploadItem::fromWorkItem(workItem)); }

bool CNetBoundThread::upload(UploadItem item) {
  if (item.isStop()) return false;
  PreparedCopy copy(item.transcodedObject, context_.env);  // not needed once the item is done
  MemoryHeld held(item.inMemory ? host_.memoryBudget() : nullptr, item.preparedContent.size());
  if (host_.uploadsStopped()) {
    context_.log->trace("%s", ("not uploaded, uploads have stopped: " + item.object).c_str());
    return true;
  }
  if (!stillThere(item)) return true;
  if (!host_.startUpload()) {
    // Uploads under way on other sessions reach the file limit: this one is not begun.
    host_.stopUploads();
    return true;
  }
  counted_ = false;
  struct UnderWay {
    CNetBoundThread& worker;
    ~UnderWay() {
      if (!worker.counted_) worker.host_.cancelUpload();
    }
  } underWay{*this};
  for (int attempt = 1;; ++attempt) {
    platform::FileInfo origin = originOf(item);
    uint64_t sentSize = sentSizeOf(item, origin);
    MetadataText metadata;
    metadata.originLines(item.object, item.objMime, origin, sentSize);
    metadata.append(item.extraMetaData);
    bool changed = false;
    std::string whyUnsent;
    host_.uploadStarted(item.object, sentSize);
    int result = send(item, metadata.text(), origin, changed, whyUnsent);
    if (!changed) return recordResult(item, origin, sentSize, result);
    // A prepared copy that is not known to be of this version cannot be made again here.
    bool sentTheOrigin = item.transcodedObject.empty() && !item.inMemory;
    if (!sentTheOrigin) return finishUnsent(item.object, whyUnsent);
    host_.fileReadAgain(item.object);
    if (attempt < kReadAttempts) {
      if (!lookAgainAfterPause(item, attempt + 1)) return true;
      continue;
    }
    if (std::string why = sendPrivateCopy(item, copy); !why.empty()) return finishUnsent(item.object, why);
  }
}

// Looked at now, before any call: a file that is gone costs no call.
bool CNetBoundThread::stillThere(UploadItem& item) {
  platform::FileInfo now;
  std::string host = platform::hostPath(item.object);
  if (context_.env->getFileInfo(host, &now) && !now.isDirectory) {
    if (!item.origin) item.origin = now;
    return true;
  }
  if (context_.env->fileExists(host)) throw statFailed(item.object);
  context_.log->error("%s", ("CNetBoundThread::run " + std::string(statFailed(item.object).what())).c_str());
  host_.fileVanished(item.object, item.origin ? item.origin->size : 0);
  return false;
}

// After a file changed while it was sent: a pause, then the version it has
// now, once the second of its last write is over. False when it is gone.
bool CNetBoundThread::lookAgainAfterPause(UploadItem& item, int attempt) {
  auto stopped = [this] { return host_.uploadsStopped(); };
  uint32_t pause = backOffMs(attempt);
  for (uint32_t slept = 0; slept < pause && !stopped(); slept += 50) platform::sleepMs(50);
  item.origin.reset();
  if (!stillThere(item)) return false;
  waitPastWriteSecond(*item.origin, stopped);
  item.origin.reset();
  return stillThere(item);
}

// A file that never held still while it was sent goes from a private copy
// taken while it did. Returns why not, or empty when the item now carries it.
std::string CNetBoundThread::sendPrivateCopy(UploadItem& item, PreparedCopy& copy) {
  std::string target = host_.privateCopyPath(item.object);
  if (target.empty()) return "kept changing while it was sent, and there is no folder for a private copy";
  platform::FileInfo version;
  platform::Status copied = copyWhileStill(*context_.env, platform::hostPath(item.object), target, version,
                                           kCopyAttempts, [this] { return host_.uploadsStopped(); });
  if (!copied) return "kept changing while it was sent (" + copied.message() + ")";
  copy = PreparedCopy(target, context_.env);
  item.transcodedObject = target;
  item.sentSize.reset();
  item.origin = version;
  item.consistent = true;
  host_.privateCopyTaken(item.object);
  return "";
}

bool CNetBoundThread::recordResult(const UploadItem& item, const platform::FileInfo& origin, uint64_t sentSize,
                                   int result) {
  if (result == -2) {
    status_.addUploadedToday(item.object, origin.size);
    context_.index->addFileItem(item.object, origin.size, origin.modifiedUnixSeconds);
  } else if (result == CCacheManagerSpaceLimitException::kSpaceLimitCode) {
    context_.log->error("%s", ("the store is full; uploads stop after " + item.object).c_str());
    host_.setStorageFull();
  }
  report(item.object, result, origin.size);
  host_.uploadEnded(item.object, origin.size, sentSize, result == -2 ? "" : resultText(result));
  countFile();
  host_.checkLimits(0, false);
  return true;
}

}  // namespace velkan
