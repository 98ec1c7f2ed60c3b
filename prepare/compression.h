// Gzip copies of files that are worth compressing, written into the
// transcoded folder under names that never collide.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/env.h"
#include "prepare/gzip_stream.h"

namespace ZR {
class CLogger;
}

namespace velkan {

// directory + "<seconds>_<ticks>_<thread>_" (hexadecimal) + the file-name
// part of `base` (a long one cut to 160 bytes, ending with a hash of it, so
// that an extension still fits the system's 255). Within a process no two calls return the same name: the
// tick number is raised past the last one used when the clock has not moved.
std::string makeUniqueName(const std::string& directory, const std::string& base);

// Writes a gzip copy of `source` to `target`, streaming, through the
// platform's file layer: one gzip member for the whole file, at the
// compression of gzip's default level (gzip_stream.h). Throws
// CVelkanException "Compression of : <source> failed. \n" when the source
// cannot be read or the copy cannot be written whole (a partial copy is
// removed, never handed on); `why` (may be null) then receives the reason.
// `workspace` (may be null) is what a worker keeps from file to file. The
// copy is written through `env`.
void gzipFile(platform::Env& env, const std::string& source, const std::string& target, std::string* why = nullptr,
              const GzipOptions& options = GzipOptions(), GzipWorkspace* workspace = nullptr);

// The same gzip copy into memory, for small files.
void gzipToMemory(platform::Env& env, const std::string& source, std::string& out, std::string* why = nullptr,
                  GzipWorkspace* workspace = nullptr);

struct CompressionContext {
  std::string transcodedFolder;  // ends with a separator
  uint32_t waitMs = 10000;       // pause before compressing a file with a pure ASCII path
  ZR::CLogger* log = nullptr;
  GzipOptions gzip;
  std::function<bool()> stopped;  // cuts the pause short when it says so (may be empty)
  GzipWorkspace* workspace = nullptr;  // the worker's, kept from file to file
  platform::Env* env = nullptr;        // where the copy is written; never null when used
};

// Waits `ms` milliseconds, or less once `stopped` (may be empty) says the
// run is over: a run that ends must not sit out a long pause first.
void pauseUnlessStopped(uint32_t ms, const std::function<bool()>& stopped);

// The CPU-bound worker's step for a compressible file: sets the copy's path
// and the metadata lines and returns true, or throws CVelkanException.
bool compressObject(const std::string& path, const std::string& objMime, std::string& transcoded, std::string& metadata,
                    const CompressionContext& context);

}  // namespace velkan
