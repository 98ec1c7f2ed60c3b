// What a run has uploaded, and the limits it stops at: time, files, data,
// and a bit rate that attachment reads are paced to. Safe from several
// threads (the run's upload sessions share it).
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace velkan {

struct ClientSettings;

class CUploadLimits {
 public:
  // Takes the run's start time and starts the first pacing window.
  explicit CUploadLimits(platform::Clock& clock = *platform::Clock::system());

  // Zeroes the counters and lifts the count limits, as a run starts; the
  // start time and the window stay.
  void resetForRun();
  // Takes the limits and the pacing rate from the settings.
  void apply(const ClientSettings& settings);

  // Counts bytes about to be sent and holds the caller back while the
  // current window is ahead of the rate. Throws nothing.
  void accountBytes(int32_t count);
  // Counts one item carried through all upload steps.
  void countFile();
  // Before an upload begins, with several at once: false when the files
  // already done and under way reach the file limit (the upload is not to
  // begin); otherwise it counts as under way until countFile().
  bool startFile();
  // An upload counted as under way that ended without countFile().
  void cancelFile();
  // Accounts `count` bytes, then tests the time (and, with
  // `withDeleteTime`, the delete time), file and data limits in that order;
  // throws CUploadLimitException with the text of the first one reached.
  void checkLimits(int32_t count, bool withDeleteTime);

  int64_t uploadedBytes() const;
  int64_t windowBytes() const;
  int32_t processedFiles() const;
  int64_t elapsedSeconds() const;

 private:
  int64_t nowMs() const { return static_cast<int64_t>(clock_.fileTime() / 10000); }
  int64_t nowSeconds() const { return nowMs() / 1000; }

  platform::Clock& clock_;
  mutable std::mutex mutex_;
  int32_t filesUnderWay_ = 0;
  int64_t uploadedBytes_ = 0;
  int64_t windowBytes_ = 0;
  int32_t processedFiles_ = 0;
  int64_t elapsedSeconds_ = 0;
  int64_t startSeconds_;
  int64_t windowStartMs_;

  int32_t maxTime_ = -1;
  int32_t maxDeleteTime_ = -1;
  int32_t maxFiles_ = -1;
  int64_t maxSpace_ = -1;
  int32_t maxTimeWindow_;
  double rate_ = -1.0;
};

}  // namespace velkan
