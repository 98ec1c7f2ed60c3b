// TIFF pictures on libtiff, read whole and served from memory.
#include "prepare/image_formats.h"

#include <tiffio.h>

#include <cstdarg>

namespace velkan {
namespace picture {


void quietTiff(const char*, const char*, va_list) {}

// TIFF seeks all over its file: it is read whole, then served from memory.
struct TiffMemory {
  PixelBuffer bytes;
  uint64_t at = 0;
};

constexpr uint64_t kMaxTiffFile = uint64_t{1} << 30;

tmsize_t readTiff(thandle_t handle, void* out, tmsize_t size) {
  auto* m = static_cast<TiffMemory*>(handle);
  uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), m->bytes.size() - std::min<uint64_t>(m->at, m->bytes.size()));
  if (n > 0) std::memcpy(out, m->bytes.data() + m->at, static_cast<size_t>(n));
  m->at += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t writeTiff(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekTiff(thandle_t handle, toff_t offset, int whence) {
  auto* m = static_cast<TiffMemory*>(handle);
  uint64_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->bytes.size() : 0;
  m->at = base + offset;
  return m->at;
}

int closeTiff(thandle_t) { return 0; }

toff_t sizeTiff(thandle_t handle) { return static_cast<TiffMemory*>(handle)->bytes.size(); }

bool decodeTiff(ImageSource* file, Image& image, std::string& error, bool headerOnly) {
  static bool silenced = [] {
    TIFFSetErrorHandler(quietTiff);
    TIFFSetWarningHandler(quietTiff);
    return true;
  }();
  (void)silenced;
  TiffMemory memory;
  if (!readWholeSource(file, memory.bytes, kMaxTiffFile)) {
    error = "TIFF: the file is larger than allowed";
    return false;
  }
  TIFF* opened = TIFFClientOpen("picture", "rm", &memory, readTiff, writeTiff, seekTiff, closeTiff, sizeTiff, nullptr,
                                nullptr);
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(opened, TIFFClose);
  if (!tif) {
    error = "TIFF: cannot open";
    return false;
  }
  uint32_t width = 0, height = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  if (headerOnly) return width > 0 && height > 0;
  if (!sizeAllowed(width, height, error)) return false;
  // Rows as the file stores them: the orientation tag is not applied.
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
  if (orientation != ORIENTATION_BOTLEFT) orientation = ORIENTATION_TOPLEFT;
  std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), orientation, 0)) {
    error = "TIFF: cannot decode";
    return false;
  }
  image.rgba.resize(raster.size() * 4);
  for (size_t i = 0; i < raster.size(); ++i) {
    uint32_t p = raster[i];
    uint32_t a = TIFFGetA(p);
    // The RGBA interface hands out premultiplied colour: undo it.
    auto channel = [a](uint32_t c) { return static_cast<uint8_t>(a == 0 ? 0 : a == 255 ? c : std::min<uint32_t>(255, (c * 255 + a / 2) / a)); };
    image.rgba[4 * i] = channel(TIFFGetR(p));
    image.rgba[4 * i + 1] = channel(TIFFGetG(p));
    image.rgba[4 * i + 2] = channel(TIFFGetB(p));
    image.rgba[4 * i + 3] = static_cast<uint8_t>(a);
    if (a != 255) image.hasAlpha = true;
  }
  return true;
}

}  // namespace picture

}  // namespace velkan
