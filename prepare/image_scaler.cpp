// Scaling of pictures: a box average for large reductions, then the
// bicubic filter of stb_image_resize.
#include "prepare/image_codec.h"

#include <stb_image_resize.h>

#include <algorithm>

namespace velkan {

namespace {

Image boxShrink(const Image& source, int factor) {
  Image out;
  out.hasAlpha = source.hasAlpha;
  BoxShrinker shrinker(source.width, source.height, factor, out);
  for (int y = 0; y < source.height; ++y) shrinker.addRow(source.rgba.data() + static_cast<size_t>(y) * source.width * 4);
  return out;
}

}  // namespace

BoxShrinker::BoxShrinker(int sourceWidth, int sourceHeight, int factor, Image& out)
    : out_(out), factor_(factor), area_(static_cast<uint32_t>(factor * factor)) {
  out_.width = sourceWidth / factor;
  out_.height = sourceHeight / factor;
  out_.rgba.resize(static_cast<size_t>(out_.width) * out_.height * 4);
  sums_.assign(static_cast<size_t>(out_.width) * 3, 0);
}

namespace {

// Adds each block's colours of one row to its sums; the factor and the
// pixel step known at compile time where they are the common ones.
template <int kFactor, int kStep>
void sumBlocks(const uint8_t* row, int blocks, int factor, uint32_t* sums) {
  const int f = kFactor > 0 ? kFactor : factor;
  for (int x = 0; x < blocks; ++x, sums += 3) {
    const uint8_t* p = row + static_cast<size_t>(x) * f * kStep;
    uint32_t r = 0, g = 0, b = 0;
    for (int dx = 0; dx < f; ++dx, p += kStep) {
      r += p[0];
      g += p[1];
      b += p[2];
    }
    sums[0] += r;
    sums[1] += g;
    sums[2] += b;
  }
}

}  // namespace

void BoxShrinker::addRow(const uint8_t* row, int channels) {
  int y = row_ / factor_;
  ++row_;
  if (y >= out_.height) return;  // below the last whole block
  if (channels == 3) {
    factor_ == 2 ? sumBlocks<2, 3>(row, out_.width, 2, sums_.data()) : sumBlocks<0, 3>(row, out_.width, factor_, sums_.data());
  } else {
    factor_ == 2 ? sumBlocks<2, 4>(row, out_.width, 2, sums_.data()) : sumBlocks<0, 4>(row, out_.width, factor_, sums_.data());
  }
  if (row_ % factor_ != 0) return;
  uint8_t* target = out_.rgba.data() + static_cast<size_t>(y) * out_.width * 4;
  for (size_t x = 0; x < static_cast<size_t>(out_.width); ++x) {
    for (size_t c = 0; c < 3; ++c) target[4 * x + c] = static_cast<uint8_t>((sums_[3 * x + c] + area_ / 2) / area_);
    target[4 * x + 3] = 255;
  }
  std::fill(sums_.begin(), sums_.end(), 0);
}

int boxShrinkFactor(int sourceWidth, int sourceHeight, int width, int height) {
  if (width <= 0 || height <= 0) return 1;
  int factor = std::min(sourceWidth / width, sourceHeight / height) / 2;
  return factor >= 2 ? factor : 1;
}

bool resizeImage(const Image& original, int width, int height, Image& result) {
  if (width <= 0 || height <= 0) return false;
  int factor = boxShrinkFactor(original.width, original.height, width, height);
  Image shrunk;
  if (factor >= 2 && !original.hasAlpha) shrunk = boxShrink(original, factor);
  const Image& source = shrunk.width > 0 ? shrunk : original;
  result = Image();
  result.width = width;
  result.height = height;
  result.hasAlpha = source.hasAlpha;
  result.exif = original.exif;
  result.rgba.resize(static_cast<size_t>(width) * height * 4);
  int flags = source.hasAlpha ? 0 : STBIR_FLAG_ALPHA_PREMULTIPLIED;
  return stbir_resize_uint8_generic(source.rgba.data(), source.width, source.height, source.width * 4,
                                    result.rgba.data(), width, height, width * 4, 4, 3, flags, STBIR_EDGE_CLAMP,
                                    STBIR_FILTER_CATMULLROM, STBIR_COLORSPACE_LINEAR, nullptr) == 1;
}

}  // namespace velkan
