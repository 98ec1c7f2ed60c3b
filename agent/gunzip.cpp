#include "agent/gunzip.h"

#include <zlib.h>

#include <algorithm>

namespace agent {

struct Gunzip::Stream {
  z_stream z{};
  bool open = false;
};

Gunzip::Gunzip(uint64_t limit) : stream_(std::make_unique<Stream>()), limit_(limit) {
  // 16 + window bits: a gzip header and trailer, checked.
  stream_->open = inflateInit2(&stream_->z, 16 + MAX_WBITS) == Z_OK;
  if (!stream_->open) error_ = "zlib could not start";
}

Gunzip::~Gunzip() {
  if (stream_->open) inflateEnd(&stream_->z);
}

bool Gunzip::feed(const char* data, size_t size, std::string& out) {
  return feed(data, size, [&out](const char* piece, size_t length) {
    out.append(piece, length);
    return true;
  });
}

bool Gunzip::feed(const char* data, size_t size, const Sink& sink) {
  if (!error_.empty()) return false;
  z_stream& z = stream_->z;
  const unsigned char* next = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* end = next + size;
  unsigned char buffer[65536];
  while (next < end) {
    size_t piece = std::min<size_t>(static_cast<size_t>(end - next), 1u << 30);
    z.next_in = const_cast<unsigned char*>(next);
    z.avail_in = static_cast<uInt>(piece);
    inMember_ = true;
    int result = Z_OK;
    do {
      z.next_out = buffer;
      z.avail_out = sizeof buffer;
      result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        error_ = std::string("not a valid gzip stream: ") + (z.msg ? z.msg : "damaged data");
        return false;
      }
      size_t made = sizeof buffer - z.avail_out;
      produced_ += made;
      if (produced_ > limit_) {
        error_ = "it inflates to more than the " + std::to_string(limit_) + " bytes it may have";
        return false;
      }
      if (made > 0 && !sink(reinterpret_cast<const char*>(buffer), made)) {
        error_ = "the inflated bytes could not be taken";
        return false;
      }
      if (result == Z_STREAM_END) {
        // Another member may follow.
        inMember_ = false;
        inflateReset(&z);
        break;
      }
    } while (z.avail_out == 0 || (z.avail_in > 0 && result != Z_BUF_ERROR));
    next = z.next_in;
    if (result == Z_BUF_ERROR && z.avail_in > 0) {
      error_ = "not a valid gzip stream";
      return false;
    }
  }
  return true;
}

bool Gunzip::complete() const { return error_.empty() && !inMember_; }

}  // namespace agent
