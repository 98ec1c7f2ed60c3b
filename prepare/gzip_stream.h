// A gzip copy of a whole file as one gzip member, made fast: the file is
// cut into blocks of 4 MiB that two threads compress at once (libdeflate
// at gzip's default level), and the blocks' deflate streams are joined
// into one: each but the last is made to end on a byte boundary with an
// empty stored block, as a sync flush ends one, and its final-block mark is
// cleared; the CRC-32 and the length cover the whole file. A reader that
// inflates one member only (as several decoders and platform classes do)
// gets the whole file back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ZR {
class CFile;
class CThreadGroup;
}  // namespace ZR

namespace velkan {

constexpr size_t kGzipBlock = size_t{4} << 20;

struct GzipOptions {
  int threads = 2;                      // 1 keeps a throttled run within its share
  ZR::CThreadGroup* throttle = nullptr; // a helper thread joins it
};

// What compressing needs, kept from one file to the next so that a run of
// small files allocates (and the kernel zero-fills) nothing per file: the
// compressors, the block buffers, the helper thread.
// REQUIRES: external synchronization (one file at a time).
class GzipWorkspace {
 public:
  GzipWorkspace();
  ~GzipWorkspace();
  GzipWorkspace(const GzipWorkspace&) = delete;
  GzipWorkspace& operator=(const GzipWorkspace&) = delete;

  enum class Outcome { Done, ReadFailed, WriteFailed, OutOfMemory };
  using Sink = std::function<bool(const char* data, size_t size)>;

  // Reads `in` to its end and hands the gzip member to `sink` piece by
  // piece, in order. `sizeHint` (may be 0) is the file's size, which sizes
  // the buffers of a small file.
  Outcome gzip(ZR::CFile& in, uint64_t sizeHint, const GzipOptions& options, const Sink& sink);

 private:
  struct Block;
  class Compressor;
  class Helper;
  bool fill(ZR::CFile& in, Block& block, uint64_t sizeHint);
  Outcome put(Block& block, const Sink& sink);

  std::unique_ptr<Compressor> compressor_;
  std::unique_ptr<Block> first_, second_;
  std::unique_ptr<Helper> helper_;
  uint32_t crc_ = 0;
  uint64_t length_ = 0;
};

// Makes a complete raw deflate stream joinable in front of another one:
// its last block is no longer marked final, and an empty stored block ends
// it on a byte boundary. False when `stream` is no valid deflate stream.
bool makeJoinable(std::vector<char>& stream, size_t& size);

}  // namespace velkan
