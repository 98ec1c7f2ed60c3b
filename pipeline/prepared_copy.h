// A prepared copy (a gzip file or a re-encoded picture) in the transcoded
// folder. Its owner removes it when it goes, unless it handed the copy on
// to the next stage with release(): a copy is never left behind by a stage
// that failed, and never outlives the upload it was made for.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "platform/env.h"
#include "platform/path.h"

namespace velkan {

class PreparedCopy {
 public:
  PreparedCopy() = default;
  // `path` is a logical or host path; empty owns nothing.
  PreparedCopy(std::string path, platform::Env* env) : path_(std::move(path)), env_(env) {}
  ~PreparedCopy() { remove(); }
  PreparedCopy(PreparedCopy&& other) noexcept : path_(other.release()), env_(other.env_) {}
  PreparedCopy& operator=(PreparedCopy&& other) noexcept {
    if (this != &other) {
      remove();
      env_ = other.env_;
      path_ = other.release();
    }
    return *this;
  }
  PreparedCopy(const PreparedCopy&) = delete;
  PreparedCopy& operator=(const PreparedCopy&) = delete;

  const std::string& path() const { return path_; }
  bool empty() const { return path_.empty(); }
  // Hands the copy on: it is no longer removed here.
  std::string release() { return std::exchange(path_, std::string()); }
  // Removes the copy now.
  void remove() {
    if (!path_.empty()) env_->removeFile(platform::hostPath(release()));
  }

 private:
  std::string path_;
  platform::Env* env_ = nullptr;
};

// Bytes of prepared copies held in memory on their way: small files are
// compressed into memory rather than into a file that lives for a moment.
// Bounded, so that a backlog of uploads cannot fill the memory (a copy that
// does not fit goes to a file as before). Thread-safe.
class MemoryBudget {
 public:
  explicit MemoryBudget(uint64_t limit) : limit_(limit) {}
  // Takes `bytes` when they fit; false otherwise.
  bool take(uint64_t bytes) {
    uint64_t used = used_.load();
    do {
      if (used + bytes > limit_) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes));
    return true;
  }
  // The same, waiting up to `waitMs` for the uploads to give back enough,
  // unless `ended` says they stopped.
  bool take(uint64_t bytes, uint64_t waitMs, const std::function<bool()>& ended) {
    constexpr auto kLookAgain = std::chrono::milliseconds(50);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      if (take(bytes)) return true;
      auto now = std::chrono::steady_clock::now();
      if (bytes > limit_ || now >= deadline || (ended && ended())) return false;
      std::unique_lock<std::mutex> lock(mutex_);
      if (take(bytes)) return true;  // given back since: its wake-up came before this wait
      given_.wait_until(lock, std::min(deadline, now + kLookAgain));
    }
  }
  void give(uint64_t bytes) {
    used_.fetch_sub(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    given_.notify_all();
  }
  uint64_t used() const { return used_.load(); }

 private:
  std::atomic<uint64_t> used_{0};
  uint64_t limit_;
  std::mutex mutex_;
  std::condition_variable given_;
};

}  // namespace velkan
