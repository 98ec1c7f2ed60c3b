// The file index by the names both programs call it with: static
// operations on the process's index (CFileIndex::processIndex()).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bindings/cabinet/file_entry.h"
#include "bindings/cabinet/file_index.h"

namespace ZR {

class CCabinet {
 public:
  static int refresh(const std::set<CFileEntry>& entries, size_t* rowsKept = nullptr) {
    return CFileIndex::processIndex().refresh(entries, rowsKept);
  }
  static int refresh(const std::vector<CFileEntry>& entries, size_t* rowsKept = nullptr) {
    return CFileIndex::processIndex().refresh(entries, rowsKept);
  }
  static int addFileItem(const std::string& path) { return CFileIndex::processIndex().addFileItem(path); }
  static int addFileItem(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds) {
    return CFileIndex::processIndex().addFileItem(path, size, modifiedUnixSeconds);
  }
  static int removeFileItem(const std::string& path) { return CFileIndex::processIndex().removeFileItem(path); }

  static std::string indexPath() { return CFileIndex::processIndex().indexPath(); }
  static void setIndexPath(const std::string& hostPath) { CFileIndex::processIndex().setIndexPath(hostPath); }
  static void setBusyTimeoutMs(int ms) { CFileIndex::processIndex().setBusyTimeoutMs(ms); }

  static bool lookup(const std::string& path, CFileEntry& entry) {
    return CFileIndex::processIndex().lookup(path, entry);
  }
  static bool count(int64_t& total) { return CFileIndex::processIndex().count(total); }
  static bool holdsVersion(const std::string& path, uint64_t size, int64_t modifiedUnixSeconds) {
    return CFileIndex::processIndex().holdsVersion(path, size, modifiedUnixSeconds);
  }
  static std::string lastError() { return CFileIndex::processIndex().lastError(); }
};

}  // namespace ZR
