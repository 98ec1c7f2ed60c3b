// JPEG pictures on libjpeg(-turbo): decoding (scaled down by the decoder where
// that is enough) and encoding.
#include "prepare/image_formats.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

namespace velkan {
namespace picture {


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

}  // namespace picture

platform::Status encodeJpeg(const Image& image, int quality, const std::string& exif, std::vector<uint8_t>& out) {
  using namespace picture;
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

}  // namespace velkan
