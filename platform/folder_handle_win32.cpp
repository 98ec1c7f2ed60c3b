// Windows has no handle-relative opens in its documented interface: each
// operation checks the name it acts on for a reparse point and opens it so
// that a reparse point is never traversed (FILE_FLAG_OPEN_REPARSE_POINT).
#include "platform/folder_handle.h"
#include "platform/win32.h"
#include "platform/win32_files.h"

namespace platform {
namespace {

using win32::Handle;
using win32files::failure;

Status badName(const std::string& folder, const std::string& name) {
  return Status::invalid("\"" + name + "\" is no name a file in " + folder + " can have");
}

bool isReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

class WindowsFolder : public FolderHandle {
 public:
  explicit WindowsFolder(std::string path) : FolderHandle(std::move(path)) {}

  Status child(const std::string& name, bool create, std::unique_ptr<FolderHandle>* folder) override {
    if (!plainName(name)) return badName(path(), name);
    std::string full = fullOf(name);
    std::wstring wide = utf8ToWide(full);
    if (create && !CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return failure("cannot create " + full);
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure("cannot open the folder " + full);
    if (isReparsePoint(attributes)) return Status::refused(full + " is a link; links are not followed");
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Status::invalid(full + " is not a folder");
    *folder = std::make_unique<WindowsFolder>(full);
    return Status::ok();
  }

  Status info(const std::string& name, FileInfo* info, bool* isLink) override {
    if (!plainName(name)) return badName(path(), name);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(utf8ToWide(fullOf(name)).c_str(), GetFileExInfoStandard, &data)) {
      return failure("cannot examine " + fullOf(name));
    }
    info->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->isRegular = !info->isDirectory && !isReparsePoint(data.dwFileAttributes);
    win32files::setWriteTime(data.ftLastWriteTime, info);
    if (isLink) *isLink = isReparsePoint(data.dwFileAttributes);
    return Status::ok();
  }

  Status openReadable(const std::string& name, std::unique_ptr<ReadableFile>* file) override {
    file->reset();
    Handle handle;
    if (Status opened = openItself(name, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, handle); !opened) {
      return opened;
    }
    if (GetFileType(handle.get()) != FILE_TYPE_DISK) return Status::invalid("cannot open " + fullOf(name) + ": not a plain file");
    *file = std::make_unique<win32files::WindowsReadableFile>(std::move(handle));
    return Status::ok();
  }

  Status createExclusive(const std::string& name, uint32_t mode, std::unique_ptr<WritableFile>* file) override {
    file->reset();
    if (!plainName(name)) return badName(path(), name);
    DWORD attributes = (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    Handle handle(CreateFileW(utf8ToWide(fullOf(name)).c_str(), GENERIC_WRITE, win32files::kShareAll, nullptr,
                              CREATE_NEW, attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid()) return failure("cannot create " + fullOf(name));
    *file = std::make_unique<win32files::WindowsWritableFile>(std::move(handle));
    return Status::ok();
  }

  Status rename(const std::string& from, const std::string& to, bool replace) override {
    if (!plainName(from)) return badName(path(), from);
    if (!plainName(to)) return badName(path(), to);
    // A link at `to` is replaced itself: MoveFileEx never writes through it.
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(utf8ToWide(fullOf(from)).c_str(), utf8ToWide(fullOf(to)).c_str(), flags)) {
      return Status::ok();
    }
    return failure("cannot rename " + fullOf(from) + " to " + fullOf(to));
  }

  Status remove(const std::string& name) override {
    if (!plainName(name)) return badName(path(), name);
    if (DeleteFileW(utf8ToWide(fullOf(name)).c_str())) return Status::ok();
    return failure("cannot remove " + fullOf(name));
  }

  Status list(std::vector<DirectoryEntry>* entries) override { return Env::defaultEnv()->scanDirectory(path(), entries); }

  Status setModifiedTime(const std::string& name, int64_t unixSeconds, int32_t nanoseconds) override {
    Handle handle;
    if (Status opened = openItself(name, FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, 0, handle); !opened) return opened;
    uint64_t ticks = static_cast<uint64_t>(unixSeconds * 10000000 + nanoseconds / 100) + 116444736000000000ull;
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    if (SetFileTime(handle.get(), nullptr, nullptr, &time)) return Status::ok();
    return failure("cannot set the time of " + fullOf(name));
  }

  // Windows keeps no permission bits: a file without the owner's write bit
  // is made read-only, the rest is the folder's access list.
  Status setMode(const std::string& name, uint32_t mode) override {
    if (!plainName(name)) return badName(path(), name);
    std::wstring wide = utf8ToWide(fullOf(name));
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure("cannot examine " + fullOf(name));
    if (isReparsePoint(attributes)) return Status::refused(fullOf(name) + " is a link; links are not followed");
    DWORD wanted = (mode & 0200) ? (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) : (attributes | FILE_ATTRIBUTE_READONLY);
    if (wanted == attributes || SetFileAttributesW(wide.c_str(), wanted)) return Status::ok();
    return failure("cannot set the attributes of " + fullOf(name));
  }

  Status sync() override { return Status::ok(); }  // folder entries are written through by the renames
  Status syncFileSystem() override { return Status::refused("no file-system sync here"); }

 private:
  std::string fullOf(const std::string& name) const { return path() + "\\" + name; }

  // Opens the file `name` itself; a reparse point there is refused.
  Status openItself(const std::string& name, DWORD access, DWORD disposition, DWORD flags, Handle& handle) {
    if (!plainName(name)) return badName(path(), name);
    handle.reset(CreateFileW(utf8ToWide(fullOf(name)).c_str(), access, win32files::kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr));
    if (!handle.valid()) return failure("cannot open " + fullOf(name));
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(handle.get(), &data)) return failure("cannot examine " + fullOf(name));
    if (isReparsePoint(data.dwFileAttributes)) return Status::refused(fullOf(name) + " is a link; links are not followed");
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Status::invalid("cannot open " + fullOf(name) + ": it is a folder");
    return Status::ok();
  }
};

}  // namespace

bool legalFileName(const std::string& name) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
                                         "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",
                                         "LPT7", "LPT8", "LPT9"};
  if (name.empty() || utf8ToWide(name).size() > 255 || name.back() == '.' || name.back() == ' ') return false;
  for (unsigned char c : name) {
    if (c < 32 || std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos) return false;
  }
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  for (const char* device : kDevices) {
    if (stem == device) return false;
  }
  return true;
}

Status FolderHandle::open(const std::string& path, std::unique_ptr<FolderHandle>* folder) {
  DWORD attributes = GetFileAttributesW(utf8ToWide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return failure("cannot open the folder " + path);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Status::invalid(path + " is not a folder");
  std::string clean = path;
  while (clean.size() > 3 && (clean.back() == '\\' || clean.back() == '/')) clean.pop_back();
  *folder = std::make_unique<WindowsFolder>(clean);
  return Status::ok();
}

}  // namespace platform
