#include "prepare/cpu_bound_thread.h"

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/thread.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "prepare/compression.h"
#include "prepare/file_types.h"
#include "pipeline/consistent_read.h"
#include "pipeline/metadata_text.h"
#include "pipeline/prepared_copy.h"

namespace velkan {

CCPUBoundThread::CCPUBoundThread(CActionQueue& transcodeQueue, CActionQueue& uploadQueue, PreparationHost& host,
                                 const ZR::CRunContext& context)
    : transcodeQueue_(transcodeQueue),
      uploadQueue_(uploadQueue),
      host_(host),
      context_(context),
      folder_(*context.env, host.preparationSettings().transcodedFolder, context.log) {
  threadStart();
}

CCPUBoundThread::~CCPUBoundThread() { join(); }

int CCPUBoundThread::run() {
  context_.log->info("CCPUBoundThread::run(), started");
  for (;;) {
    UploadItem item;
    transcodeQueue_.take(item);
    bool stop = item.isStop();
    std::string object = item.object;
    try {
      prepare(std::move(item));
    } catch (const std::exception& e) {
      context_.log->error("%s", (std::string("CCPUBoundThread::run ") + e.what()).c_str());
      host_.preparationFailed(object, ZR::CStringUtils::rtrim(e.what(), " \t\r\n"));
    }
    if (stop) return 0;
  }
}

bool CCPUBoundThread::prepareObject(WorkItem workItem) { return prepare(UploadItem::fromWorkItem(std::move(workItem))); }

bool CCPUBoundThread::prepare(UploadItem item) {
  if (item.isStop()) return false;
  if (host_.uploadsStopped()) {
    // Nothing more is sent in this run: preparing it would be wasted work.
    context_.log->trace("%s", ("not prepared, uploads have stopped: " + item.object).c_str());
    return true;
  }
  uint64_t planned = item.origin ? item.origin->size : 0;
  if (!lookAtOriginNow(item)) {
    host_.fileVanished(item.object, planned);
    return true;
  }
  if (!prepareConsistently(item)) return true;
  item.prepared = true;
  PreparedCopy copy(item.transcodedObject, context_.env);  // removed if the hand-over fails
  uploadQueue_.put(std::move(item));
  copy.release();
  return true;
}

// The version the copy is made of is the one the file has now, once the
// second of its last write is over. False when the file no longer exists.
bool CCPUBoundThread::lookAtOriginNow(UploadItem& item) {
  std::string host = platform::hostPath(item.object);
  platform::FileInfo info;
  // One that cannot be examined but is there goes on: the upload says why it fails.
  if (!context_.env->getFileInfo(host, &info)) return context_.env->fileExists(host);
  if (waitPastWriteSecond(info, [this] { return host_.uploadsStopped(); }) &&
      !context_.env->getFileInfo(host, &info)) {
    return context_.env->fileExists(host);
  }
  item.origin = info;
  return true;
}

// Prepares the item from the file; a copy made while the file changed is
// made again, and at last from a private copy taken while the file held
// still. False when the item is dropped (said why).
bool CCPUBoundThread::prepareConsistently(UploadItem& item) {
  std::string source = item.object;
  PreparedCopy privateCopy;  // what the copy is made from when the file never holds still
  for (int attempt = 1;; ++attempt) {
    UploadItem attemptItem = item;
    prepareFrom(attemptItem, source);
    bool madeACopy = !attemptItem.transcodedObject.empty() || attemptItem.inMemory;
    platform::FileInfo after;
    bool still = !privateCopy.empty() || !item.origin ||
                 (context_.env->getFileInfo(platform::hostPath(item.object), &after) && after.sameVersion(*item.origin));
    if (!madeACopy || still) {
      attemptItem.consistent = madeACopy && item.origin.has_value();
      item = std::move(attemptItem);
      return true;
    }
    discard(attemptItem);
    host_.fileReadAgain(item.object);
    context_.log->info("%s", (item.object + " changed while it was read; read again").c_str());
    if (attempt < kReadAttempts) {
      pauseUnlessStopped(backOffMs(attempt + 1), [this] { return host_.uploadsStopped(); });
      if (!lookAtOriginNow(item)) {
        host_.fileVanished(item.object, 0);
        return false;
      }
      continue;
    }
    if (!takePrivateCopy(item, privateCopy)) return false;
    source = privateCopy.path();
  }
}

bool CCPUBoundThread::takePrivateCopy(UploadItem& item, PreparedCopy& privateCopy) {
  std::string why = "there is no folder for copies";
  if (!folder_.path().empty()) {
    std::string target = makeUniqueName(folder_.path(), item.object) + ".copy";
    platform::FileInfo version;
    platform::Status copied = copyWhileStill(*context_.env, platform::hostPath(item.object), target, version,
                                             kCopyAttempts, [this] { return host_.uploadsStopped(); });
    if (copied) {
      privateCopy = PreparedCopy(target, context_.env);
      item.origin = version;
      host_.privateCopyTaken(item.object);
      return true;
    }
    why = copied.message();
  }
  std::string failure = "kept changing while it was read and no copy could be taken while it held still (" + why +
                        "); its cached copy stays as it was";
  context_.log->error("%s", (item.object + " " + failure).c_str());
  host_.preparationFailed(item.object, failure);
  return false;
}

// Gives up a copy made of a version that did not hold.
void CCPUBoundThread::discard(UploadItem& item) {
  PreparedCopy(item.transcodedObject, context_.env).remove();
  item.transcodedObject.clear();
  if (item.inMemory && host_.memoryBudget()) host_.memoryBudget()->give(item.preparedContent.size());
  item.preparedContent.clear();
  item.inMemory = false;
}

// One preparation of the item, reading the file at `source` (the origin,
// or a private copy of it).
void CCPUBoundThread::prepareFrom(UploadItem& item, const std::string& source) {
  const PreparationSettings& settings = host_.preparationSettings();
  uint64_t size = item.origin ? item.origin->size : 0;
  MetadataText lines;
  if (isImageFile(item.object)) {
    preparePicture(item, source);
  } else if (isMp3File(item.object)) {
    // Sent as it is, with no lines of its own.
  } else if (!isCompressible(item.object) ||
             (isExecutable(item.object) && size > static_cast<uint64_t>(int64_t{settings.compressionExeSize}))) {
    lines.sentUnchanged(item.objMime);
    item.extraMetaData = lines.text();
  } else if (folder_.path().empty()) {
    // No folder for copies (said once when the run started): sent as it is.
    lines.sentUnchanged(item.objMime);
    item.extraMetaData = lines.text();
  } else {
    compress(item, source);
  }
}

// A small file is compressed into memory when the run's budget allows: no
// file is made for a copy that lives a moment. The budget holds the copy's
// size until the upload is done with it. A full budget means preparation is
// far ahead of the uploads: it waits for them rather than making files that
// only wait longer (and a file after all if they make no room).
bool CCPUBoundThread::compressInMemory(UploadItem& item, const std::string& source) {
  MemoryBudget* budget = host_.memoryBudget();
  uint64_t bound = item.origin ? item.origin->size + 1024 : 0;
  if (!budget || !item.origin || item.origin->size > kInMemoryCopyBytes ||
      !budget->take(bound, kMemoryWaitMs, [this] { return host_.uploadsStopped(); })) {
    return false;
  }
  context_.log->info("CCPUBoundThread compressing: %s", item.object.c_str());
  const PreparationSettings& settings = host_.preparationSettings();
  if (ZR::CStringUtils::isAscii(item.object)) {
    pauseUnlessStopped(settings.compressionWaitMs, [this] { return host_.uploadsStopped(); });
  }
  std::string why;
  try {
    gzipToMemory(*context_.env, source, item.preparedContent, &why, &gzip_);
  } catch (const std::exception&) {
    budget->give(bound);
    context_.log->error("%s", ("cannot compress " + item.object + ": " + why).c_str());
    throw;
  }
  budget->give(bound - std::min<uint64_t>(bound, item.preparedContent.size()));
  item.inMemory = true;
  item.sentSize = item.preparedContent.size();
  MetadataText lines;
  lines.compressedCopy(item.objMime);
  item.extraMetaData = lines.text();
  return true;
}

void CCPUBoundThread::compress(UploadItem& item, const std::string& source) {
  if (compressInMemory(item, source)) return;
  const PreparationSettings& settings = host_.preparationSettings();
  CompressionContext context{folder_.path(), settings.compressionWaitMs, context_.log, {},
                             [this] { return host_.uploadsStopped(); }, &gzip_, context_.env};
  context.gzip.throttle = context_.throttle;
  if (context_.throttle && context_.throttle->sharePercent() < 100) context.gzip.threads = 1;
  std::string transcoded, metadata;
  compressObject(source, item.objMime, transcoded, metadata, context);
  PreparedCopy copy(transcoded, context_.env);
  platform::FileInfo written;
  if (context_.env->getFileInfo(platform::hostPath(transcoded), &written)) item.sentSize = written.size;
  item.transcodedObject = copy.release();
  item.extraMetaData = metadata;
}

void CCPUBoundThread::preparePicture(UploadItem& item, const std::string& source) {
  context_.log->info("CCPUBoundThread transcoding pic: %s", item.object.c_str());
  const PreparationSettings& settings = host_.preparationSettings();
  PictureSize origin;
  imageSize(*context_.env, source, origin.height, origin.width);  // the one look at the header
  if (!origin.known()) context_.log->warning("%s", ("cannot read the picture size of " + item.object).c_str());
  int32_t code = typeCodeOf(item.object);
  bool small = origin.height < settings.maxImageHeight && origin.width < settings.maxImageWidth;
  bool needed = !(small && (code == kTypeJpeg || code == kTypePng)) && !folder_.path().empty() &&
                !settings.keepPictures;
  std::string result = "application/octet-stream";
  std::vector<uint8_t> buffer;
  PictureSize sent = origin;
  if (needed) {
    parameters_ = TranscodeParameters{settings.maxImageHeight, settings.maxImageWidth, settings.maxImageQuality};
    result = transformImage(*context_.env, source, buffer, parameters_, context_.log, origin.known() ? &origin : nullptr, &sent);
  }
  MetadataText lines;
  if (!needed || result == "application/octet-stream") {
    lines.picture(item.objMime);
    lines.pictureSizes(origin, origin);
    item.extraMetaData = lines.text();
    return;
  }
  std::string target = makeUniqueName(folder_.path(), item.object) + (result == "image/png" ? ".png" : ".jpg");
  PreparedCopy copy(target, context_.env);
  ZR::CFile file(*context_.env, target, "w");
  bool written = file.isValid() && file.write(buffer.data(), buffer.size()) == static_cast<int64_t>(buffer.size());
  written = file.close() && written;
  if (!written) {
    // A copy that is not whole is never sent: the picture goes unchanged.
    context_.log->error("%s", ("cannot write the prepared copy " + target + ": " + file.lastError()).c_str());
    lines.picture(item.objMime);
    lines.pictureSizes(origin, origin);
    item.extraMetaData = lines.text();
    return;
  }
  item.transcodedObject = copy.release();
  item.sentSize = buffer.size();
  host_.pictureReencoded(item.object);
  lines.picture(result);
  lines.pictureSizes(origin, sent);
  item.extraMetaData = lines.text();
}

bool CCPUBoundThread::transcodePicture(const std::string& path, const std::string& objMime, std::string& transcoded,
                                       std::string& metadata) {
  UploadItem item;
  item.object = path;
  item.objMime = objMime;
  preparePicture(item, path);
  transcoded = item.transcodedObject;
  metadata = item.extraMetaData;
  return !transcoded.empty();
}

void CCPUBoundThread::appendImageSizes(const std::string& originPath, const std::string& sentPath, std::string& out) {
  try {
    PictureSize origin, sent;
    imageSize(*context_.env, originPath, origin.height, origin.width);
    imageSize(*context_.env, sentPath, sent.height, sent.width);
    MetadataText lines;
    lines.pictureSizes(origin, sent);
    out += lines.text();
  } catch (const std::exception&) {
    // What was written stays.
  }
}

}  // namespace velkan
