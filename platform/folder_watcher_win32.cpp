#include <cstddef>
#include <memory>
#include <vector>

#include "platform/folder_watcher.h"
#include "platform/interrupt.h"
#include "platform/path.h"
#include "platform/win32.h"

namespace platform {
namespace {

constexpr DWORD kChangesOfInterest = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                     FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                     FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;
// The most a folder on a network share delivers at once; more is an overflow.
constexpr DWORD kBufferBytes = 64 * 1024;

// One watched tree: its folder open for listing, and a read of its changes
// always under way.
struct Tree {
  std::string root;
  win32::Handle folder;
  win32::Handle ready;  // set when the read has ended
  OVERLAPPED overlapped{};
  std::vector<DWORD> buffer = std::vector<DWORD>(kBufferBytes / sizeof(DWORD));  // aligned as the records need
  bool reading = false;
};

class DirectoryChangesWatcher : public FolderWatcher {
 public:
  ~DirectoryChangesWatcher() override {
    for (auto& tree : trees_) {
      if (!tree->reading) continue;
      // The system writes into the buffer until the read is cancelled.
      CancelIoEx(tree->folder.get(), &tree->overlapped);
      DWORD ignored = 0;
      GetOverlappedResult(tree->folder.get(), &tree->overlapped, &ignored, TRUE);
    }
  }

  Status watchTree(const std::string& root) override {
    // One handle of the wait is the interruption's.
    if (trees_.size() + 1 >= MAXIMUM_WAIT_OBJECTS) {
      return Status::invalid("cannot watch " + root + ": at most " + std::to_string(MAXIMUM_WAIT_OBJECTS - 1) +
                             " folder trees are watched at once");
    }
    auto tree = std::make_unique<Tree>();
    tree->root = root;
    tree->folder.reset(CreateFileW(utf8ToWide(root).c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!tree->folder.valid()) return Status::ioError(win32::describeLastError("cannot watch " + root));
    tree->ready.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!tree->ready.valid()) return Status::ioError(win32::describeLastError("cannot watch " + root));
    if (Status asked = readChanges(*tree); !asked) return asked;
    trees_.push_back(std::move(tree));
    return Status::ok();
  }

  Status wait(int timeoutMs, std::vector<FolderChange>* changes) override {
    std::vector<HANDLE> handles;
    for (const auto& tree : trees_) handles.push_back(tree->ready.get());
    handles.push_back(win32::interruptionEvent());
    DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                          timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (waited == WAIT_FAILED) return Status::ioError(win32::describeLastError("waiting for changes"));
    if (waited == WAIT_TIMEOUT) return Status::ok();
    // Set by a request whose flag was cleared since (tests): not a request now.
    if (waited == WAIT_OBJECT_0 + trees_.size() && !interruptionRequested()) ResetEvent(win32::interruptionEvent());
    // Every tree whose read ended, not only the first the wait names.
    for (auto& tree : trees_) {
      if (WaitForSingleObject(tree->ready.get(), 0) != WAIT_OBJECT_0) continue;
      if (Status taken = take(*tree, changes); !taken) return taken;
    }
    return Status::ok();
  }

  std::vector<std::string> unwatched() const override { return {}; }
  size_t watchedCount() const override { return trees_.size(); }

 private:
  Status readChanges(Tree& tree) {
    tree.overlapped = OVERLAPPED{};
    tree.overlapped.hEvent = tree.ready.get();
    ResetEvent(tree.ready.get());
    if (!ReadDirectoryChangesW(tree.folder.get(), tree.buffer.data(), kBufferBytes, TRUE, kChangesOfInterest, nullptr,
                               &tree.overlapped, nullptr)) {
      return Status::ioError(win32::describeLastError("cannot watch " + tree.root));
    }
    tree.reading = true;
    return Status::ok();
  }

  // The ended read's changes, and the next read asked for.
  Status take(Tree& tree, std::vector<FolderChange>* changes) {
    DWORD bytes = 0;
    tree.reading = false;
    if (!GetOverlappedResult(tree.folder.get(), &tree.overlapped, &bytes, FALSE)) {
      DWORD error = GetLastError();
      // The tree itself went away or cannot be read: looked through once
      // more (where its loss is told), and no longer watched.
      changes->push_back({tree.root, true});
      if (error != ERROR_NOTIFY_ENUM_DIR) {
        ResetEvent(tree.ready.get());
        return Status::ok();
      }
    } else if (bytes == 0) {
      changes->push_back({tree.root, true});  // more changes than the buffer holds: they are lost
    } else {
      collect(tree, bytes, changes);
    }
    return readChanges(tree);
  }

  // The records of a read; a record the buffer does not hold whole ends them.
  static void collect(const Tree& tree, DWORD bytes, std::vector<FolderChange>* changes) {
    const char* base = reinterpret_cast<const char*>(tree.buffer.data());
    constexpr size_t kHead = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    for (size_t at = 0; at + kHead <= bytes;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
      if (at + kHead + record->FileNameLength > bytes) break;
      std::wstring name(record->FileName, record->FileNameLength / sizeof(WCHAR));
      std::string path = joinPath(tree.root, wideToUtf8(name));
      // A folder "modified" is a change inside it, told on its own.
      if (!(record->Action == FILE_ACTION_MODIFIED && isFolder(path))) changes->push_back({path, false});
      if (record->NextEntryOffset == 0 || record->NextEntryOffset % sizeof(DWORD) != 0) break;
      at += record->NextEntryOffset;
    }
  }

  static bool isFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesW(utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::vector<std::unique_ptr<Tree>> trees_;
};

}  // namespace

Status createFolderWatcher(std::unique_ptr<FolderWatcher>* watcher) {
  *watcher = std::make_unique<DirectoryChangesWatcher>();
  return Status::ok();
}

std::string watchLimitHint() { return ""; }

}  // namespace platform
