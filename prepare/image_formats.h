// What the picture decoders share: the source they read through, the
// pixel limit, and one decoder per format (image_jpeg.cpp, image_png.cpp,
// image_gif.cpp, image_tiff.cpp, image_bmp.cpp); image_codec.cpp picks one
// by the file's first bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/path.h"
#include "prepare/image_codec.h"

namespace velkan::picture {

// A picture file read through the platform's file layer, in large blocks,
// with the look-ahead and skipping the decoders' read callbacks need.
class ImageSource {
 public:
  // The bytes of a file already read, served the same way.
  static std::unique_ptr<ImageSource> fromMemory(PixelBuffer bytes) {
    auto source = std::unique_ptr<ImageSource>(new ImageSource(nullptr));
    source->buffer_ = std::move(bytes);
    source->end_ = source->buffer_.size();
    source->ended_ = true;
    return source;
  }

  static std::unique_ptr<ImageSource> open(platform::Env& env, const std::string& path) {
    std::unique_ptr<platform::ReadableFile> file;
    env.openReadable(platform::hostPath(path), &file);
    if (!file) return nullptr;
    auto source = std::unique_ptr<ImageSource>(new ImageSource(std::move(file)));
    platform::FileInfo info;
    if (env.getFileInfo(platform::hostPath(path), &info)) source->sizeHint_ = info.size;
    return source;
  }

  // Back to the first byte, for a decoder that reads the picture twice.
  // False when the file cannot seek.
  bool rewind() {
    start_ = 0;
    if (!file_) return true;  // memory: all of it is in the buffer
    end_ = 0;
    ended_ = false;
    return file_->seek(0);
  }

  // The file's size when it was opened (0: not known); only a hint, the
  // file may have changed since.
  uint64_t sizeHint() const { return sizeHint_; }

  // The next buffered bytes (at least one unless the file ended): for
  // libjpeg's source manager. False at the end or on a read failure.
  bool next(const uint8_t*& data, size_t& length) {
    if (start_ == end_ && !refill()) return false;
    data = buffer_.data() + start_;
    length = end_ - start_;
    start_ = end_;
    return true;
  }
  // Up to `length` bytes; fewer only at the end of the file.
  size_t read(void* out, size_t length) {
    size_t done = 0;
    auto* target = static_cast<uint8_t*>(out);
    while (done < length) {
      if (start_ == end_ && !refill()) break;
      size_t n = std::min(length - done, end_ - start_);
      std::memcpy(target + done, buffer_.data() + start_, n);
      start_ += n;
      done += n;
    }
    return done;
  }
  void skip(size_t length) {
    while (length > 0) {
      if (start_ == end_ && !refill()) return;
      size_t n = std::min(length, end_ - start_);
      start_ += n;
      length -= n;
    }
  }
  bool atEnd() {
    return start_ == end_ && !refill();
  }
  // The first bytes of the file without taking them; fewer when it is shorter.
  size_t peek(uint8_t* out, size_t length) {
    while (end_ - start_ < length && !ended_) {
      if (start_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
      }
      int64_t got = file_->read(reinterpret_cast<char*>(buffer_.data() + end_), buffer_.size() - end_);
      if (got <= 0) ended_ = true;
      if (got > 0) end_ += static_cast<size_t>(got);
    }
    size_t n = std::min(length, end_ - start_);
    std::memcpy(out, buffer_.data() + start_, n);
    return n;
  }

 private:
  explicit ImageSource(std::unique_ptr<platform::ReadableFile> file)
      : file_(std::move(file)), buffer_(file_ ? 64 * 1024 : 0) {}
  bool refill() {
    if (ended_) return false;
    int64_t got = file_->read(reinterpret_cast<char*>(buffer_.data()), buffer_.size());
    if (got <= 0) {
      ended_ = true;
      return false;
    }
    start_ = 0;
    end_ = static_cast<size_t>(got);
    return true;
  }

  std::unique_ptr<platform::ReadableFile> file_;
  PixelBuffer buffer_;
  uint64_t sizeHint_ = 0;
  size_t start_ = 0, end_ = 0;
  bool ended_ = false;
};

// False, with the reason, for a picture without pixels or with more than
// kMaxImagePixels.
bool sizeAllowed(uint64_t width, uint64_t height, std::string& error);

// Reads the rest of the file straight into `out`, in growing steps; false
// when it holds more than `limit` bytes.
bool readWholeSource(ImageSource* file, PixelBuffer& out, uint64_t limit);

inline constexpr char kExifHeader[] = "Exif\0\0";
constexpr size_t kExifHeaderSize = 6;

// Each decoder reads `file` into `image` (its header alone when
// `headerOnly`); false with the reason in `error`.
bool decodeJpeg(ImageSource* file, Image& image, std::string& error, int minWidth, int minHeight, bool headerOnly);
bool decodePng(ImageSource* file, Image& image, std::string& error, bool headerOnly);
// The whole PNG: the everyday one on the fast decoder, any other on libpng.
bool decodeWholePng(ImageSource* file, Image& image, std::string& error, int minWidth, int minHeight);
bool decodeGif(ImageSource* file, Image& image, std::string& error, bool headerOnly);
bool decodeTiff(ImageSource* file, Image& image, std::string& error, bool headerOnly);
bool decodeBmp(ImageSource* file, Image& image, std::string& error, bool headerOnly);

}  // namespace velkan::picture
