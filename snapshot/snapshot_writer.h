// Writing a directory content or cache content snapshot as a stream: the
// one writer of the format, for cacheagent, the benchmarks and the tests.
// The snapshot is whole or not there: nothing is in place before commit().
#pragma once

#include <string>
#include <string_view>

#include "bindings/zrcore/file.h"
#include "platform/status.h"
#include "snapshot/snapshot_reader.h"

namespace dornik {

// The data elements of a <file>; an empty text is left out.
struct SnapshotFileData {
  std::string_view originSize;
  std::string_view originModified;
  std::string_view state;            // cache content: "1" cached, "2" pending
  std::string_view cacheActualSize;  // cache content: the stored size
};

class SnapshotWriter {
 public:
  // `kind` gives the root element (kDirContentKind, kCacheContentKind).
  SnapshotWriter(platform::Env& env, const std::string& path, const SnapshotKind& kind);
  SnapshotWriter(const SnapshotWriter&) = delete;
  SnapshotWriter& operator=(const SnapshotWriter&) = delete;

  void directory(std::string_view path);
  void file(std::string_view path, const SnapshotFileData& data);
  // False, with the reason naming the file, when any of it could not be written.
  platform::Status commit();

 private:
  void element(const char* name, std::string_view text);
  void drainIfLarge();

  std::string path_;
  const char* root_;
  std::string buffer_;
  ZR::CAtomicFile out_;
};

}  // namespace dornik
