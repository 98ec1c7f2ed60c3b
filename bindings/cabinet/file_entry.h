// One file or directory as the file index and the policy engine see it:
// five texts and a flag.
#pragma once

#include <string>
#include <tuple>

namespace ZR {

class CFileEntry {
 public:
  CFileEntry() = default;

  std::string getPath() const { return path_; }
  std::string getOriginSize() const { return originSize_; }
  std::string getCacheSize() const { return cacheSize_; }
  std::string getDateModified() const { return dateModified_; }
  std::string getState() const { return state_; }

  // Read access without a copy, for loops over a million entries.
  const std::string& path() const { return path_; }
  const std::string& originSize() const { return originSize_; }
  const std::string& cacheSize() const { return cacheSize_; }
  const std::string& dateModified() const { return dateModified_; }
  const std::string& state() const { return state_; }

  void setPath(std::string value) { path_ = std::move(value); }
  void setOriginSize(std::string value) { originSize_ = std::move(value); }
  void setCacheSize(std::string value) { cacheSize_ = std::move(value); }
  void setDateModified(std::string value) { dateModified_ = std::move(value); }
  void setState(std::string value) { state_ = std::move(value); }

  // Orders by path, origin size, date modified, state and cache size, in
  // that order; `cached` takes no part. Two entries are the same element
  // exactly when all five texts agree.
  bool operator<(const CFileEntry& other) const {
    return std::tie(path_, originSize_, dateModified_, state_, cacheSize_) <
           std::tie(other.path_, other.originSize_, other.dateModified_, other.state_, other.cacheSize_);
  }
  bool operator==(const CFileEntry& other) const {
    return std::tie(path_, originSize_, dateModified_, state_, cacheSize_) ==
           std::tie(other.path_, other.originSize_, other.dateModified_, other.state_, other.cacheSize_);
  }

  // Set by the policy engine: the cache holds this file's content.
  bool cached = false;

 private:
  std::string path_;
  std::string originSize_;
  std::string cacheSize_;
  std::string dateModified_;
  std::string state_;
};

}  // namespace ZR
