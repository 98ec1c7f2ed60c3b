// One file on its way from the controller to the service: the one record
// the queues carry from the reading of the action set to the recording of
// its upload, so that what one stage found out reaches the next instead of
// being looked up again (the origin's version from the action set, the
// size of the prepared copy from preparation). Where an interface of the
// queues or the workers asks for a work item (a map of strings: the four
// keys every stage knows, and keys of our own beside them), it is
// converted there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/env.h"
#include "pipeline/work_item.h"

namespace velkan {

struct PictureSize {
  int32_t height = 0;
  int32_t width = 0;
  bool known() const { return height != 0 && width != 0; }
};

struct UploadItem {
  std::string object;            // the origin file; also its name on the service
  std::string objMime;
  std::string transcodedObject;  // the prepared copy, or empty: the origin goes
  std::string extraMetaData;     // the lines preparation wrote (possibly none)
  bool prepared = false;         // preparation has been through it
  // The version of the origin this upload sends, as first looked at.
  std::optional<platform::FileInfo> origin;
  // Size of the prepared copy as written.
  std::optional<uint64_t> sentSize;
  // A copy prepared in memory (then transcodedObject is empty): what is
  // sent instead of the origin, counted against the run's MemoryBudget.
  std::string preparedContent;
  bool inMemory = false;
  // The prepared copy was checked to be of `origin`: the file held still
  // while it was read. Such a copy is sent whatever the file does later.
  bool consistent = false;

  bool isStop() const { return object.empty(); }
  static UploadItem fromWorkItem(WorkItem item);
  WorkItem toWorkItem() &&;
  WorkItem toWorkItem() const&;
};

}  // namespace velkan
