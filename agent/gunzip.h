// Undoes the gzip coding of a stored copy as its bytes arrive, one member
// after another (earlier clients wrote a large file as several members).
// The output is bounded: a stream that would inflate beyond `limit` bytes
// is refused instead of filling the disk, and it is handed on in pieces of
// at most 64 KiB, so that a small input that inflates to much never sits
// in memory whole.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace agent {

class Gunzip {
 public:
  explicit Gunzip(uint64_t limit);
  ~Gunzip();
  Gunzip(const Gunzip&) = delete;
  Gunzip& operator=(const Gunzip&) = delete;

  // Receives the inflated bytes piece by piece; false stops the inflating.
  using Sink = std::function<bool(const char* data, size_t size)>;
  // Inflates the next input bytes into `sink`. False (with error()) when
  // the data is not gzip, is damaged, goes beyond the limit, or the sink
  // refused a piece.
  bool feed(const char* data, size_t size, const Sink& sink);
  // The same, appending to `out`.
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
