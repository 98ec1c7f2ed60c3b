#include "prepare/png_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "prepare/image_codec.h"

namespace velkan {
namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t bigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

struct Header {
  uint32_t width = 0, height = 0;
  uint8_t depth = 0, colorType = 0, interlace = 0;
  int channels() const {
    switch (colorType) {
      case 0: return 1;
      case 2: return 3;
      case 3: return 1;
      case 4: return 2;
      case 6: return 4;
      default: return 0;
    }
  }
};

struct Chunks {
  Header header;
  // The IDAT data, joined where the file was (the file's chunks before it
  // are read first, so moving the data down overwrites nothing unread).
  const uint8_t* compressed = nullptr;
  size_t compressedSize = 0;
  uint8_t palette[256][4] = {};     // RGBA
  int paletteSize = 0;
  bool transparentKey = false;      // tRNS of a grey or RGB picture
  uint16_t key[3] = {};
  bool hasTransparency = false;
  std::string exif;
};

bool supported(const Header& h) { return h.depth == 8 && h.interlace == 0 && h.channels() != 0; }

// Walks the chunks: the header first, then the data; false with the reason
// (or with `unsupported` set, the file left untouched, right after a header
// this decoder leaves to libpng).
bool readChunks(PixelBuffer& file, Chunks& c, std::string& error, bool& unsupported) {
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
    error = "PNG: not a PNG file";
    return false;
  }
  size_t at = 8;
  bool sawHeader = false, sawEnd = false;
  c.compressed = file.data();
  while (!sawEnd) {
    if (file.size() - at < 12) {
      error = "PNG: file ends early";
      return false;
    }
    uint32_t length = bigEndian32(&file[at]);
    if (length > file.size() - at - 12) {
      error = "PNG: a chunk runs past the end of the file";
      return false;
    }
    const uint8_t* type = &file[at + 4];
    const uint8_t* data = &file[at + 8];
    uint32_t crc = bigEndian32(data + length);
    if (libdeflate_crc32(0, type, length + 4) != crc) {
      error = "PNG: damaged chunk";
      return false;
    }
    if (std::memcmp(type, "IHDR", 4) == 0 && sawHeader) {
      error = "PNG: a second header";
      return false;
    } else if (std::memcmp(type, "IHDR", 4) == 0 && length == 13) {
      c.header = Header{bigEndian32(data), bigEndian32(data + 4), data[8], data[9], data[12]};
      sawHeader = true;
      if (!supported(c.header)) {
        unsupported = true;
        return false;
      }
    } else if (!sawHeader) {
      error = "PNG: no header first";
      return false;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      std::memmove(file.data() + c.compressedSize, data, length);
      c.compressedSize += length;
    } else if (std::memcmp(type, "PLTE", 4) == 0 && length % 3 == 0 && length <= 768) {
      c.paletteSize = static_cast<int>(length / 3);
      for (int i = 0; i < c.paletteSize; ++i) {
        c.palette[i][0] = data[3 * i];
        c.palette[i][1] = data[3 * i + 1];
        c.palette[i][2] = data[3 * i + 2];
        c.palette[i][3] = 255;
      }
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      c.hasTransparency = true;
      if (c.header.colorType == 3) {
        for (uint32_t i = 0; i < length && i < 256; ++i) c.palette[i][3] = data[i];
      } else if (c.header.colorType == 0 && length == 2) {
        c.transparentKey = true;
        c.key[0] = static_cast<uint16_t>((data[0] << 8) | data[1]);
      } else if (c.header.colorType == 2 && length == 6) {
        c.transparentKey = true;
        for (int i = 0; i < 3; ++i) c.key[i] = static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
      }
    } else if (std::memcmp(type, "eXIf", 4) == 0 && c.exif.empty() && length > 0) {
      c.exif = std::string("Exif\0\0", 6) + std::string(reinterpret_cast<const char*>(data), length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      sawEnd = true;
    }
    at += 12 + size_t{length};
  }
  return true;
}

// Written without branches: rows of photos pick among the three at random.
inline uint8_t paeth(int a, int b, int c) {
  int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  int bOrC = pb <= pc ? b : c;
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : bOrC);
}

// Undoes the row's filter in place; `previous` is the row above (zeros for the first).
bool unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t length, size_t step) {
  switch (filter) {
    case 0: return true;
    case 1:
      for (size_t i = step; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
      return true;
    case 2:
      for (size_t i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + previous[i]);
      return true;
    case 3:
      for (size_t i = 0; i < length; ++i) {
        int left = i >= step ? row[i - step] : 0;
        row[i] = static_cast<uint8_t>(row[i] + ((left + previous[i]) >> 1));
      }
      return true;
    case 4:
      for (size_t i = 0; i < length; ++i) {
        int left = i >= step ? row[i - step] : 0, upLeft = i >= step ? previous[i - step] : 0;
        row[i] = static_cast<uint8_t>(row[i] + paeth(left, previous[i], upLeft));
      }
      return true;
    default: return false;
  }
}

void toRgba(const Chunks& c, const uint8_t* row, uint8_t* out, uint32_t width) {
  switch (c.header.colorType) {
    case 0:
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t v = row[x];
        out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = v;
        out[4 * x + 3] = c.transparentKey && v == c.key[0] ? 0 : 255;
      }
      break;
    case 2:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* p = row + 3 * x;
        out[4 * x] = p[0];
        out[4 * x + 1] = p[1];
        out[4 * x + 2] = p[2];
        out[4 * x + 3] = c.transparentKey && p[0] == c.key[0] && p[1] == c.key[1] && p[2] == c.key[2] ? 0 : 255;
      }
      break;
    case 3:
      for (uint32_t x = 0; x < width; ++x) std::memcpy(out + 4 * x, c.palette[row[x]], 4);
      break;
    case 4:
      for (uint32_t x = 0; x < width; ++x) {
        out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = row[2 * x];
        out[4 * x + 3] = row[2 * x + 1];
      }
      break;
    default: std::memcpy(out, row, size_t{width} * 4); break;
  }
}

// The picture data inflated one row at a time, so the whole filtered
// picture is never held.
class RowInflater {
 public:
  // The chunks' CRCs already guard the data, so the stream is inflated raw
  // past its two header bytes, without the second checksum.
  RowInflater(const uint8_t* data, size_t size) {
    if (size < 2 || (data[0] & 0x0F) != 8 || (data[1] & 0x20) != 0 || ((data[0] << 8) | data[1]) % 31 != 0) return;
    stream_.next_in = const_cast<Bytef*>(data + 2);
    stream_.avail_in = static_cast<uInt>(std::min<size_t>(size - 2, UINT32_MAX));
    ready_ = inflateInit2(&stream_, -15) == Z_OK;
  }
  ~RowInflater() { if (ready_) inflateEnd(&stream_); }
  RowInflater(const RowInflater&) = delete;
  RowInflater& operator=(const RowInflater&) = delete;

  bool next(uint8_t* out, size_t size) {
    if (!ready_ || size > UINT32_MAX) return false;
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(size);
    while (stream_.avail_out > 0) {
      int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) return stream_.avail_out == 0;
      if (result != Z_OK) return false;
    }
    return true;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

}  // namespace

PngFastResult decodePngFast(PixelBuffer& file, Image& image, std::string& error, int minWidth,
                            int minHeight) {
  auto c = std::make_unique<Chunks>();
  bool unsupported = false;
  if (!readChunks(file, *c, error, unsupported)) return unsupported ? PngFastResult::Unsupported : PngFastResult::Failed;
  const Header& h = c->header;
  int channels = h.channels();
  if (h.width == 0 || h.height == 0 || uint64_t{h.width} * h.height > kMaxImagePixels) {
    error = "PNG: the picture has " + std::to_string(h.width) + " x " + std::to_string(h.height) +
            " pixels, more than allowed";
    return PngFastResult::Failed;
  }
  if (h.colorType == 3 && c->paletteSize == 0) {
    error = "PNG: palette picture without palette";
    return PngFastResult::Failed;
  }
  size_t stride = size_t{h.width} * static_cast<size_t>(channels);
  RowInflater rows(c->compressed, c->compressedSize);
  image.hasAlpha = channels == 2 || channels == 4 || c->hasTransparency;
  image.exif = std::move(c->exif);
  int width = static_cast<int>(h.width), height = static_cast<int>(h.height);
  int factor = image.hasAlpha ? 1 : boxShrinkFactor(width, height, minWidth, minHeight);
  std::optional<BoxShrinker> shrinker;
  PixelBuffer line;
  if (factor > 1) {
    shrinker.emplace(width, height, factor, image);
    line.resize(size_t{h.width} * 4);
  } else {
    image.width = width;
    image.height = height;
    image.rgba.resize(size_t{h.width} * h.height * 4);
  }
  std::vector<uint8_t> row(stride + 1), previous(stride + 1, 0);
  for (uint32_t y = 0; y < h.height; ++y) {
    if (!rows.next(row.data(), row.size())) {
      error = "PNG: damaged picture data";
      return PngFastResult::Failed;
    }
    if (!unfilter(row[0], row.data() + 1, previous.data() + 1, stride, static_cast<size_t>(channels))) {
      error = "PNG: unknown row filter";
      return PngFastResult::Failed;
    }
    if (shrinker && h.colorType == 2 && !c->transparentKey) {
      shrinker->addRow(row.data() + 1, 3);
    } else {
      uint8_t* target = shrinker ? line.data() : image.rgba.data() + size_t{y} * h.width * 4;
      toRgba(*c, row.data() + 1, target, h.width);
      if (shrinker) shrinker->addRow(target);
    }
    row.swap(previous);
  }
  PixelBuffer().swap(file);
  return PngFastResult::Decoded;
}

namespace {

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t length) {
  putBigEndian32(out, static_cast<uint32_t>(length));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (length > 0) out.insert(out.end(), data, data + length);
  putBigEndian32(out, libdeflate_crc32(0, out.data() + start, length + 4));
}

// The row under one of the five filters.
void filterRow(int filter, const uint8_t* row, const uint8_t* previous, size_t length, size_t step, uint8_t* out) {
  for (size_t i = 0; i < length; ++i) {
    int left = i >= step ? row[i - step] : 0, up = previous[i], upLeft = i >= step ? previous[i - step] : 0;
    int predicted = filter == 1   ? left
                    : filter == 2 ? up
                    : filter == 3 ? (left + up) >> 1
                    : filter == 4 ? paeth(left, up, upLeft)
                                  : 0;
    out[i] = static_cast<uint8_t>(row[i] - predicted);
  }
}

uint64_t weight(const uint8_t* filtered, size_t length) {
  uint64_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum += filtered[i] < 128 ? filtered[i] : 256 - filtered[i];
  return sum;
}

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

void putHeader(std::vector<uint8_t>& out, const Image& image, bool opaque) {
  uint8_t header[13] = {};
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<uint8_t>(static_cast<uint32_t>(image.width) >> (24 - 8 * i));
    header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(image.height) >> (24 - 8 * i));
  }
  header[8] = 8;
  header[9] = opaque ? 2 : 6;
  putChunk(out, "IHDR", header, sizeof header);
}

}  // namespace

bool encodePngFast(const Image& image, const std::string& exif, int level, std::vector<uint8_t>& out) {
  if (image.width <= 0 || image.height <= 0) return false;
  bool opaque = true;
  for (size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
  size_t channels = opaque ? 3 : 4, width = static_cast<size_t>(image.width), stride = width * channels;
  std::vector<uint8_t> filtered((stride + 1) * static_cast<size_t>(image.height));
  std::vector<uint8_t> row(stride), previous(stride, 0), candidate(stride), best(stride);
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* source = image.rgba.data() + static_cast<size_t>(y) * width * 4;
    if (opaque) {
      for (size_t x = 0; x < width; ++x) std::memcpy(&row[3 * x], source + 4 * x, 3);
    } else {
      std::memcpy(row.data(), source, stride);
    }
    uint64_t bestWeight = UINT64_MAX;
    int bestFilter = 0;
    for (int filter = 0; filter < 5; ++filter) {
      filterRow(filter, row.data(), previous.data(), stride, channels, candidate.data());
      uint64_t w = weight(candidate.data(), stride);
      if (w < bestWeight) {
        bestWeight = w;
        bestFilter = filter;
        best.swap(candidate);
      }
    }
    uint8_t* target = filtered.data() + static_cast<size_t>(y) * (stride + 1);
    target[0] = static_cast<uint8_t>(bestFilter);
    std::memcpy(target + 1, best.data(), stride);
    previous.swap(row);
  }
  std::unique_ptr<libdeflate_compressor, CompressorFree> deflater(libdeflate_alloc_compressor(level));
  if (!deflater) return false;
  std::vector<uint8_t> compressed(libdeflate_zlib_compress_bound(deflater.get(), filtered.size()));
  size_t size = libdeflate_zlib_compress(deflater.get(), filtered.data(), filtered.size(), compressed.data(),
                                         compressed.size());
  if (size == 0) return false;
  out.assign(kSignature, kSignature + 8);
  putHeader(out, image, opaque);
  constexpr size_t kExifHeaderSize = 6;
  if (exif.size() > kExifHeaderSize && exif.size() < (1u << 30)) {
    putChunk(out, "eXIf", reinterpret_cast<const uint8_t*>(exif.data()) + kExifHeaderSize, exif.size() - kExifHeaderSize);
  }
  putChunk(out, "IDAT", compressed.data(), size);
  putChunk(out, "IEND", nullptr, 0);
  return true;
}

}  // namespace velkan
