// Decoding, scaling and encoding of pictures on the codec libraries
// themselves: libjpeg(-turbo), libpng, giflib, libtiff and stb_image (BMP),
// with stb_image_resize for the scaling. Every decoder checks the pixel
// count from the header against a limit before it decodes anything, so a
// hostile header cannot make it allocate more than that.
#pragma once

#include <cstdint>
#include <string>
#include <memory>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"

namespace velkan {

enum class ImageFormat { Unknown, Jpeg, Png, Gif, Bmp, Tiff };

// Pictures larger than this many pixels are refused.
constexpr uint64_t kMaxImagePixels = 100'000'000;

// Pixel memory that resize() leaves uninitialised: decoders write every
// byte, and zero-filling a 100-megapixel picture first costs as much as
// decoding it.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using PixelBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

struct Image {
  int width = 0;
  int height = 0;
  PixelBuffer rgba;  // width * height * 4, rows top to bottom
  bool hasAlpha = false;
  // EXIF data ("Exif\0\0" followed by the TIFF structure), when the source
  // carried it (JPEG APP1 or PNG eXIf).
  std::string exif;
};

// The format by the file's first bytes (the content, not the name).
ImageFormat sniffImageFormat(platform::Env& env, const std::string& path);

// Width and height from the header alone; false when unreadable.
bool readImageSize(platform::Env& env, const std::string& path, int& width, int& height);

// Decodes the whole picture. A JPEG may be decoded at 1/2, 1/4 or 1/8 of
// its size as long as the result is at least minWidth x minHeight (0: full
// size); an opaque PNG may come averaged down by the block factor of
// boxShrinkFactor. Not ok, with the reason, on any failure.
platform::Status decodeImage(platform::Env& env, const std::string& path, Image& image, int minWidth = 0,
                             int minHeight = 0);

// Averages factor x factor blocks of RGBA rows handed over one by one (a
// cheap first step for large reductions, leaving the bicubic filter at
// least twice the target size to work from): out gets sourceWidth / factor
// by sourceHeight / factor pixels; what lies beyond the last whole block is
// left out. Only for opaque pictures: the result's alpha is 255.
// REQUIRES: factor >= 1.
class BoxShrinker {
 public:
  BoxShrinker(int sourceWidth, int sourceHeight, int factor, Image& out);
  // A row of RGB (channels 3) or RGBA (4) pixels.
  void addRow(const uint8_t* row, int channels = 4);

 private:
  Image& out_;
  int factor_;
  uint32_t area_;
  int row_ = 0;
  std::vector<uint32_t> sums_;
};

// The block factor resizeImage shrinks by first to reach width x height
// (1: none); a picture with alpha is not shrunk that way.
int boxShrinkFactor(int sourceWidth, int sourceHeight, int width, int height);

// Scales with a bicubic-class (Catmull-Rom) filter.
bool resizeImage(const Image& source, int width, int height, Image& result);

// Encoders into memory; `exif` (may be empty) goes into APP1 right after the
// start of image, or into an eXIf chunk.
platform::Status encodeJpeg(const Image& image, int quality, const std::string& exif, std::vector<uint8_t>& out);
platform::Status encodePng(const Image& image, const std::string& exif, std::vector<uint8_t>& out);

}  // namespace velkan
