// Undoes the gzip coding of a stored copy as its bytes arrive, one member
// after another (the client writes a large file as several members). The
// output is bounded: a stream that would inflate beyond `limit` bytes is
// refused instead of filling the disk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace agent {

class Gunzip {
 public:
  explicit Gunzip(uint64_t limit);
  ~Gunzip();
  Gunzip(const Gunzip&) = delete;
  Gunzip& operator=(const Gunzip&) = delete;

  // Inflates the next input bytes, appending to `out`. False (with error())
  // when the data is not gzip, is damaged, or goes beyond the limit.
  bool feed(const char* data, size_t size, std::string& out);
  // True when the input ended at the end of a whole member.
  bool complete() const;
  const std::string& error() const { return error_; }
  uint64_t produced() const { return produced_; }

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
  uint64_t limit_;
  uint64_t produced_ = 0;
  bool inMember_ = false;
  std::string error_;
};

}  // namespace agent
