#include "snapshot/snapshot_reader.h"

#include <algorithm>
#include <cstring>

#include "bindings/zrcore/xml_reader.h"
#include "platform/env.h"
#include "platform/path.h"

namespace dornik {

const SnapshotKind kDirContentKind{"dir-content", 201, 202, 203, 205, true};
const SnapshotKind kCacheContentKind{"cache-content", 208, 209, 211, 213, false};

void makeOrderedSet(EntrySet& entries) {
  // A listing written in order (as a scan of folders writes it) needs no sort.
  if (std::is_sorted(entries.begin(), entries.end())) {
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    return;
  }
  // Sorts positions, then moves each entry once: cheaper than moving the
  // entries themselves around in the sort.
  std::vector<uint32_t> order(entries.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return entries[a] < entries[b]; });
  EntrySet sorted;
  sorted.reserve(entries.size());
  for (uint32_t i : order) {
    if (sorted.empty() || !(sorted.back() == entries[i])) sorted.push_back(std::move(entries[i]));
  }
  entries.swap(sorted);
}


namespace {

// The child elements of a <file> that carry data; the first of each counts.
enum FileField { kOriginSize, kOriginModified, kState, kCacheActualSize, kFieldCount, kOtherField = kFieldCount };

FileField fieldOf(const char* name) {
  if (std::strcmp(name, "origin-size") == 0) return kOriginSize;
  if (std::strcmp(name, "origin-modified") == 0) return kOriginModified;
  if (std::strcmp(name, "state") == 0) return kState;
  if (std::strcmp(name, "cache-actualsize") == 0) return kCacheActualSize;
  return kOtherField;
}

class SnapshotHandler : public ZR::CXmlHandler {
 public:
  SnapshotHandler(const SnapshotKind& kind, EntrySet& dirs, EntrySet& files) : kind_(kind), dirs_(dirs), files_(files) {}

  int validation() const { return validation_; }

  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    ++depth_;
    if (depth_ == 1) {
      if (std::strcmp(name, kind_.root) != 0) validation_ = kind_.badRoot;
    } else if (depth_ == 2) {
      startChild(name, attributes);
    } else if (depth_ == 3 && inFile_) {
      currentField_ = fieldOf(name);
      if (currentField_ != kOtherField && seen_[currentField_]) currentField_ = kOtherField;
      if (currentField_ != kOtherField) {
        seen_[currentField_] = true;
        values_[currentField_].clear();
      }
    }
  }

  void endElement(const char*) override {
    if (depth_ == 3) currentField_ = kOtherField;
    if (depth_ == 2 && inFile_) finishFile();
    --depth_;
  }

  void characters(const char* data, size_t length) override {
    if (depth_ == 3 && inFile_ && currentField_ != kOtherField) values_[currentField_].append(data, length);
  }

 private:
  void startChild(const char* name, const ZR::CXmlAttributes& attributes) {
    if (validation_ != 0) return;
    bool isFile = std::strcmp(name, "file") == 0;
    bool isDirectory = std::strcmp(name, "directory") == 0;
    const char* path = attributes.find("path");
    if (!isFile && !isDirectory) {
      validation_ = kind_.badChild;
    } else if (!path) {
      validation_ = kind_.missingPath;
    } else if (*path == '\0') {
      validation_ = kind_.emptyPath;
    } else if (isDirectory) {
      ZR::CFileEntry entry;
      entry.setPath(normaliseDirectoryPath(path));
      dirs_.push_back(std::move(entry));
    } else {
      inFile_ = true;
      filePath_ = path;
      std::fill(std::begin(seen_), std::end(seen_), false);
    }
  }

  void finishFile() {
    inFile_ = false;
    if (validation_ != 0) return;
    ZR::CFileEntry entry;
    entry.setPath(normaliseFilePath(filePath_));
    if (seen_[kOriginSize]) entry.setOriginSize(values_[kOriginSize]);
    if (seen_[kOriginModified]) entry.setDateModified(values_[kOriginModified]);
    if (kind_.isDirContent) {
      entry.setState("2");
    } else if (seen_[kState]) {
      bool pending = values_[kState].find('2') != std::string::npos;
      entry.setState(pending ? "2" : "1");
      entry.cached = !pending;
      if (!pending && seen_[kCacheActualSize]) entry.setCacheSize(values_[kCacheActualSize]);
    }
    files_.push_back(std::move(entry));
  }

  const SnapshotKind& kind_;
  EntrySet& dirs_;
  EntrySet& files_;
  int depth_ = 0;
  int validation_ = 0;
  bool inFile_ = false;
  std::string filePath_;
  FileField currentField_ = kOtherField;
  bool seen_[kFieldCount] = {};
  std::string values_[kFieldCount];
};

}  // namespace

SnapshotReadResult readSnapshot(platform::Env& env, const std::string& path, const SnapshotKind& kind, EntrySet& dirs,
                                EntrySet& files) {
  dirs.clear();
  files.clear();
  // Room for the entries a listing of this size can hold (an entry takes
  // some 60 bytes of XML at least): the entries are not moved as the sets
  // grow, and room never touched costs no memory.
  platform::FileInfo info;
  if (env.getFileInfo(platform::hostPath(path), &info) && !info.isDirectory) {
    files.reserve(static_cast<size_t>(std::min<uint64_t>(info.size / 60, uint64_t{1} << 28)));
  }
  SnapshotReadResult result;
  SnapshotHandler handler(kind, dirs, files);
  platform::Status parsed = ZR::CXmlReader::parseFile(env, path, handler);
  result.parsed = parsed.isOk();
  result.syntaxError = parsed.code() == platform::Status::kSyntaxError;
  result.error = parsed.message();
  result.validation = result.parsed ? handler.validation() : 0;
  if (!result.parsed || result.validation != 0) {
    EntrySet().swap(dirs);
    EntrySet().swap(files);
    return result;
  }
  makeOrderedSet(dirs);
  makeOrderedSet(files);
  return result;
}

}  // namespace dornik
