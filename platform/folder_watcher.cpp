#include "platform/folder_watcher.h"

#include "platform/clock.h"

namespace platform {
namespace {

class QueueLimitedWatcher : public FolderWatcher {
 public:
  QueueLimitedWatcher(std::unique_ptr<FolderWatcher> inner, size_t limit) : inner_(std::move(inner)), limit_(limit) {}

  Status watchTree(const std::string& root) override {
    roots_.push_back(root);
    return inner_->watchTree(root);
  }
  Status wait(int timeoutMs, std::vector<FolderChange>* changes) override {
    std::vector<FolderChange> taken;
    Status waited = inner_->wait(timeoutMs, &taken);
    uint64_t now = tickCountMs();
    if (now >= windowStartMs_ + 1000) {
      windowStartMs_ = now;
      inWindow_ = 0;
      overflowed_ = false;
    }
    inWindow_ += taken.size();
    if (inWindow_ > limit_) {
      // Lost, as the system's would be; said once a window.
      taken.clear();
      if (!overflowed_) {
        for (const std::string& root : roots_) taken.push_back({root, true});
      }
      overflowed_ = true;
    }
    changes->insert(changes->end(), taken.begin(), taken.end());
    return waited;
  }
  std::vector<std::string> unwatched() const override { return inner_->unwatched(); }
  size_t watchedCount() const override { return inner_->watchedCount(); }

 private:
  std::unique_ptr<FolderWatcher> inner_;
  size_t limit_;
  std::vector<std::string> roots_;
  uint64_t windowStartMs_ = 0;
  size_t inWindow_ = 0;
  bool overflowed_ = false;
};

}  // namespace

std::unique_ptr<FolderWatcher> withQueueLimit(std::unique_ptr<FolderWatcher> watcher, size_t limit) {
  return std::make_unique<QueueLimitedWatcher>(std::move(watcher), limit);
}

}  // namespace platform
