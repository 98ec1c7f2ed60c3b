#include "prepare/gzip_stream.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/thread.h"

namespace velkan {
namespace {

constexpr int kGzipLevel = 6;
// What an empty stored block ends with: its length and the length's complement.
constexpr char kEmptyStoredBlock[] = {0, 0, '\xff', '\xff'};
constexpr size_t kJoinSlack = 8;

// The gzip header: deflate, no name, no time, Unix.
constexpr char kGzipHeader[] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3};

void putLittleEndian(char* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

struct GzipWorkspace::Block {
  std::vector<char> in, out;
  size_t inSize = 0, outSize = 0;
  bool final = false;
  bool compressed = false;
};

class GzipWorkspace::Compressor {
 public:
  Compressor() : compressor_(libdeflate_alloc_compressor(kGzipLevel)) {}
  ~Compressor() {
    if (compressor_) libdeflate_free_compressor(compressor_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  bool ok() const { return compressor_ != nullptr; }
  void compress(Block& block) {
    size_t bound = libdeflate_deflate_compress_bound(compressor_, block.inSize) + kJoinSlack;
    if (block.out.size() < bound) block.out.resize(bound);
    block.outSize = libdeflate_deflate_compress(compressor_, block.in.data(), block.inSize, block.out.data(),
                                                block.out.size() - kJoinSlack);
    block.compressed = block.outSize > 0 && (block.final || makeJoinable(block.out, block.outSize));
  }

 private:
  libdeflate_compressor* compressor_;
};

// A second thread that compresses every other block of a large file. It
// joins the run's throttle group, so throttling stops it with the rest.
class GzipWorkspace::Helper : public ZR::CThread {
 public:
  explicit Helper(ZR::CThreadGroup* group) : group_(group) {}
  ~Helper() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    changed_.notify_all();
    join();
    if (group_ && started_) group_->remove(&handle());
  }

  bool start() {
    if (!compressor_.ok() || !threadStart()) return false;
    started_ = true;
    if (group_) group_->add(&handle());
    return true;
  }
  ZR::CThreadGroup* group() const { return group_; }
  void submit(Block* block) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task_ = block;
    }
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return task_ == nullptr; });
  }

  int run() override {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return task_ != nullptr || ending_; });
      if (task_ == nullptr) return 0;
      Block* block = task_;
      lock.unlock();
      compressor_.compress(*block);
      lock.lock();
      task_ = nullptr;
      changed_.notify_all();
    }
  }

 private:
  ZR::CThreadGroup* group_;
  Compressor compressor_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Block* task_ = nullptr;
  bool ending_ = false;
  bool started_ = false;
};

// zlib's inflate, stopped at every block boundary (Z_BLOCK), says where the
// last block's header begins and how many bits of the last byte are unused.
bool makeJoinable(std::vector<char>& stream, size_t& size) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  std::vector<unsigned char> sink(1 << 16);
  z.next_in = reinterpret_cast<unsigned char*>(stream.data());
  z.avail_in = static_cast<uInt>(size);
  uint64_t lastHeaderBit = 0;  // a raw stream's first block begins at bit 0
  int unused = -1;             // bits after the last block's end-of-block code
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = sink.data();
    z.avail_out = static_cast<uInt>(sink.size());
    result = inflate(&z, Z_BLOCK);
    // At a block's end (128): after the last block (64) the bits left in
    // the last byte are the padding; after another, the next header begins.
    if (result == Z_OK && (z.data_type & 128) != 0) {
      if ((z.data_type & 64) != 0) {
        unused = z.data_type & 7;
      } else {
        lastHeaderBit = uint64_t{z.total_in} * 8 - static_cast<uint64_t>(z.data_type & 7);
      }
    }
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  inflateEnd(&z);
  if (unused < 0) return false;
  if (result != Z_STREAM_END || z.total_in != size) return false;
  stream[lastHeaderBit / 8] = static_cast<char>(stream[lastHeaderBit / 8] & ~(1 << (lastHeaderBit % 8)));
  // The empty stored block: three zero header bits right after the last
  // block (the padding is zeros), then its length, byte-aligned.
  if (stream.size() < size + kJoinSlack) stream.resize(size + kJoinSlack);
  if (unused < 3) stream[size++] = 0;
  std::copy(std::begin(kEmptyStoredBlock), std::end(kEmptyStoredBlock), stream.begin() + static_cast<ptrdiff_t>(size));
  size += sizeof kEmptyStoredBlock;
  return true;
}

GzipWorkspace::GzipWorkspace()
    : compressor_(std::make_unique<Compressor>()), first_(std::make_unique<Block>()), second_(std::make_unique<Block>()) {}

GzipWorkspace::~GzipWorkspace() = default;

// Reads up to a block, after the byte looked at in advance (if any);
// false on a read failure.
bool GzipWorkspace::fill(ZR::CFile& in, Block& block, uint64_t sizeHint) {
  // Sized by the file for a small one (and its end found by one more read):
  // no 4 MiB the kernel must zero for a file of a few KiB.
  size_t wanted = static_cast<size_t>(std::min<uint64_t>(kGzipBlock, sizeHint + 1));
  if (block.in.size() < wanted) block.in.resize(wanted);
  while (block.inSize < kGzipBlock) {
    if (block.inSize == block.in.size()) block.in.resize(std::min(kGzipBlock, block.in.size() * 2));
    int64_t got = in.read(block.in.data() + block.inSize, block.in.size() - block.inSize);
    if (got < 0) return false;
    if (got == 0) break;
    block.inSize += static_cast<size_t>(got);
  }
  return true;
}

GzipWorkspace::Outcome GzipWorkspace::put(Block& block, const Sink& sink) {
  if (!block.compressed) return Outcome::OutOfMemory;
  crc_ = libdeflate_crc32(crc_, block.in.data(), block.inSize);
  length_ += block.inSize;
  return sink(block.out.data(), block.outSize) ? Outcome::Done : Outcome::WriteFailed;
}

GzipWorkspace::Outcome GzipWorkspace::gzip(ZR::CFile& in, uint64_t sizeHint, const GzipOptions& options,
                                           const Sink& sink) {
  if (!compressor_->ok()) return Outcome::OutOfMemory;
  crc_ = 0;
  length_ = 0;
  if (!sink(kGzipHeader, sizeof kGzipHeader)) return Outcome::WriteFailed;
  Block& a = *first_;
  Block& b = *second_;
  a.inSize = 0;
  for (;;) {
    // `a` may hold the byte read in advance; `b` is filled only when `a` is
    // full, and a last byte looked at says whether `b` is the last block.
    if (!fill(in, a, sizeHint)) return Outcome::ReadFailed;
    b.inSize = 0;
    if (a.inSize == kGzipBlock && !fill(in, b, kGzipBlock)) return Outcome::ReadFailed;
    char ahead = 0;
    int64_t peeked = b.inSize == kGzipBlock ? in.read(&ahead, 1) : 0;
    if (peeked < 0) return Outcome::ReadFailed;
    a.final = b.inSize == 0;
    b.final = peeked == 0;
    bool shared = b.inSize > 0 && options.threads > 1;
    if (shared && (!helper_ || helper_->group() != options.throttle)) {
      helper_ = std::make_unique<Helper>(options.throttle);
      if (!helper_->start()) helper_.reset();
    }
    if (shared && helper_) helper_->submit(&a);
    if (b.inSize > 0) compressor_->compress(b);
    shared && helper_ ? helper_->wait() : compressor_->compress(a);
    if (Outcome outcome = put(a, sink); outcome != Outcome::Done) return outcome;
    if (b.inSize > 0) {
      if (Outcome outcome = put(b, sink); outcome != Outcome::Done) return outcome;
    }
    if (a.final || b.final) break;
    a.in[0] = ahead;
    a.inSize = 1;
  }
  char trailer[8];
  putLittleEndian(trailer, crc_);
  putLittleEndian(trailer + 4, static_cast<uint32_t>(length_));
  return sink(trailer, sizeof trailer) ? Outcome::Done : Outcome::WriteFailed;
}

}  // namespace velkan
