#include "prepare/compression.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <vector>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "service/velkan_exceptions.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/thread.h"
#include "upload/prepared_copy.h"

namespace velkan {
namespace {

std::atomic<uint64_t> lastTick{0};

// The tick count, but never one this process already used.
uint64_t uniqueTick() {
  uint64_t now = platform::tickCountMs();
  uint64_t last = lastTick.load();
  uint64_t next;
  do {
    next = std::max(now, last + 1);
  } while (!lastTick.compare_exchange_weak(last, next));
  return next;
}

[[noreturn]] void compressionFailed(const std::string& source, std::string* why, const std::string& reason) {
  if (why) *why = reason;
  throw CVelkanException("Compression of : " + source + " failed. \n");
}

// zlib's deflate with the gzip wrapper, at the default level.
class GzipStream {
 public:
  GzipStream() { ok_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~GzipStream() {
    if (ok_) deflateEnd(&z_);
  }
  GzipStream(const GzipStream&) = delete;
  GzipStream& operator=(const GzipStream&) = delete;

  bool ok() const { return ok_; }
  // Compresses `length` bytes (the last call with `finish`) and hands what
  // comes out to `sink`, which returns false when it cannot take it.
  template <typename Sink>
  bool write(const char* data, size_t length, bool finish, Sink sink) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = static_cast<uInt>(length);
    int rc;
    do {
      z_.next_out = reinterpret_cast<Bytef*>(buffer_);
      z_.avail_out = sizeof buffer_;
      rc = deflate(&z_, finish ? Z_FINISH : Z_NO_FLUSH);
      if (rc == Z_STREAM_ERROR) return false;
      size_t produced = sizeof buffer_ - z_.avail_out;
      if (produced > 0 && !sink(buffer_, produced)) return false;
    } while (z_.avail_out == 0 || (finish && rc != Z_STREAM_END));
    return true;
  }

 private:
  z_stream z_{};
  bool ok_ = false;
  char buffer_[128 * 1024];
};

}  // namespace

std::string makeUniqueName(const std::string& directory, const std::string& base) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%" PRIx64 "_%" PRIx64 "_%lx_", static_cast<uint64_t>(platform::unixTimeSeconds()),
                uniqueTick(), platform::currentThreadId());
  return directory + prefix + ZR::CFileUtils::fileNameFromPath(base);
}

void gzipFile(const std::string& source, const std::string& target, std::string* why) {
  ZR::CFile in(source, "r");
  if (!in.isValid()) compressionFailed(source, why, in.lastError());
  std::string host = platform::hostPath(target);
  std::unique_ptr<platform::WritableFile> out;
  if (platform::Status opened = platform::env()->openWritable(host, &out); !opened) {
    compressionFailed(source, why, opened.message());
  }
  PreparedCopy partial(target);  // a copy that is not whole is never handed on
  auto stream = std::make_unique<GzipStream>();
  if (!stream->ok()) compressionFailed(source, why, "out of memory for the compressor");
  std::vector<char> block(128 * 1024);
  for (;;) {
    int64_t got = in.read(block.data(), block.size());
    if (got < 0) compressionFailed(source, why, "cannot read " + source);
    auto toFile = [&](const char* data, size_t n) { return static_cast<bool>(out->append(data, n)); };
    if (!stream->write(block.data(), static_cast<size_t>(got), got == 0, toFile)) {
      compressionFailed(source, why, "cannot write " + host + " (disk full?)");
    }
    if (got == 0) break;
  }
  if (!out->close()) compressionFailed(source, why, "cannot store " + host + " (disk full?)");
  partial.release();
}

void gzipToMemory(const std::string& source, std::string& out, std::string* why) {
  ZR::CFile in(source, "r");
  if (!in.isValid()) compressionFailed(source, why, in.lastError());
  auto stream = std::make_unique<GzipStream>();
  if (!stream->ok()) compressionFailed(source, why, "out of memory for the compressor");
  out.clear();
  std::vector<char> block(128 * 1024);
  auto toMemory = [&](const char* data, size_t n) {
    out.append(data, n);
    return true;
  };
  for (;;) {
    int64_t got = in.read(block.data(), block.size());
    if (got < 0) compressionFailed(source, why, "cannot read " + source);
    stream->write(block.data(), static_cast<size_t>(got), got == 0, toMemory);
    if (got == 0) return;
  }
}

bool compressObject(const std::string& path, const std::string& objMime, std::string& transcoded, std::string& metadata,
                    const CompressionContext& context) {
  if (context.log) context.log->info("CCPUBoundThread compressing: %s", path.c_str());
  std::string name;
  if (ZR::CStringUtils::isAscii(path)) {
    if (context.waitMs > 0) platform::sleepMs(context.waitMs);
    name = makeUniqueName(context.transcodedFolder, path);
  } else {
    name = makeUniqueName(context.transcodedFolder, "localzip");
  }
  transcoded = name + ".zip";
  std::string why;
  try {
    gzipFile(path, transcoded, &why);
  } catch (const CVelkanException&) {
    if (context.log) context.log->error("%s", ("cannot compress " + path + ": " + why).c_str());
    throw;
  }
  metadata = "cache.mimetype=" + objMime + "\ncache.encoding=gzip\n";
  return true;
}

}  // namespace velkan
