#include "tests/image_fixtures.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <tiffio.h>

#include "tests/test_support.h"

namespace testsupport {

velkan::Image patternImage(int width, int height) {
  velkan::Image image;
  image.width = width;
  image.height = height;
  image.rgba.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = image.rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
      p[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      p[1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
      p[2] = static_cast<uint8_t>((x + y) & 0xFF);
      p[3] = 255;
    }
  }
  return image;
}

std::string exifBlock(const std::string& description) {
  // Little-endian TIFF with one IFD: ImageDescription (ASCII) and Orientation.
  std::string text = description + '\0';
  std::string tiff = "II*";
  tiff += '\0';
  auto u16 = [&](uint16_t v) {
    tiff += static_cast<char>(v & 0xFF);
    tiff += static_cast<char>(v >> 8);
  };
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) tiff += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  u32(8);       // first IFD
  u16(2);       // entries
  u16(0x010E);  // ImageDescription
  u16(2);       // ASCII
  u32(static_cast<uint32_t>(text.size()));
  u32(8 + 2 + 2 * 12 + 4);  // value offset, after the IFD
  u16(0x0112);              // Orientation
  u16(3);                   // SHORT
  u32(1);
  u32(1);
  u32(0);  // no next IFD
  tiff += text;
  return std::string("Exif\0\0", 6) + tiff;
}

void writeJpeg(const std::string& path, int width, int height, const std::string& exif) {
  std::vector<uint8_t> bytes;
  platform::Status encoded = velkan::encodeJpeg(patternImage(width, height), 90, exif, bytes);
  ASSERT_TRUE(encoded.isOk()) << encoded.message();
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

void writePng(const std::string& path, int width, int height, const std::string& exif, bool alpha) {
  velkan::Image image = patternImage(width, height);
  if (alpha) {
    for (size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = static_cast<uint8_t>(i / 4 % 256);
    image.hasAlpha = true;
  }
  std::vector<uint8_t> bytes;
  platform::Status encoded = velkan::encodePng(image, exif, bytes);
  ASSERT_TRUE(encoded.isOk()) << encoded.message();
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

void writeGif(const std::string& path, int width, int height) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  ASSERT_NE(gif, nullptr);
  GifColorType colors[256];
  for (int i = 0; i < 256; ++i) colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), 128};
  ColorMapObject* map = GifMakeMapObject(256, colors);
  EGifPutScreenDesc(gif, width, height, 8, 0, map);
  EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
  std::vector<GifPixelType> line(static_cast<size_t>(width));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) line[static_cast<size_t>(x)] = static_cast<GifPixelType>((x + y) & 0xFF);
    EGifPutLine(gif, line.data(), width);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
}

void writeBmp(const std::string& path, int width, int height) {
  velkan::Image image = patternImage(width, height);
  ASSERT_TRUE(stbi_write_bmp(path.c_str(), width, height, 4, image.rgba.data()));
}

void writeTiff(const std::string& path, int width, int height) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
  velkan::Image image = patternImage(width, height);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) row[static_cast<size_t>(x) * 3 + c] = image.rgba[(static_cast<size_t>(y) * width + x) * 4 + c];
    }
    TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(tif);
}

std::string exifDescriptionOf(const std::string& path) {
  velkan::Image image;
  if (!velkan::decodeImage(*platform::Env::defaultEnv(), path, image) || image.exif.size() < 6 + 8 + 2) return "";
  size_t start = image.exif.rfind(std::string("II*\0", 4));
  if (start == std::string::npos) return "";
  std::string tiff = image.exif.substr(start);
  size_t valueOffset = static_cast<unsigned char>(tiff[8 + 2 + 8]) | static_cast<unsigned char>(tiff[8 + 2 + 9]) << 8;
  size_t end = tiff.find('\0', valueOffset);
  return valueOffset < tiff.size() && end != std::string::npos ? tiff.substr(valueOffset, end - valueOffset) : "";
}

}  // namespace testsupport
