// The network-bound worker: takes prepared items from the upload queue,
// writes each one's metadata text, uploads it in three steps through its
// host (the client object), keeps the status files current, records
// uploaded files in the file index and has the limits tested after each
// item. A file that changed since the run first looked at it is not
// finalized: the service keeps its previous version. One sent as it is that
// changed while it was sent is sent again, and at last from a private copy
// taken while it held still; one that is gone costs no call.
#pragma once

#include <cstdint>
#include <string>

#include "bindings/context/run_context.h"
#include "bindings/zrcore/thread.h"
#include "platform/env.h"
#include "status/status_files.h"
#include "pipeline/action_queue.h"
#include "pipeline/prepared_copy.h"
#include "upload/upload_host.h"

namespace velkan {

struct UploadItem;

class CNetBoundThread : public ZR::CThread {
 public:
  // Starts the thread at once. `status` is lent for the worker's life.
  CNetBoundThread(CActionQueue& uploadQueue, UploadHost& host, StatusFiles& status,
                  const ZR::CRunContext& context);
  // Waits for the thread (it ends at its stop item).
  ~CNetBoundThread() override;

  int run() override;
  // One item: false for a stop item, true otherwise. Throws
  // CUploadLimitException when a limit is reached after the item.
  bool uploadObject(const WorkItem& item);
  // The six fixed metadata lines from the file system's view of the files;
  // throws when a file cannot be examined or a value would break the format.
  void fillMetaData(const std::string& object, const std::string& objMime, const std::string& transcodedObject,
                    std::string& out);

 private:
  // The origin's version and the sent file's size: known from the earlier
  // stages, or looked up (throwing "..._stat to get fileinfo failed:<path>").
  platform::FileInfo originOf(const UploadItem& item);
  uint64_t sentSizeOf(const UploadItem& item, const platform::FileInfo& origin);
  // The three steps; `changed` (with the reason) when the file changed
  // while it was sent, or could not be examined after: then it is not finalized.
  int send(const UploadItem& item, const std::string& metadata, const platform::FileInfo& origin, bool& changed,
           std::string& whyUnsent);
  bool finishUnsent(const std::string& object, const std::string& why);
  bool stillThere(UploadItem& item);
  bool lookAgainAfterPause(UploadItem& item, int attempt);
  std::string sendPrivateCopy(UploadItem& item, PreparedCopy& copy);
  bool recordResult(const UploadItem& item, const platform::FileInfo& origin, uint64_t sentSize, int result);
  // uploadObject on an item of its own (a copy in memory is moved, not copied).
  bool upload(UploadItem item);
  void report(const std::string& object, int result, uint64_t size);

  // The item's upload is counted (the file limit's count).
  void countFile() {
    counted_ = true;
    host_.countFile();
  }

  CActionQueue& uploadQueue_;
  UploadHost& host_;
  bool counted_ = false;
  StatusFiles& status_;
  ZR::CRunContext context_;
};

}  // namespace velkan
