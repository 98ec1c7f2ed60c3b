// PNG pictures: the fast decoder and encoder for the everyday ones, libpng
// for any other.
#include "prepare/image_formats.h"

#include <png.h>

#include <csetjmp>

#include "prepare/png_codec.h"

namespace velkan {
namespace picture {


constexpr uint64_t kMaxPngFile = uint64_t{1} << 30;

// The everyday PNG on the fast decoder, any other on libpng.
bool decodeWholePng(ImageSource* file, Image& image, std::string& error, int minWidth, int minHeight) {
  PixelBuffer bytes;
  if (!readWholeSource(file, bytes, kMaxPngFile)) {
    error = "PNG: the file is larger than allowed";
    return false;
  }
  switch (decodePngFast(bytes, image, error, minWidth, minHeight)) {
    case PngFastResult::Decoded: return true;
    case PngFastResult::Failed: return false;
    case PngFastResult::Unsupported: break;
  }
  image = Image();
  std::unique_ptr<ImageSource> again = ImageSource::fromMemory(std::move(bytes));
  return decodePng(again.get(), image, error, false);
}

struct PngDecode {
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop endInfo = nullptr;
  ImageSource* file = nullptr;
  Image* image = nullptr;
  bool headerOnly = false;
  std::vector<png_bytep> rows;
  std::string failure;
};

void onPngError(png_structp png, png_const_charp message) {
  auto* d = static_cast<PngDecode*>(png_get_error_ptr(png));
  if (d) d->failure = message;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void readPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<ImageSource*>(png_get_io_ptr(png));
  if (source->read(data, length) != length) png_error(png, "file ends early");
}

void readPngExif(PngDecode* d, png_infop info) {
  png_uint_32 length = 0;
  png_bytep data = nullptr;
  if (d->image->exif.empty() && png_get_eXIf_1(d->png, info, &length, &data) && length > 0) {
    d->image->exif = std::string(kExifHeader, kExifHeaderSize) + std::string(reinterpret_cast<char*>(data), length);
  }
}

bool runPngDecode(PngDecode* d) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  png_set_read_fn(d->png, d->file, readPngBytes);
  png_set_user_limits(d->png, 1000000, 1000000);
  png_set_chunk_cache_max(d->png, 1000);
  png_set_chunk_malloc_max(d->png, 16 * 1024 * 1024);
  png_read_info(d->png, d->info);
  Image& image = *d->image;
  image.width = static_cast<int>(png_get_image_width(d->png, d->info));
  image.height = static_cast<int>(png_get_image_height(d->png, d->info));
  if (d->headerOnly) return true;
  if (!sizeAllowed(static_cast<uint64_t>(image.width), static_cast<uint64_t>(image.height), d->failure)) return false;
  int colorType = png_get_color_type(d->png, d->info);
  image.hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(d->png, d->info, PNG_INFO_tRNS);
  png_set_expand(d->png);
  png_set_scale_16(d->png);  // 16 to 8 bits by rounding, with no gamma conversion
  png_set_gray_to_rgb(d->png);
  png_set_filler(d->png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(d->png);
  png_read_update_info(d->png, d->info);
  if (png_get_rowbytes(d->png, d->info) != static_cast<size_t>(image.width) * 4) {
    d->failure = "unexpected PNG layout";
    return false;
  }
  image.rgba.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4);
  d->rows.resize(static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y) d->rows[static_cast<size_t>(y)] = image.rgba.data() + static_cast<size_t>(y) * image.width * 4;
  png_read_image(d->png, d->rows.data());
  png_read_end(d->png, d->endInfo);
  readPngExif(d, d->info);
  readPngExif(d, d->endInfo);
  return true;
}

bool decodePng(ImageSource* file, Image& image, std::string& error, bool headerOnly) {
  auto d = std::make_unique<PngDecode>();
  d->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, d.get(), onPngError, onPngWarning);
  if (!d->png) {
    error = "PNG: out of memory";
    return false;
  }
  d->info = png_create_info_struct(d->png);
  d->endInfo = png_create_info_struct(d->png);
  d->file = file;
  d->image = &image;
  d->headerOnly = headerOnly;
  bool ok = d->info && d->endInfo && runPngDecode(d.get());
  png_destroy_read_struct(&d->png, &d->info, &d->endInfo);
  if (!ok) error = "PNG: " + (d->failure.empty() ? std::string("cannot read") : d->failure);
  return ok;
}

struct PngEncode {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const Image* image = nullptr;
  const std::string* exif = nullptr;
  std::vector<uint8_t>* out = nullptr;
  std::vector<uint8_t> opaqueRow;
  std::string failure;
};

void onPngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void onPngFlush(png_structp) {}

void onPngWriteError(png_structp png, png_const_charp message) {
  auto* e = static_cast<PngEncode*>(png_get_error_ptr(png));
  if (e) e->failure = message;
  png_longjmp(png, 1);
}

bool runPngEncode(PngEncode* e) {
  if (setjmp(png_jmpbuf(e->png))) return false;
  const Image& image = *e->image;
  bool opaque = true;
  for (size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
  png_set_write_fn(e->png, e->out, onPngWrite, onPngFlush);
  png_set_IHDR(e->png, e->info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (e->exif->size() > kExifHeaderSize && e->exif->size() < (1u << 30)) {
    png_set_eXIf_1(e->png, e->info, static_cast<png_uint_32>(e->exif->size() - kExifHeaderSize),
                   reinterpret_cast<png_bytep>(const_cast<char*>(e->exif->data() + kExifHeaderSize)));
  }
  png_write_info(e->png, e->info);
  if (opaque) png_set_filler(e->png, 0, PNG_FILLER_AFTER);  // drop the fourth byte
  size_t stride = static_cast<size_t>(image.width) * 4;
  for (int y = 0; y < image.height; ++y) {
    png_write_row(e->png, const_cast<png_bytep>(image.rgba.data() + static_cast<size_t>(y) * stride));
  }
  png_write_end(e->png, e->info);
  return true;
}

}  // namespace picture

platform::Status encodePng(const Image& image, const std::string& exif, std::vector<uint8_t>& out) {
  using namespace picture;
  // Level 6 of libdeflate makes output as small as zlib's default, faster.
  if (encodePngFast(image, exif, 6, out)) return platform::Status::ok();
  auto e = std::make_unique<PngEncode>();
  e->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, e.get(), onPngWriteError, onPngWarning);
  if (!e->png) return platform::Status::ioError("PNG: out of memory");
  e->info = png_create_info_struct(e->png);
  e->image = &image;
  e->exif = &exif;
  out.clear();
  e->out = &out;
  bool ok = e->info && runPngEncode(e.get());
  png_destroy_write_struct(&e->png, &e->info);
  return ok ? platform::Status::ok() : platform::Status::invalid("PNG: " + e->failure);
}

}  // namespace velkan
