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
#include "client/velkan_exceptions.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/thread.h"
#include "platform/unicode.h"

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

[[noreturn]] void compressionFailed(const std::string& source) {
  throw CVelkanException("Compression of : " + source + " failed. \n");
}

struct GzipCloser {
  void operator()(gzFile file) const {
    if (file) gzclose(file);
  }
};

}  // namespace

std::string makeUniqueName(const std::string& directory, const std::string& base) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%" PRIx64 "_%" PRIx64 "_%lx_", static_cast<uint64_t>(platform::unixTimeSeconds()),
                uniqueTick(), platform::currentThreadId());
  return directory + prefix + ZR::CFileUtils::fileNameFromPath(base);
}

void gzipFile(const std::string& source, const std::string& target) {
  ZR::CFile in(source, "r");
  if (!in.isValid()) compressionFailed(source);
  std::string host = platform::hostPath(target);
#ifdef _WIN32
  std::unique_ptr<gzFile_s, GzipCloser> out(gzopen_w(platform::utf8ToWide(host).c_str(), "wb"));
#else
  std::unique_ptr<gzFile_s, GzipCloser> out(gzopen(host.c_str(), "wb"));
#endif
  if (!out) compressionFailed(source);
  std::vector<char> block(128 * 1024);
  bool ok = true;
  for (;;) {
    int64_t got = in.read(block.data(), block.size());
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (gzwrite(out.get(), block.data(), static_cast<unsigned>(got)) != static_cast<int>(got)) {
      ok = false;
      break;
    }
  }
  // gzclose flushes the last block: a full disk shows here.
  ok = gzclose(out.release()) == Z_OK && ok;
  if (!ok) {
    platform::env()->removeFile(host);
    compressionFailed(source);
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
  gzipFile(path, transcoded);
  metadata = "cache.mimetype=" + objMime + "\ncache.encoding=gzip\n";
  return true;
}

}  // namespace velkan
