#include <sys/stat.h>

#include <limits>

#include "platform/env.h"
#include "platform/win32.h"
#include "platform/win32_files.h"

#include <aclapi.h>

namespace platform {
namespace {

using win32::describeLastError;
using win32::Handle;

using win32files::failure;
using win32files::kShareAll;
using win32files::setWriteTime;
using win32files::WindowsReadableFile;
using win32files::WindowsWritableFile;

Status openForWriting(const std::string& path, bool append, std::unique_ptr<WritableFile>* file) {
  file->reset();
  DWORD access = append ? FILE_APPEND_DATA : GENERIC_WRITE;
  DWORD disposition = append ? OPEN_ALWAYS : CREATE_ALWAYS;
  Handle handle(CreateFileW(utf8ToWide(path).c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) return failure("cannot open for writing " + path);
  *file = std::make_unique<WindowsWritableFile>(std::move(handle));
  return Status::ok();
}

bool isDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class WindowsEnv : public Env {
 public:
  bool fileExists(const std::string& path) override {
    return GetFileAttributesW(utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool getFileInfo(const std::string& path, FileInfo* info) override {
    struct _stat64 st;
    if (_wstat64(utf8ToWide(path).c_str(), &st) != 0) return false;
    info->size = static_cast<uint64_t>(st.st_size);
    info->modifiedUnixSeconds = static_cast<int64_t>(st.st_mtime);
    info->isDirectory = (st.st_mode & _S_IFDIR) != 0;
    info->isRegular = (st.st_mode & _S_IFREG) != 0;
    // The last write time to 100 ns, which _wstat64 rounds to seconds.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) {
      uint64_t ticks = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
      info->modifiedNanoseconds = static_cast<int32_t>((ticks % 10000000u) * 100u);
    }
    // Access lists are not examined here; the file's folder decides.
    info->othersMayWrite = false;
    return true;
  }

  Status openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
    file->reset();
    std::wstring name = utf8ToWide(path);
    if (isDirectory(name)) return Status::invalid("cannot open " + path + ": it is a folder");
    Handle handle(CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.valid()) return failure("cannot open " + path);
    // Only a file on a disk is read: a pipe or a device may never end.
    if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
      return Status::invalid("cannot open " + path + ": it is not a plain file (a pipe or a device)");
    }
    *file = std::make_unique<WindowsReadableFile>(std::move(handle));
    return Status::ok();
  }

  Status openWritable(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    return openForWriting(path, false, file);
  }

  Status openAppendable(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    return openForWriting(path, true, file);
  }

  Status createExclusive(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    file->reset();
    Handle handle(CreateFileW(utf8ToWide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid()) return failure("cannot create " + path);
    *file = std::make_unique<WindowsWritableFile>(std::move(handle));
    return Status::ok();
  }

  Status openWritableNoLink(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    DWORD attributes = GetFileAttributesW(utf8ToWide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return Status::invalid(path + " is a link; it is not written through (remove it)");
    }
    return openForWriting(path, false, file);
  }

  // A file another program has open cannot be replaced on Windows, even
  // when it shares deletion: the name stays taken until it closes it. Our
  // readers (and a status page, a virus scanner) hold files briefly, so the
  // replace is tried again for up to two seconds.
  Status renameFile(const std::string& from, const std::string& to) override {
    std::wstring source = utf8ToWide(from), target = utf8ToWide(to);
    for (DWORD pause = 1;; pause *= 2) {
      if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Status::ok();
      }
      DWORD code = GetLastError();
      bool busy = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
      if (!busy || pause > 1024) return Status::ioError("cannot rename " + from + " to " + to + ": " + win32::errorText(code));
      Sleep(pause);
    }
  }

  bool removeFile(const std::string& path) override { return DeleteFileW(utf8ToWide(path).c_str()) != 0; }

  bool removeTree(const std::string& path) override {
    std::wstring name = utf8ToWide(path);
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RemoveDirectoryW(name.c_str()) != 0;
      return DeleteFileW(name.c_str()) != 0;
    }
    std::vector<std::string> names;
    if (!listDirectory(path, &names)) return false;
    bool ok = true;
    for (const auto& entry : names) ok = removeTree(path + "\\" + entry) && ok;
    return RemoveDirectoryW(name.c_str()) != 0 && ok;
  }

  bool createDirectories(const std::string& path) override {
    if (path.empty()) return false;
    std::wstring name = utf8ToWide(path);
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t separator = path.find_last_of("\\/");
    // "c:" and "\\server\share" are roots: nothing above them to create.
    if (separator != std::string::npos && separator > 0 && path[separator - 1] != ':') {
      if (!createDirectories(path.substr(0, separator))) return false;
    }
    return CreateDirectoryW(name.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
  }

  bool listDirectory(const std::string& path, std::vector<std::string>* names) override {
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(utf8ToWide(pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && isDirectory(utf8ToWide(path));
    names->clear();
    do {
      std::string name = wideToUtf8(data.cFileName);
      if (name != "." && name != "..") names->push_back(std::move(name));
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return true;
  }

  Status scanDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(utf8ToWide(pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND && isDirectory(utf8ToWide(path))) return Status::ok();
      return failure("cannot list " + path);
    }
    do {
      DirectoryEntry entry;
      entry.name = wideToUtf8(data.cFileName);
      if (entry.name == "." || entry.name == "..") continue;
      DWORD a = data.dwFileAttributes;
      entry.kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? DirectoryEntry::Kind::Link
                   : (a & FILE_ATTRIBUTE_DIRECTORY)   ? DirectoryEntry::Kind::Directory
                   : (a & FILE_ATTRIBUTE_DEVICE)      ? DirectoryEntry::Kind::Other
                                                      : DirectoryEntry::Kind::File;
      entry.info.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
      entry.info.isDirectory = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entry.info.isRegular = entry.kind == DirectoryEntry::Kind::File;
      setWriteTime(data.ftLastWriteTime, &entry.info);
      entries->push_back(std::move(entry));
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return Status::ok();
  }
};

}  // namespace

int64_t Env::freeBytes(const std::string& path) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(utf8ToWide(path).c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

bool canRead(const std::string& path) {
  win32::Handle file(CreateFileW(utf8ToWide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.valid();
}

std::string resolvedPath(const std::string& path) {
  std::wstring name = utf8ToWide(path);
  if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) return "";
  DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return "";
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
  full.resize(length);
  return wideToUtf8(full);
}

std::string finalLinkTarget(const std::string& path) { return path; }

bool copyFileAccess(const std::string& from, const std::string& to) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring source = utf8ToWide(from), target = utf8ToWide(to);
  if (GetNamedSecurityInfoW(source.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  // The old file's own list, not one inherited from the folder.
  DWORD result = SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, dacl, nullptr);
  LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

bool setModifiedTime(const std::string& path, int64_t unixSeconds) {
  Handle file(CreateFileW(utf8ToWide(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return false;
  // 100 ns units since 1601-01-01.
  uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ull;
  FILETIME written{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  return SetFileTime(file.get(), nullptr, nullptr, &written) != 0;
}

Env* Env::defaultEnv() {
  static WindowsEnv* instance = new WindowsEnv;  // never destroyed: used until exit
  return instance;
}

}  // namespace platform
