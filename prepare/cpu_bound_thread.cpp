#include "prepare/cpu_bound_thread.h"

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "client/throttle.h"
#include "platform/env.h"
#include "platform/path.h"
#include "prepare/compression.h"
#include "prepare/file_types.h"
#include "service/ccm_client.h"

namespace velkan {
namespace {

ZR::CLogger* logger() { return ZR::CLogManager::instance(); }

std::string valueOf(const WorkItem& item, const char* key) {
  auto found = item.find(key);
  return found == item.end() ? std::string() : found->second;
}

std::string unchangedLines(const std::string& objMime) {
  return "cache.encoding=none\ncache.mimetype=" + objMime + "\n";
}

}  // namespace

CCPUBoundThread::CCPUBoundThread(CActionQueue& transcodeQueue, CActionQueue& uploadQueue, CCMClient& client)
    : transcodeQueue_(transcodeQueue),
      uploadQueue_(uploadQueue),
      client_(client),
      folder_(client.settings().transcodedFolder, logger()) {
  threadStart();
  // Throttling stops this worker with the run thread: it does the heavy work.
  ThrottleGroup::add(&handle());
}

CCPUBoundThread::~CCPUBoundThread() {
  ThrottleGroup::remove(&handle());
  join();
}

int CCPUBoundThread::run() {
  if (ZR::CLogger* log = logger()) log->info("CCPUBoundThread::run(), started");
  for (;;) {
    WorkItem item;
    transcodeQueue_.take(item);
    bool stop = isStopItem(item);
    try {
      prepareObject(std::move(item));
    } catch (const std::exception& e) {
      if (ZR::CLogger* log = logger()) log->error("%s", (std::string("CCPUBoundThread::run ") + e.what()).c_str());
    }
    if (stop) return 0;
  }
}

bool CCPUBoundThread::prepareObject(WorkItem item) {
  if (isStopItem(item)) return false;
  std::string object = valueOf(item, "object");
  if (client_.uploadsStopped()) {
    // Nothing more is sent in this run: preparing it would be wasted work.
    if (ZR::CLogger* log = logger()) log->trace("%s", ("not prepared, uploads have stopped: " + object).c_str());
    return true;
  }
  std::string objMime = valueOf(item, "objMime");
  std::string transcoded, metadata;
  // Taken before the file is read: a copy made while it changes is then
  // recognised as one of an older version when it is sent.
  platform::FileInfo info;
  bool known = platform::env()->getFileInfo(platform::hostPath(object), &info);
  uint64_t size = known ? info.size : 0;
  if (known) item[kPreparedFromKey] = info.versionText();
  const ClientSettings& settings = client_.settings();
  if (isImageFile(object)) {
    bool copied = transcodePicture(object, objMime, transcoded, metadata);
    if (copied) item["transcodedObject"] = transcoded;
    appendImageSizes(object, copied ? transcoded : object, metadata);
  } else if (isMp3File(object)) {
    // Sent as it is, with no lines of its own.
  } else if (!isCompressible(object)) {
    metadata = unchangedLines(objMime);
  } else if (isExecutable(object) &&
             size > static_cast<uint64_t>(static_cast<int64_t>(settings.compressionExeSize))) {
    metadata = unchangedLines(objMime);
  } else if (folder_.path().empty()) {
    // No folder for copies (said once when the run started): sent as it is.
    metadata = unchangedLines(objMime);
  } else {
    CompressionContext context{folder_.path(), settings.compressionWaitMs, logger()};
    compressObject(object, objMime, transcoded, metadata, context);
    item["transcodedObject"] = transcoded;
  }
  item["extraMetaData"] = metadata;
  uploadQueue_.put(item);
  return true;
}

bool CCPUBoundThread::transcodePicture(const std::string& path, const std::string& objMime, std::string& transcoded,
                                       std::string& metadata) {
  if (ZR::CLogger* log = logger()) log->info("CCPUBoundThread transcoding pic: %s", path.c_str());
  transcoded.clear();
  const ClientSettings& settings = client_.settings();
  int32_t height = 0, width = 0;
  imageSize(path, height, width);
  int32_t code = typeCodeOf(path);
  bool small = height < settings.maxImageHeight && width < settings.maxImageWidth;
  bool needed = !(small && (code == kTypeJpeg || code == kTypePng)) && !folder_.path().empty();
  std::string result = "application/octet-stream";
  std::vector<uint8_t> buffer;
  if (needed) {
    parameters_ = TranscodeParameters{settings.maxImageHeight, settings.maxImageWidth, settings.maxImageQuality};
    result = transformImage(path, buffer, parameters_, logger());
  }
  if (!needed || result == "application/octet-stream") {
    metadata = "cache.mimetype=" + objMime + "\ncache.encoding=none\n";
    return false;
  }
  std::string target = makeUniqueName(folder_.path(), path) + (result == "image/png" ? ".png" : ".jpg");
  ZR::CFile file(target, "w");
  bool written = file.isValid() && file.write(buffer.data(), buffer.size()) == static_cast<int64_t>(buffer.size());
  written = file.close() && written;
  if (!written) {
    // A copy that is not whole is never sent: the picture goes unchanged.
    if (ZR::CLogger* log = logger()) log->error("%s", ("cannot write the prepared copy " + target).c_str());
    ZR::CDir::removeDirectory(target, false);
    metadata = "cache.mimetype=" + objMime + "\ncache.encoding=none\n";
    return false;
  }
  transcoded = target;
  metadata = "cache.mimetype=" + result + "\ncache.encoding=none\n";
  return true;
}

void CCPUBoundThread::appendImageSizes(const std::string& originPath, const std::string& sentPath, std::string& out) {
  try {
    int32_t height = 0, width = 0;
    imageSize(originPath, height, width);
    if (height != 0 && width != 0) {
      out += "origin.image.height=" + std::to_string(height) + "\norigin.image.width=" + std::to_string(width) + "\n";
    }
    imageSize(sentPath, height, width);
    if (height != 0 && width != 0) {
      out += "cache.image.height=" + std::to_string(height) + "\ncache.image.width=" + std::to_string(width) + "\n";
    }
  } catch (const std::exception&) {
    // What was written stays.
  }
}

}  // namespace velkan
