#include <sys/stat.h>

#include <limits>

#include "platform/env.h"
#include "platform/win32.h"

#include <aclapi.h>

namespace platform {
namespace {

using win32::describeLastError;
using win32::Handle;

// ReadFile and WriteFile take 32-bit counts.
DWORD chunkOf(size_t n) { return static_cast<DWORD>(std::min<size_t>(n, 1u << 30)); }

class WindowsReadableFile : public ReadableFile {
 public:
  explicit WindowsReadableFile(Handle handle) : handle_(std::move(handle)) {}

  int64_t read(char* buf, size_t n) override {
    DWORD got = 0;
    if (!ReadFile(handle_.get(), buf, chunkOf(n), &got, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return got;
  }
  bool seek(uint64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return offset <= static_cast<uint64_t>(INT64_MAX) && SetFilePointerEx(handle_.get(), to, nullptr, FILE_BEGIN) != 0;
  }

 private:
  Handle handle_;
};

// 100 ns ticks since 1601 as seconds and nanoseconds since 1970.
void setWriteTime(const FILETIME& time, FileInfo* info) {
  uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  constexpr uint64_t kTicksTo1970 = 116444736000000000ull;
  int64_t sinceEpoch = static_cast<int64_t>(ticks) - static_cast<int64_t>(kTicksTo1970);
  int64_t seconds = sinceEpoch / 10000000;
  int64_t rest = sinceEpoch % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  info->modifiedUnixSeconds = seconds;
  info->modifiedNanoseconds = static_cast<int32_t>(rest * 100);
}

class WindowsWritableFile : public WritableFile {
 public:
  explicit WindowsWritableFile(Handle handle) : handle_(std::move(handle)) {}
  ~WindowsWritableFile() override { close(); }

  bool append(const char* data, size_t n) override {
    if (!handle_.valid()) return false;
    while (n > 0) {
      DWORD put = 0;
      if (!WriteFile(handle_.get(), data, chunkOf(n), &put, nullptr) || put == 0) return false;
      data += put;
      n -= put;
    }
    return true;
  }

  bool sync() override { return handle_.valid() && FlushFileBuffers(handle_.get()); }

  bool close() override {
    if (!handle_.valid()) return true;
    return CloseHandle(handle_.release()) != 0;
  }

 private:
  Handle handle_;
};

// Others may read, rename or delete a file we have open, as POSIX allows;
// without FILE_SHARE_DELETE an atomic replace would fail while a reader
// holds the old file.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The failure of the last system call, by its error code.
Status failure(const std::string& what) {
  DWORD code = GetLastError();
  std::string message = what + ": " + win32::errorText(code);
  return (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) ? Status::notFound(message)
                                                                        : Status::ioError(message);
}

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
