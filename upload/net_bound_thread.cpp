#include "upload/net_bound_thread.h"

#include <cstdio>
#include <stdexcept>

#include "bindings/cabinet/cabinet.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "client/velkan_exceptions.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "prepare/file_types.h"
#include "service/ccm_client.h"

namespace velkan {
namespace {

ZR::CLogger* logger() { return ZR::CLogManager::instance(); }

std::string valueOf(const WorkItem& item, const char* key) {
  auto found = item.find(key);
  return found == item.end() ? std::string() : found->second;
}

// A value with a line break would add lines of its own to the metadata.
void refuseLineBreaks(const std::string& what, const std::string& value, const std::string& object) {
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw CVelkanException("metadata " + what + " of " + object + " holds a line break; the file is not uploaded.\n");
  }
}

bool statFile(const std::string& path, platform::FileInfo& info) {
  return platform::env()->getFileInfo(platform::hostPath(path), &info) && !info.isDirectory;
}

// Ends the "uploading" state and removes the prepared copy whatever way the
// upload ends: a copy is not needed once its item is done.
class UploadScope {
 public:
  UploadScope(StatusFiles& status, std::string copy) : status_(status), copy_(std::move(copy)) {}
  ~UploadScope() {
    status_.clearUploading();
    if (!copy_.empty()) platform::env()->removeFile(platform::hostPath(copy_));
  }
  UploadScope(const UploadScope&) = delete;
  UploadScope& operator=(const UploadScope&) = delete;

 private:
  StatusFiles& status_;
  std::string copy_;
};

}  // namespace

CNetBoundThread::CNetBoundThread(CActionQueue& uploadQueue, CCMClient& client, StatusFiles status)
    : uploadQueue_(uploadQueue), client_(client), status_(std::move(status)) {
  threadStart();
}

CNetBoundThread::~CNetBoundThread() { join(); }

int CNetBoundThread::run() {
  if (ZR::CLogger* log = logger()) log->info("CNetBoundThread started");
  for (;;) {
    WorkItem item;
    uploadQueue_.take(item);
    bool stop = isStopItem(item);
    try {
      uploadObject(item);
    } catch (const CUploadLimitException& e) {
      // A reached limit ends the uploads of this run: logged once, the
      // remaining items are taken off the queue unsent.
      if (ZR::CLogger* log = logger()) log->error("%s", (std::string("CNetBoundThread::run ") + e.what()).c_str());
      client_.stopUploads();
    } catch (const std::exception& e) {
      if (ZR::CLogger* log = logger()) log->error("%s", (std::string("CNetBoundThread::run ") + e.what()).c_str());
    }
    if (stop) break;
  }
  status_.flush();
  if (ZR::CLogger* log = logger()) log->info("CNetBoundThread stopped");
  return 0;
}

void CNetBoundThread::fillMetaData(const std::string& object, const std::string& objMime,
                                   const std::string& transcodedObject, std::string& out) {
  writeMetaData(object, objMime, transcodedObject, out);
}

platform::FileInfo CNetBoundThread::writeMetaData(const std::string& object, const std::string& objMime,
                                                  const std::string& transcodedObject, std::string& out) {
  platform::FileInfo origin, sent;
  if (!statFile(object, origin)) throw std::runtime_error("CNetBoundThread::fillMetaData _stat to get fileinfo failed:" + object);
  sent = origin;
  if (!transcodedObject.empty() && !statFile(transcodedObject, sent)) {
    throw std::runtime_error("CNetBoundThread::fillMetaData _stat to get fileinfo failed:" + transcodedObject);
  }
  std::string docType = docTypeOf(object);
  refuseLineBreaks("MIME type", objMime, object);
  refuseLineBreaks("document type", docType, object);
  std::string modified = platform::localTimeText(origin.modifiedUnixSeconds);
  if (modified.empty()) modified = "\n";
  out += "origin.size=" + std::to_string(origin.size) + "\n";
  out += "origin.modified=" + std::to_string(origin.modifiedUnixSeconds) + "\n";
  out += "origin.modified.text=" + modified;
  out += "origin.doctype=" + docType + "\n";
  out += "origin.mimetype=" + objMime + "\n";
  out += "cache.size=" + std::to_string(sent.size) + "\n";
  return origin;
}

// The run loop's end of an item that was not sent: counted like any other,
// recorded nowhere, and told on the terminal.
void CNetBoundThread::finishUnsent(const std::string& object, const std::string& why) {
  if (ZR::CLogger* log = logger()) log->warning("%s", (object + " " + why + "; not uploaded, it goes again next run").c_str());
  std::printf("not uploaded %s (%s)\n", object.c_str(), why.c_str());
  std::fflush(stdout);
  client_.countFile();
  client_.checkLimits(0, false);
}

bool CNetBoundThread::uploadObject(const WorkItem& item) {
  if (isStopItem(item)) return false;
  std::string objMime = valueOf(item, "objMime");
  std::string object = valueOf(item, "object");
  std::string transcoded = valueOf(item, "transcodedObject");
  if (client_.uploadsStopped()) {
    if (!transcoded.empty()) platform::env()->removeFile(platform::hostPath(transcoded));
    if (ZR::CLogger* log = logger()) log->trace("%s", ("not uploaded, uploads have stopped: " + object).c_str());
    return true;
  }
  std::string metadata;
  platform::FileInfo origin;
  try {
    origin = writeMetaData(object, objMime, transcoded, metadata);
  } catch (...) {
    if (!transcoded.empty()) platform::env()->removeFile(platform::hostPath(transcoded));
    throw;
  }
  metadata += valueOf(item, "extraMetaData");
  std::string preparedFrom = valueOf(item, kPreparedFromKey);
  if (!preparedFrom.empty() && preparedFrom != origin.versionText()) {
    // The copy holds an older version than the metadata would describe.
    if (!transcoded.empty()) platform::env()->removeFile(platform::hostPath(transcoded));
    finishUnsent(object, "changed after it was prepared");
    return true;
  }
  status_.removeWaiting(object);
  status_.setUploading(object);
  int result;
  bool changedWhileSent = false;
  {
    UploadScope scope(status_, transcoded);
    const std::string& toSend = transcoded.empty() ? object : transcoded;
    result = client_.uploadMetaData(object, metadata);
    if (result == -2) result = client_.writeContentAsAttachment(object, toSend);
    if (result == -2) {
      // What was sent must be the version the metadata describes: a file
      // that changed meanwhile is not finalized, so the service keeps the
      // previous version.
      platform::FileInfo now;
      changedWhileSent = !statFile(object, now) || !now.sameVersion(origin);
      if (!changedWhileSent) result = client_.finalizeFile(object, "");
    }
  }
  if (changedWhileSent) {
    finishUnsent(object, "changed while it was being sent");
    return true;
  }
  if (result == -2) {
    status_.addUploadedToday(object);
    ZR::CCabinet::addFileItem(object, origin.size, origin.modifiedUnixSeconds);
  } else if (result == CCacheManagerSpaceLimitException::kSpaceLimitCode) {
    if (ZR::CLogger* log = logger()) log->error("%s", ("the store is full; uploads stop after " + object).c_str());
    client_.setStorageFull();
  }
  // A line per file on the terminal, so that a long run is never silent.
  if (result == -2) {
    std::printf("uploaded %s (%llu bytes)\n", object.c_str(), static_cast<unsigned long long>(origin.size));
  } else {
    std::printf("not uploaded %s (result %d)\n", object.c_str(), result);
  }
  std::fflush(stdout);
  client_.countFile();
  client_.checkLimits(0, false);
  return true;
}

}  // namespace velkan
