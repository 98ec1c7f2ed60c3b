// The network-bound worker: takes prepared items from the upload queue,
// writes each one's metadata text, uploads it in three steps through the
// client object, keeps the status files current, records uploaded files
// in the file index and tests the limits after each item.
#pragma once

#include <cstdint>
#include <string>

#include "bindings/zrcore/thread.h"
#include "client/action_queue.h"
#include "platform/env.h"
#include "status/status_files.h"

namespace velkan {

class CCMClient;

class CNetBoundThread : public ZR::CThread {
 public:
  // Starts the thread at once. The status lists are rewritten at most
  // twice a second (and at the end), however fast files go.
  CNetBoundThread(CActionQueue& uploadQueue, CCMClient& client, StatusFiles status = StatusFiles("status", 500));
  // Waits for the thread (it ends at its stop item).
  ~CNetBoundThread() override;

  int run() override;
  // One item: false for a stop item, true otherwise. Throws
  // CUploadLimitException when a limit is reached after the item.
  bool uploadObject(const WorkItem& item);
  // The six fixed metadata lines; throws when a file cannot be examined or
  // a value would break the line format.
  void fillMetaData(const std::string& object, const std::string& objMime, const std::string& transcodedObject,
                    std::string& out);

 private:
  // fillMetaData that also returns what it found of the origin file.
  platform::FileInfo writeMetaData(const std::string& object, const std::string& objMime,
                                   const std::string& transcodedObject, std::string& out);
  void finishUnsent(const std::string& object, const std::string& why);

  CActionQueue& uploadQueue_;
  CCMClient& client_;
  StatusFiles status_;
};

}  // namespace velkan
