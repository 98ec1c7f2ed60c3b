#include "client/upload_limits.h"

#include <limits>
#include <string>

#include "client/client_settings.h"
#include "service/velkan_exceptions.h"

namespace velkan {

CUploadLimits::CUploadLimits(platform::Clock& clock)
    : clock_(clock), startSeconds_(nowSeconds()), windowStartMs_(nowMs()), maxTimeWindow_(kDefaultTimeWindowMs) {}

void CUploadLimits::resetForRun() {
  std::lock_guard<std::mutex> lock(mutex_);
  filesUnderWay_ = 0;
  uploadedBytes_ = windowBytes_ = 0;
  processedFiles_ = 0;
  elapsedSeconds_ = 0;
  maxTime_ = maxDeleteTime_ = maxFiles_ = -1;
  maxSpace_ = -1;
}

void CUploadLimits::apply(const ClientSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  maxTime_ = settings.maxTime;
  maxDeleteTime_ = settings.maxDeleteTime;
  maxFiles_ = settings.maxFiles;
  maxSpace_ = settings.maxSpace;
  maxTimeWindow_ = settings.maxTimeWindow;
  rate_ = settings.rate;
}

// The pause is taken outside the lock: other sessions count on meanwhile.
void CUploadLimits::accountBytes(int32_t count) {
  uint32_t pause = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uploadedBytes_ += count;
    windowBytes_ += count;
    if (!(rate_ > 0.0)) return;
    double expected = static_cast<double>(windowBytes_) / rate_;
    double elapsed = static_cast<double>(nowMs() - windowStartMs_);
    if (expected > elapsed) {
      double wait = expected - elapsed;
      double longest = static_cast<double>(std::numeric_limits<uint32_t>::max());
      pause = static_cast<uint32_t>(wait < longest ? wait : longest);
    }
    if (elapsed > static_cast<double>(maxTimeWindow_)) {
      windowStartMs_ = nowMs();
      windowBytes_ = 0;
    }
  }
  if (pause > 0) clock_.sleepMs(pause);
}

void CUploadLimits::countFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++processedFiles_;
  if (filesUnderWay_ > 0) --filesUnderWay_;
}

bool CUploadLimits::startFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (maxFiles_ != -1 && processedFiles_ + filesUnderWay_ >= maxFiles_) return false;
  ++filesUnderWay_;
  return true;
}

void CUploadLimits::cancelFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (filesUnderWay_ > 0) --filesUnderWay_;
}

int64_t CUploadLimits::uploadedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploadedBytes_;
}

int64_t CUploadLimits::windowBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return windowBytes_;
}

int32_t CUploadLimits::processedFiles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return processedFiles_;
}

int64_t CUploadLimits::elapsedSeconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return elapsedSeconds_;
}

void CUploadLimits::checkLimits(int32_t count, bool withDeleteTime) {
  accountBytes(count);
  std::lock_guard<std::mutex> lock(mutex_);
  elapsedSeconds_ = nowSeconds() - startSeconds_;
  auto reached = [](const std::string& what, int64_t limit, const std::string& total, int64_t value) {
    throw CUploadLimitException(what + " limit of " + std::to_string(limit) + " is reached." + total +
                                std::to_string(value) + ".\n");
  };
  if (maxTime_ != -1 && elapsedSeconds_ >= maxTime_) {
    reached("Upload time", maxTime_, " Total time spent is ", elapsedSeconds_);
  }
  if (withDeleteTime && maxDeleteTime_ != -1 && elapsedSeconds_ >= maxDeleteTime_) {
    reached("Delete time", maxDeleteTime_, " Total time spent is ", elapsedSeconds_);
  }
  if (maxFiles_ != -1 && processedFiles_ >= maxFiles_) {
    reached("Upload file", maxFiles_, " Total files processed are ", processedFiles_);
  }
  if (maxSpace_ != -1 && uploadedBytes_ >= maxSpace_) {
    reached("Upload data", maxSpace_, " Total data uploaded is ", uploadedBytes_);
  }
}

}  // namespace velkan
