#include "prepare/image_codec.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <stb_image.h>
#include <stb_image_resize.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/env.h"
#include "platform/path.h"
#include "prepare/png_codec.h"

namespace velkan {
namespace {

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

  static std::unique_ptr<ImageSource> open(const std::string& path) {
    std::unique_ptr<platform::ReadableFile> file;
    platform::env()->openReadable(platform::hostPath(path), &file);
    if (!file) return nullptr;
    auto source = std::unique_ptr<ImageSource>(new ImageSource(std::move(file)));
    platform::FileInfo info;
    if (platform::env()->getFileInfo(platform::hostPath(path), &info)) source->sizeHint_ = info.size;
    return source;
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

bool sizeAllowed(uint64_t width, uint64_t height, std::string& error) {
  if (width == 0 || height == 0) {
    error = "the picture has no pixels";
    return false;
  }
  if (width * height > kMaxImagePixels) {
    error = "the picture has " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than allowed";
    return false;
  }
  return true;
}

const char kExifHeader[] = "Exif\0\0";
constexpr size_t kExifHeaderSize = 6;

// ---- JPEG ----------------------------------------------------------------

// libjpeg reports errors by calling error_exit, which must not return: we
// jump back to the setjmp of the call in progress. The state it works on
// lives behind a pointer, so nothing on the jumping frame is left
// indeterminate.
struct JpegError {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  info->err->format_message(info, error->message);
  std::longjmp(error->jump, 1);
}

void onJpegMessage(j_common_ptr, int) {}  // warnings stay quiet

// libjpeg's source manager on an ImageSource; a file that ends early gets
// an end-of-image marker, so the decoder reports a short picture.
struct JpegSource {
  jpeg_source_mgr manager;
  ImageSource* source;
};

const JOCTET kJpegEnd[2] = {0xFF, JPEG_EOI};

boolean fillJpegInput(j_decompress_ptr info) {
  auto* s = reinterpret_cast<JpegSource*>(info->src);
  const uint8_t* data = nullptr;
  size_t length = 0;
  if (!s->source->next(data, length)) {
    data = kJpegEnd;
    length = sizeof kJpegEnd;
  }
  info->src->next_input_byte = data;
  info->src->bytes_in_buffer = length;
  return TRUE;
}

void skipJpegInput(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  size_t n = static_cast<size_t>(count);
  if (n <= info->src->bytes_in_buffer) {
    info->src->next_input_byte += n;
    info->src->bytes_in_buffer -= n;
    return;
  }
  n -= info->src->bytes_in_buffer;
  info->src->bytes_in_buffer = 0;
  reinterpret_cast<JpegSource*>(info->src)->source->skip(n);
}

void noJpegAction(j_decompress_ptr) {}

struct JpegDecode {
  jpeg_decompress_struct info;
  JpegError error;
  JpegSource source;
  ImageSource* file = nullptr;
  Image* image = nullptr;
  int minWidth = 0, minHeight = 0;
  bool headerOnly = false;
  std::vector<uint8_t> row;
  std::string failure;
};

void cmykToRgba(const uint8_t* cmyk, uint8_t* rgba, int width, bool inverted) {
  for (int x = 0; x < width; ++x) {
    int c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    rgba[4 * x] = static_cast<uint8_t>(c * k / 255);
    rgba[4 * x + 1] = static_cast<uint8_t>(m * k / 255);
    rgba[4 * x + 2] = static_cast<uint8_t>(y * k / 255);
    rgba[4 * x + 3] = 255;
  }
}

void readExifMarker(jpeg_decompress_struct& info, Image& image) {
  for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length > kExifHeaderSize &&
        std::memcmp(m->data, kExifHeader, kExifHeaderSize) == 0) {
      image.exif.assign(reinterpret_cast<const char*>(m->data), m->data_length);
      return;
    }
  }
}

bool runJpegDecode(JpegDecode* d) {
  if (setjmp(d->error.jump)) {
    d->failure = d->error.message;
    return false;
  }
  jpeg_create_decompress(&d->info);
  d->source.source = d->file;
  d->source.manager.init_source = noJpegAction;
  d->source.manager.fill_input_buffer = fillJpegInput;
  d->source.manager.skip_input_data = skipJpegInput;
  d->source.manager.resync_to_restart = jpeg_resync_to_restart;
  d->source.manager.term_source = noJpegAction;
  d->source.manager.next_input_byte = nullptr;
  d->source.manager.bytes_in_buffer = 0;
  d->info.src = &d->source.manager;
  jpeg_save_markers(&d->info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&d->info, TRUE);
  d->image->width = static_cast<int>(d->info.image_width);
  d->image->height = static_cast<int>(d->info.image_height);
  if (d->headerOnly) return true;
  if (!sizeAllowed(d->info.image_width, d->info.image_height, d->failure)) return false;
  readExifMarker(d->info, *d->image);
  // Decode smaller when the result is to be smaller anyway: cheap and sharp.
  for (unsigned denominator : {8u, 4u, 2u}) {
    unsigned w = (d->info.image_width + denominator - 1) / denominator;
    unsigned h = (d->info.image_height + denominator - 1) / denominator;
    if (d->minWidth > 0 && d->minHeight > 0 && w >= static_cast<unsigned>(d->minWidth) &&
        h >= static_cast<unsigned>(d->minHeight)) {
      d->info.scale_num = 1;
      d->info.scale_denom = denominator;
      break;
    }
  }
  bool cmyk = d->info.jpeg_color_space == JCS_CMYK || d->info.jpeg_color_space == JCS_YCCK;
  d->info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  d->info.mem->max_memory_to_use = 512L * 1024 * 1024;
  jpeg_start_decompress(&d->info);
  Image& image = *d->image;
  image.width = static_cast<int>(d->info.output_width);
  image.height = static_cast<int>(d->info.output_height);
  image.rgba.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4);
  d->row.resize(static_cast<size_t>(image.width) * 4);
  while (d->info.output_scanline < d->info.output_height) {
    size_t y = d->info.output_scanline;
    uint8_t* target = image.rgba.data() + y * static_cast<size_t>(image.width) * 4;
    JSAMPROW rowPointer = cmyk ? d->row.data() : target;
    jpeg_read_scanlines(&d->info, &rowPointer, 1);
    if (cmyk) cmykToRgba(d->row.data(), target, image.width, d->info.saw_Adobe_marker);
  }
  jpeg_finish_decompress(&d->info);
  return true;
}

bool decodeJpeg(ImageSource* file, Image& image, std::string& error, int minWidth, int minHeight, bool headerOnly) {
  auto d = std::make_unique<JpegDecode>();
  d->info.err = jpeg_std_error(&d->error.manager);
  d->error.manager.error_exit = onJpegError;
  d->error.manager.emit_message = onJpegMessage;
  d->file = file;
  d->image = &image;
  d->minWidth = minWidth;
  d->minHeight = minHeight;
  d->headerOnly = headerOnly;
  bool ok = runJpegDecode(d.get());
  jpeg_destroy_decompress(&d->info);
  if (!ok) error = "JPEG: " + d->failure;
  return ok;
}

struct JpegEncode {
  jpeg_compress_struct info;
  JpegError error;
  const Image* image = nullptr;
  int quality = 80;
  const std::string* exif = nullptr;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::string failure;
};

bool runJpegEncode(JpegEncode* e) {
  if (setjmp(e->error.jump)) {
    e->failure = e->error.message;
    return false;
  }
  jpeg_create_compress(&e->info);
  jpeg_mem_dest(&e->info, &e->buffer, &e->size);
  e->info.image_width = static_cast<JDIMENSION>(e->image->width);
  e->info.image_height = static_cast<JDIMENSION>(e->image->height);
  e->info.input_components = 4;
  e->info.in_color_space = JCS_EXT_RGBX;
  jpeg_set_defaults(&e->info);
  jpeg_set_quality(&e->info, e->quality < 0 ? 0 : e->quality > 100 ? 100 : e->quality, TRUE);
  bool withExif = !e->exif->empty() && e->exif->size() <= 65533;
  // EXIF must be the first segment after the start of image: no JFIF before it.
  if (withExif) e->info.write_JFIF_header = FALSE;
  jpeg_start_compress(&e->info, TRUE);
  if (withExif) {
    jpeg_write_marker(&e->info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(e->exif->data()),
                      static_cast<unsigned>(e->exif->size()));
  }
  size_t stride = static_cast<size_t>(e->image->width) * 4;
  while (e->info.next_scanline < e->info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(e->image->rgba.data() + e->info.next_scanline * stride);
    jpeg_write_scanlines(&e->info, &row, 1);
  }
  jpeg_finish_compress(&e->info);
  return true;
}

// ---- PNG -----------------------------------------------------------------

bool decodePng(ImageSource* file, Image& image, std::string& error, bool headerOnly);
bool readWholeSource(ImageSource* file, PixelBuffer& out, uint64_t limit);

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

// ---- GIF: the first frame only, read frame by frame -------------------------

int readGifBytes(GifFileType* gif, GifByteType* into, int length) {
  if (length <= 0) return 0;
  return static_cast<int>(static_cast<ImageSource*>(gif->UserData)->read(into, static_cast<size_t>(length)));
}

bool decodeGif(ImageSource* file, Image& image, std::string& error, bool headerOnly) {
  int status = 0;
  GifFileType* gif = file ? DGifOpen(file, readGifBytes, &status) : nullptr;
  if (!file) status = D_GIF_ERR_OPEN_FAILED;
  if (!gif) {
    const char* reason = GifErrorString(status);  // null for codes it does not know
    error = std::string("GIF: ") + (reason ? reason : "cannot open");
    return false;
  }
  std::unique_ptr<GifFileType, void (*)(GifFileType*)> closer(gif, [](GifFileType* g) {
    int ignored = 0;
    DGifCloseFile(g, &ignored);
  });
  image.width = gif->SWidth;
  image.height = gif->SHeight;
  if (headerOnly) return image.width > 0 && image.height > 0;
  if (!sizeAllowed(static_cast<uint64_t>(gif->SWidth), static_cast<uint64_t>(gif->SHeight), error)) return false;
  image.rgba.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4, 0);
  image.hasAlpha = true;
  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) break;
    if (record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* extension = nullptr;
      if (DGifGetExtension(gif, &code, &extension) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] >= 4 && (extension[1] & 1)) transparent = extension[4];
      while (extension) {
        if (DGifGetExtensionNext(gif, &extension) == GIF_ERROR) {
          error = "GIF: broken extension";
          return false;
        }
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) break;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colors || frame.Width <= 0 || frame.Height <= 0 || static_cast<uint64_t>(frame.Width) > kMaxImagePixels) {
      error = "GIF: frame without colours or size";
      return false;
    }
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      for (int y = frame.Interlace ? kStart[pass] : 0; y < frame.Height; y += frame.Interlace ? kStep[pass] : 1) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
          error = "GIF: truncated frame";
          return false;
        }
        int canvasY = frame.Top + y;
        if (canvasY < 0 || canvasY >= image.height) continue;
        for (int x = 0; x < frame.Width; ++x) {
          int canvasX = frame.Left + x;
          int index = line[static_cast<size_t>(x)];
          if (canvasX < 0 || canvasX >= image.width || index == transparent || index >= colors->ColorCount) continue;
          uint8_t* p = image.rgba.data() + (static_cast<size_t>(canvasY) * image.width + canvasX) * 4;
          p[0] = colors->Colors[index].Red;
          p[1] = colors->Colors[index].Green;
          p[2] = colors->Colors[index].Blue;
          p[3] = 255;
        }
      }
    }
    return true;  // the first frame is the picture
  }
  error = "GIF: no frame";
  return false;
}

// ---- TIFF ----------------------------------------------------------------

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

// Reads the rest of the file straight into `out`, in growing steps.
bool readWholeSource(ImageSource* file, PixelBuffer& out, uint64_t limit) {
  // One read of the expected size (and one byte more to see the end), then
  // growing steps for a file that grew meanwhile.
  size_t step = file->sizeHint() > 0 && file->sizeHint() < limit ? static_cast<size_t>(file->sizeHint()) + 1 : 1 << 20;
  out.reserve(step);
  for (;;) {
    size_t used = out.size();
    out.resize(used + step);
    size_t got = file->read(out.data() + used, step);
    out.resize(used + got);
    if (got < step) return true;
    if (out.size() > limit) return false;
    step = std::min<size_t>(out.size(), 64u << 20);
  }
}

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

// ---- BMP -----------------------------------------------------------------

int readStb(void* user, char* out, int size) {
  return size <= 0 ? 0 : static_cast<int>(static_cast<ImageSource*>(user)->read(out, static_cast<size_t>(size)));
}

void skipStb(void* user, int count) {
  if (count > 0) static_cast<ImageSource*>(user)->skip(static_cast<size_t>(count));
}

int endOfStb(void* user) { return static_cast<ImageSource*>(user)->atEnd() ? 1 : 0; }

const stbi_io_callbacks kStbCallbacks = {readStb, skipStb, endOfStb};

// stb reads the header again for the pixels: the file is opened twice.
bool decodeBmp(const std::string& path, ImageSource* file, Image& image, std::string& error, bool headerOnly) {
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_callbacks(&kStbCallbacks, file, &width, &height, &channels)) {
    error = std::string("BMP: ") + stbi_failure_reason();
    return false;
  }
  image.width = width;
  image.height = height;
  if (headerOnly) return true;
  if (!sizeAllowed(static_cast<uint64_t>(width), static_cast<uint64_t>(height), error)) return false;
  std::unique_ptr<ImageSource> again = ImageSource::open(path);
  if (!again) {
    error = "BMP: cannot open";
    return false;
  }
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_callbacks(&kStbCallbacks, again.get(), &width, &height, &channels, 4), stbi_image_free);
  if (!pixels) {
    error = std::string("BMP: ") + stbi_failure_reason();
    return false;
  }
  image.rgba.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * 4);
  image.hasAlpha = channels == 4;
  return true;
}

ImageFormat formatOf(const uint8_t* magic, size_t length) {
  if (length < 4) return ImageFormat::Unknown;
  if (magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return ImageFormat::Jpeg;
  if (length >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) return ImageFormat::Png;
  if (length >= 6 && (std::memcmp(magic, "GIF87a", 6) == 0 || std::memcmp(magic, "GIF89a", 6) == 0)) {
    return ImageFormat::Gif;
  }
  if (magic[0] == 'B' && magic[1] == 'M') return ImageFormat::Bmp;
  if (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0) return ImageFormat::Tiff;
  return ImageFormat::Unknown;
}

bool decode(const std::string& path, Image& image, std::string& error, int minWidth, int minHeight, bool headerOnly) {
  image = Image();
  std::unique_ptr<ImageSource> file = ImageSource::open(path);
  if (!file) {
    error = "cannot open";
    return false;
  }
  uint8_t magic[8] = {};
  switch (formatOf(magic, file->peek(magic, sizeof magic))) {
    case ImageFormat::Jpeg: return decodeJpeg(file.get(), image, error, minWidth, minHeight, headerOnly);
    case ImageFormat::Png:
      return headerOnly ? decodePng(file.get(), image, error, true)
                        : decodeWholePng(file.get(), image, error, minWidth, minHeight);
    case ImageFormat::Gif: return decodeGif(file.get(), image, error, headerOnly);
    case ImageFormat::Tiff: return decodeTiff(file.get(), image, error, headerOnly);
    case ImageFormat::Bmp: return decodeBmp(path, file.get(), image, error, headerOnly);
    case ImageFormat::Unknown: break;
  }
  error = "not a picture this program can read";
  return false;
}

}  // namespace

ImageFormat sniffImageFormat(const std::string& path) {
  std::unique_ptr<ImageSource> file = ImageSource::open(path);
  uint8_t magic[8] = {};
  return file ? formatOf(magic, file->peek(magic, sizeof magic)) : ImageFormat::Unknown;
}

bool readImageSize(const std::string& path, int& width, int& height) {
  Image header;
  std::string error;
  width = height = 0;
  if (!decode(path, header, error, 0, 0, true)) return false;
  width = header.width;
  height = header.height;
  return width > 0 && height > 0;
}

platform::Status decodeImage(const std::string& path, Image& image, int minWidth, int minHeight) {
  std::string error;
  if (decode(path, image, error, minWidth, minHeight, false)) return platform::Status::ok();
  return platform::Status::invalid(error);
}

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

platform::Status encodeJpeg(const Image& image, int quality, const std::string& exif, std::vector<uint8_t>& out) {
  auto e = std::make_unique<JpegEncode>();
  e->info.err = jpeg_std_error(&e->error.manager);
  e->error.manager.error_exit = onJpegError;
  e->error.manager.emit_message = onJpegMessage;
  e->image = &image;
  e->quality = quality;
  e->exif = &exif;
  bool ok = runJpegEncode(e.get());
  if (ok) out.assign(e->buffer, e->buffer + e->size);
  jpeg_destroy_compress(&e->info);
  std::free(e->buffer);
  return ok ? platform::Status::ok() : platform::Status::invalid("JPEG: " + e->failure);
}

platform::Status encodePng(const Image& image, const std::string& exif, std::vector<uint8_t>& out) {
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
