#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <unordered_map>

#include "platform/folder_watcher.h"

namespace platform {
namespace {

constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO |
                             IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

class InotifyWatcher : public FolderWatcher {
 public:
  explicit InotifyWatcher(int fd) : fd_(fd) {}
  ~InotifyWatcher() override { close(fd_); }

  Status watchTree(const std::string& root) override {
    roots_.push_back(root);
    return watchBelow(root);
  }

  Status wait(int timeoutMs, std::vector<FolderChange>* changes) override {
    pollfd ready{fd_, POLLIN, 0};
    int polled = poll(&ready, 1, timeoutMs);
    if (polled < 0) return errno == EINTR ? Status::ok() : Status::ioError(std::string("poll: ") + strerror(errno));
    if (polled == 0) return Status::ok();
    // Events are aligned for their struct; the buffer holds many.
    alignas(inotify_event) char buffer[64 * 1024];
    ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0) {
      return errno == EINTR || errno == EAGAIN ? Status::ok()
                                               : Status::ioError(std::string("reading changes: ") + strerror(errno));
    }
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (at > got) break;  // a torn event: never from the kernel
      take(*event, changes);
    }
    return Status::ok();
  }

  std::vector<std::string> unwatched() const override { return unwatched_; }
  size_t watchedCount() const override { return folders_.size(); }

 private:
  void take(const inotify_event& event, std::vector<FolderChange>* changes) {
    if (event.mask & IN_Q_OVERFLOW) {
      for (const std::string& root : roots_) changes->push_back({root, true});
      return;
    }
    auto folder = folders_.find(event.wd);
    if (folder == folders_.end()) return;
    if (event.mask & IN_IGNORED) {
      folders_.erase(folder);  // the folder is gone (or moved out of sight)
      return;
    }
    std::string path = folder->second;
    if (event.len > 0 && event.name[0] != '\0') path += "/" + std::string(event.name);
    if ((event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO))) watchBelow(path);
    changes->push_back({path, false});
  }

  // Watches a folder and, depth first, every folder below it.
  Status watchBelow(const std::string& top) {
    std::vector<std::string> stack = {top};
    Status first;
    while (!stack.empty()) {
      std::string folder = std::move(stack.back());
      stack.pop_back();
      int wd = inotify_add_watch(fd_, folder.c_str(), kEvents);
      if (wd < 0) {
        if (errno == ENOSPC) {
          unwatched_.push_back(folder);
        } else if (first.isOk() && folder == top) {
          first = Status::ioError("cannot watch " + folder + ": " + strerror(errno));
        }
        continue;
      }
      folders_[wd] = folder;
      addSubfolders(folder, stack);
    }
    return first;
  }

  static void addSubfolders(const std::string& folder, std::vector<std::string>& stack) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      std::string child = folder + "/" + entry->d_name;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat info;
        if (lstat(child.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
      }
      stack.push_back(std::move(child));
    }
    closedir(dir);
  }

  int fd_;
  std::vector<std::string> roots_;
  std::unordered_map<int, std::string> folders_;
  std::vector<std::string> unwatched_;
};

}  // namespace

Status createFolderWatcher(std::unique_ptr<FolderWatcher>* watcher) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return Status::ioError(std::string("cannot watch folders (inotify): ") + strerror(errno));
  *watcher = std::make_unique<InotifyWatcher>(fd);
  return Status::ok();
}

std::string watchLimitHint() {
  return "raise the system's limit of folder watches, e.g. sudo sysctl fs.inotify.max_user_watches=1048576";
}

}  // namespace platform
