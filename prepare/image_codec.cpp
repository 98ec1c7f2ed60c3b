#include "prepare/image_codec.h"

#include "prepare/image_formats.h"

namespace velkan {
namespace picture {

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

namespace {

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

bool decode(platform::Env& env, const std::string& path, Image& image, std::string& error, int minWidth, int minHeight,
            bool headerOnly) {
  image = Image();
  std::unique_ptr<ImageSource> file = ImageSource::open(env, path);
  if (!file) {
    error = "cannot open";
    return false;
  }
  uint8_t magic[8] = {};
  switch (picture::formatOf(magic, file->peek(magic, sizeof magic))) {
    case ImageFormat::Jpeg: return decodeJpeg(file.get(), image, error, minWidth, minHeight, headerOnly);
    case ImageFormat::Png:
      return headerOnly ? decodePng(file.get(), image, error, true)
                        : decodeWholePng(file.get(), image, error, minWidth, minHeight);
    case ImageFormat::Gif: return decodeGif(file.get(), image, error, headerOnly);
    case ImageFormat::Tiff: return decodeTiff(file.get(), image, error, headerOnly);
    case ImageFormat::Bmp: return decodeBmp(file.get(), image, error, headerOnly);
    case ImageFormat::Unknown: break;
  }
  error = "not a picture this program can read";
  return false;
}

}  // namespace
}  // namespace picture

using picture::ImageSource;

ImageFormat sniffImageFormat(platform::Env& env, const std::string& path) {
  std::unique_ptr<ImageSource> file = ImageSource::open(env, path);
  uint8_t magic[8] = {};
  return file ? picture::formatOf(magic, file->peek(magic, sizeof magic)) : ImageFormat::Unknown;
}

bool readImageSize(platform::Env& env, const std::string& path, int& width, int& height) {
  Image header;
  std::string error;
  width = height = 0;
  if (!picture::decode(env, path, header, error, 0, 0, true)) return false;
  width = header.width;
  height = header.height;
  return width > 0 && height > 0;
}

platform::Status decodeImage(platform::Env& env, const std::string& path, Image& image, int minWidth, int minHeight) {
  std::string error;
  if (picture::decode(env, path, image, error, minWidth, minHeight, false)) return platform::Status::ok();
  return platform::Status::invalid(error);
}

}  // namespace velkan
