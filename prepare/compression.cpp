#include "prepare/compression.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <vector>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/thread.h"
#include "service/velkan_exceptions.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/thread.h"
#include "pipeline/prepared_copy.h"

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

}  // namespace

namespace {

// The name of a prepared copy must fit the system's limit of 255 bytes
// with the unique prefix and an extension added: a longer origin name is
// cut (at a whole UTF-8 character) and ends with a hash of the whole name.
std::string fittingName(const std::string& name) {
  constexpr size_t kMaxNameBytes = 160;
  if (name.size() <= kMaxNameBytes) return name;
  size_t keep = kMaxNameBytes - 17;
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return name.substr(0, keep) + "~" + ZR::CStringUtils::hashHex(name);
}

}  // namespace

std::string makeUniqueName(const std::string& directory, const std::string& base) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%" PRIx64 "_%" PRIx64 "_%lx_", static_cast<uint64_t>(platform::unixTimeSeconds()),
                uniqueTick(), platform::currentThreadId());
  return directory + prefix + fittingName(ZR::CFileUtils::fileNameFromPath(base));
}

namespace {

// The outcome of a gzip copy, or the exception that says why there is none.
void checkOutcome(GzipWorkspace::Outcome outcome, const std::string& source, const std::string& written,
                  std::string* why) {
  switch (outcome) {
    case GzipWorkspace::Outcome::Done: return;
    case GzipWorkspace::Outcome::ReadFailed: compressionFailed(source, why, "cannot read " + source);
    case GzipWorkspace::Outcome::WriteFailed: compressionFailed(source, why, "cannot write " + written + " (disk full?)");
    case GzipWorkspace::Outcome::OutOfMemory: compressionFailed(source, why, "out of memory for the compressor");
  }
}

uint64_t sizeOf(const ZR::CFile& in) {
  int64_t size = in.size();
  return size > 0 ? static_cast<uint64_t>(size) : 0;
}

}  // namespace

void gzipFile(platform::Env& env, const std::string& source, const std::string& target, std::string* why,
              const GzipOptions& options, GzipWorkspace* workspace) {
  ZR::CFile in(env, source, "r");
  if (!in.isValid()) compressionFailed(source, why, in.lastError());
  std::string host = platform::hostPath(target);
  std::unique_ptr<platform::WritableFile> out;
  if (platform::Status opened = env.openWritable(host, &out); !opened) {
    compressionFailed(source, why, opened.message());
  }
  PreparedCopy partial(target, &env);  // a copy that is not whole is never handed on
  GzipWorkspace own;
  GzipWorkspace& space = workspace ? *workspace : own;
  auto toFile = [&](const char* data, size_t n) { return static_cast<bool>(out->append(data, n)); };
  checkOutcome(space.gzip(in, sizeOf(in), options, toFile), source, host, why);
  if (!out->close()) compressionFailed(source, why, "cannot store " + host + " (disk full?)");
  partial.release();
}

void gzipToMemory(platform::Env& env, const std::string& source, std::string& out, std::string* why,
                  GzipWorkspace* workspace) {
  ZR::CFile in(env, source, "r");
  if (!in.isValid()) compressionFailed(source, why, in.lastError());
  out.clear();
  GzipWorkspace own;
  GzipWorkspace& space = workspace ? *workspace : own;
  auto toMemory = [&](const char* data, size_t n) {
    out.append(data, n);
    return true;
  };
  checkOutcome(space.gzip(in, sizeOf(in), GzipOptions{1, nullptr}, toMemory), source, "memory", why);
}

void pauseUnlessStopped(uint32_t ms, const std::function<bool()>& stopped) {
  constexpr uint32_t kStep = 50;
  for (uint32_t waited = 0; waited < ms; waited += kStep) {
    if (stopped && stopped()) return;
    platform::sleepMs(std::min(kStep, ms - waited));
  }
}

bool compressObject(const std::string& path, const std::string& objMime, std::string& transcoded, std::string& metadata,
                    const CompressionContext& context) {
  if (context.log) context.log->info("CCPUBoundThread compressing: %s", path.c_str());
  std::string name;
  if (ZR::CStringUtils::isAscii(path)) {
    pauseUnlessStopped(context.waitMs, context.stopped);
    name = makeUniqueName(context.transcodedFolder, path);
  } else {
    name = makeUniqueName(context.transcodedFolder, "localzip");
  }
  transcoded = name + ".zip";
  std::string why;
  try {
    gzipFile(*context.env, path, transcoded, &why, context.gzip, context.workspace);
  } catch (const CVelkanException&) {
    if (context.log) context.log->error("%s", ("cannot compress " + path + ": " + why).c_str());
    throw;
  }
  metadata = "cache.mimetype=" + objMime + "\ncache.encoding=gzip\n";
  return true;
}

}  // namespace velkan
