// The CPU-bound worker: takes each file from the transcode queue, prepares
// it (a re-encoded picture, a gzip copy, or nothing), writes the matching
// metadata lines into the work item and hands it to the upload queue.
#pragma once

#include <string>

#include "bindings/context/run_context.h"
#include "bindings/zrcore/thread.h"
#include "prepare/gzip_stream.h"
#include "prepare/image_transcoder.h"
#include "prepare/preparation_host.h"
#include "prepare/transcoded_folder.h"
#include "pipeline/action_queue.h"
#include "pipeline/prepared_copy.h"
#include "pipeline/upload_item.h"

namespace velkan {

// Files up to this size are compressed into memory (budget allowing).
constexpr uint64_t kInMemoryCopyBytes = 1u << 20;
// How long preparation waits for the uploads to give back memory before a
// copy goes to a file.
constexpr uint64_t kMemoryWaitMs = 10000;

class CCPUBoundThread : public ZR::CThread {
 public:
  // Prepares this run's transcoded folder and starts the thread at once.
  CCPUBoundThread(CActionQueue& transcodeQueue, CActionQueue& uploadQueue, PreparationHost& host,
                  const ZR::CRunContext& context);
  // Waits for the thread (it ends at its stop item).
  ~CCPUBoundThread() override;

  int run() override;
  // One item: false for a stop item (not forwarded), true otherwise.
  bool prepareObject(WorkItem item);
  bool prepare(UploadItem item);
  // True when a re-encoded copy was written to `transcoded`; `metadata`
  // receives the picture's lines (sizes included).
  bool transcodePicture(const std::string& path, const std::string& objMime, std::string& transcoded,
                        std::string& metadata);
  // The image size lines of the origin and of the sent picture, read from
  // the files.
  void appendImageSizes(const std::string& originPath, const std::string& sentPath, std::string& out);

  const std::string& transcodedFolder() const { return folder_.path(); }

 private:
  // The picture step with what is known of the file; sets the copy's path
  // and size in `item`.
  void preparePicture(UploadItem& item, const std::string& source);
  void compress(UploadItem& item, const std::string& source);
  bool compressInMemory(UploadItem& item, const std::string& source);
  bool lookAtOriginNow(UploadItem& item);
  bool prepareConsistently(UploadItem& item);
  bool takePrivateCopy(UploadItem& item, PreparedCopy& privateCopy);
  void discard(UploadItem& item);
  void prepareFrom(UploadItem& item, const std::string& source);

  CActionQueue& transcodeQueue_;
  CActionQueue& uploadQueue_;
  PreparationHost& host_;
  ZR::CRunContext context_;
  TranscodedFolder folder_;
  TranscodeParameters parameters_;
  GzipWorkspace gzip_;  // kept from file to file
};

}  // namespace velkan
