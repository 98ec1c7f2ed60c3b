// One file or directory as the file index and the policy engine see it:
// five texts and a flag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ZR {

class CFileEntry {
 public:
  CFileEntry() = default;

  std::string getPath() const { return std::string(path()); }
  std::string getOriginSize() const { return std::string(originSize()); }
  std::string getCacheSize() const { return std::string(cacheSize()); }
  std::string getDateModified() const { return std::string(dateModified()); }
  std::string getState() const { return std::string(state()); }

  // Read access without a copy, for loops over a million entries; valid
  // until the entry changes.
  std::string_view path() const { return field(kPath); }
  std::string_view originSize() const { return field(kOriginSize); }
  std::string_view cacheSize() const { return field(kCacheSize); }
  std::string_view dateModified() const { return field(kDateModified); }
  std::string_view state() const { return field(kState); }

  void setPath(std::string_view value) { setField(kPath, value); }
  void setOriginSize(std::string_view value) { setField(kOriginSize, value); }
  void setCacheSize(std::string_view value) { setField(kCacheSize, value); }
  void setDateModified(std::string_view value) { setField(kDateModified, value); }
  void setState(std::string_view value) { setField(kState, value); }

  // Orders by path, origin size, date modified, state and cache size, in
  // that order; `cached` takes no part. Two entries are the same element
  // exactly when all five texts agree.
  bool operator<(const CFileEntry& other) const { return compare(other) < 0; }
  bool operator==(const CFileEntry& other) const { return text_ == other.text_ && sameEnds(other); }

  // Set by the policy engine: the cache holds this file's content.
  bool cached = false;

 private:
  // The texts in the order of comparison; the five live one after another
  // in one string (an entry of a million-file listing is small that way).
  enum Field { kPath, kOriginSize, kDateModified, kState, kCacheSize, kFields };

  std::string_view field(int f) const {
    uint32_t start = f == 0 ? 0 : end_[f - 1];
    return std::string_view(text_).substr(start, end_[f] - start);
  }
  void setField(int f, std::string_view value) {
    uint32_t start = f == 0 ? 0 : end_[f - 1];
    uint32_t length = end_[f] - start;
    text_.replace(start, length, value.data(), value.size());
    int64_t delta = static_cast<int64_t>(value.size()) - static_cast<int64_t>(length);
    for (int i = f; i < kFields; ++i) end_[i] = static_cast<uint32_t>(end_[i] + delta);
  }
  int compare(const CFileEntry& other) const {
    for (int f = 0; f < kFields; ++f) {
      int c = field(f).compare(other.field(f));
      if (c != 0) return c;
    }
    return 0;
  }
  bool sameEnds(const CFileEntry& other) const {
    for (int f = 0; f < kFields; ++f) {
      if (end_[f] != other.end_[f]) return false;
    }
    return true;
  }

  std::string text_;
  uint32_t end_[kFields] = {};
};

}  // namespace ZR
