#include "prepare/png_codec.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/image_fixtures.h"
#include "prepare/image_codec.h"
#include "tests/test_support.h"

namespace {

struct PngKind {
  const char* name;
  int colorType;
  int depth;
  int interlace;
  bool transparency;  // a tRNS chunk
};

// Samples of one pixel in the file's own layout, from a position.
// (16-bit samples repeat their byte, so their 8-bit value is that byte.)
uint16_t sampleAt(int x, int y, int channel, int depth) {
  int value = x * 7 + y * 13 + channel * 61;
  if (depth == 16) return static_cast<uint16_t>(value % 256 * 257);
  return static_cast<uint16_t>(value % (1 << depth));
}

// What an RGB picture of 16 bits is in 8 bits: libpng's simplified reader
// would convert it through linear light, which we do not.
std::vector<uint8_t> expectedRgb16(int width, int height) {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) pixels.push_back(static_cast<uint8_t>(sampleAt(x, y, c, 16) / 257));
      pixels.push_back(255);
    }
  }
  return pixels;
}

// Writes a PNG of any kind with libpng itself, so the decoder is checked
// against files it did not make.
void writeKind(const std::string& path, const PngKind& kind, int width, int height) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  ASSERT_EQ(setjmp(png_jmpbuf(png)), 0);
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), kind.depth, kind.colorType,
               kind.interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (kind.colorType == PNG_COLOR_TYPE_PALETTE) {
    std::vector<png_color> palette(static_cast<size_t>(1) << kind.depth);
    for (size_t i = 0; i < palette.size(); ++i) {
      palette[i] = png_color{static_cast<png_byte>(i * 3), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 7)};
    }
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (kind.transparency) {
      std::vector<png_byte> alphas(palette.size());
      for (size_t i = 0; i < alphas.size(); ++i) alphas[i] = static_cast<png_byte>(255 - i * 5);
      png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    }
  } else if (kind.transparency) {
    png_color_16 key{};
    key.gray = sampleAt(0, 0, 0, kind.depth);
    key.red = sampleAt(0, 0, 0, kind.depth);
    key.green = sampleAt(0, 0, 1, kind.depth);
    key.blue = sampleAt(0, 0, 2, kind.depth);
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  int channels = png_get_channels(png, info);
  int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < height; ++y) {
      std::vector<png_byte> row(png_get_rowbytes(png, info), 0);
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) {
          uint16_t v = sampleAt(x, y, c, kind.depth);
          size_t bit = (static_cast<size_t>(x) * channels + c) * kind.depth;
          if (kind.depth == 16) {
            row[bit / 8] = static_cast<png_byte>(v >> 8);
            row[bit / 8 + 1] = static_cast<png_byte>(v);
          } else {
            row[bit / 8] = static_cast<png_byte>(row[bit / 8] | (v << (8 - kind.depth - bit % 8)));
          }
        }
      }
      png_write_row(png, row.data());
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

// libpng's own reading, as RGBA 8 bits: the reference.
std::vector<uint8_t> referenceRgba(const std::string& path, int& width, int& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return pixels;
}

void expectSamePixels(const std::vector<uint8_t>& expected, const velkan::Image& got) {
  ASSERT_EQ(expected.size(), got.rgba.size());
  size_t mismatches = 0;
  for (size_t i = 0; i < expected.size(); ++i) mismatches += expected[i] != got.rgba[i];
  EXPECT_EQ(mismatches, 0u);
}

TEST(PngDecode, EveryKindMatchesLibpng) {
  const PngKind kinds[] = {
      {"grey", PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE, false},
      {"grey with key", PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE, true},
      {"grey alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, PNG_INTERLACE_NONE, false},
      {"rgb", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE, false},
      {"rgb with key", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE, true},
      {"rgba", PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_NONE, false},
      {"palette", PNG_COLOR_TYPE_PALETTE, 8, PNG_INTERLACE_NONE, false},
      {"palette with alpha", PNG_COLOR_TYPE_PALETTE, 8, PNG_INTERLACE_NONE, true},
      // Left to libpng by the fast decoder:
      {"palette of 4 bits", PNG_COLOR_TYPE_PALETTE, 4, PNG_INTERLACE_NONE, false},
      {"grey of 1 bit", PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, false},
      {"interlaced rgb", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_ADAM7, false},
      {"rgb of 16 bits", PNG_COLOR_TYPE_RGB, 16, PNG_INTERLACE_NONE, false},
  };
  testsupport::TempDir dir;
  for (const PngKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    std::string path = dir.path() + "/picture.png";
    writeKind(path, kind, 37, 23);
    int width = 0, height = 0;
    std::vector<uint8_t> expected = referenceRgba(path, width, height);
    ASSERT_FALSE(expected.empty());
    if (kind.depth == 16) expected = expectedRgb16(width, height);
    velkan::Image image;
    platform::Status decoded = velkan::decodeImage(*platform::Env::defaultEnv(), path, image);
    ASSERT_TRUE(decoded.isOk()) << decoded.message();
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    bool alphaInFile = kind.colorType & PNG_COLOR_MASK_ALPHA;
    EXPECT_EQ(image.hasAlpha, alphaInFile || kind.transparency);
    expectSamePixels(expected, image);
  }
}

TEST(PngDecode, OpaquePicturesShrinkWhileDecodingAsTheFullPictureWould) {
  struct Case {
    int minWidth, minHeight, factor;
  } cases[] = {{100, 75, 2}, {60, 40, 3}};
  testsupport::TempDir dir;
  std::string path = dir.path() + "/big.png";
  writeKind(path, {"rgb", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE, false}, 403, 301);
  velkan::Image full;
  ASSERT_TRUE(velkan::decodeImage(*platform::Env::defaultEnv(), path, full).isOk());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.factor);
    ASSERT_EQ(velkan::boxShrinkFactor(403, 301, c.minWidth, c.minHeight), c.factor);
    velkan::Image shrunk, expected;
    ASSERT_TRUE(velkan::decodeImage(*platform::Env::defaultEnv(), path, shrunk, c.minWidth, c.minHeight).isOk());
    velkan::BoxShrinker shrinker(full.width, full.height, c.factor, expected);
    for (int y = 0; y < full.height; ++y) shrinker.addRow(full.rgba.data() + static_cast<size_t>(y) * full.width * 4);
    EXPECT_EQ(shrunk.width, 403 / c.factor);
    EXPECT_EQ(shrunk.height, 301 / c.factor);
    EXPECT_TRUE(shrunk.rgba == expected.rgba);
  }
}

TEST(PngEncode, RoundTripsThroughLibpngWithExif) {
  struct Case {
    const char* name;
    bool alpha;
  } cases[] = {{"opaque", false}, {"with alpha", true}};
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    velkan::Image image = testsupport::patternImage(129, 67);
    for (size_t i = 0; c.alpha && i < image.rgba.size(); i += 4) image.rgba[i + 3] = static_cast<uint8_t>(i % 251);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(velkan::encodePng(image, testsupport::exifBlock("kept"), bytes).isOk());
    std::string path = dir.path() + "/out.png";
    testsupport::writeFile(path, std::string(bytes.begin(), bytes.end()));
    int width = 0, height = 0;
    std::vector<uint8_t> decoded = referenceRgba(path, width, height);
    EXPECT_EQ(width, 129);
    EXPECT_EQ(height, 67);
    expectSamePixels(decoded, image);
    EXPECT_EQ(testsupport::exifDescriptionOf(path), "kept");
  }
}

// Builds a PNG chunk by chunk, each with its right CRC unless told otherwise.
struct PngBuilder {
  std::string bytes = std::string("\x89PNG\r\n\x1a\n", 8);
  void chunk(const char* type, const std::string& data, bool rightCrc = true) {
    uint32_t length = static_cast<uint32_t>(data.size());
    for (int s = 24; s >= 0; s -= 8) bytes += static_cast<char>(length >> s);
    std::string typed = std::string(type, 4) + data;
    uint32_t crc = static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
    if (!rightCrc) crc ^= 1;
    bytes += typed;
    for (int s = 24; s >= 0; s -= 8) bytes += static_cast<char>(crc >> s);
  }
  static std::string header(uint32_t width, uint32_t height, int colorType = 2) {
    std::string h;
    for (uint32_t v : {width, height}) {
      for (int s = 24; s >= 0; s -= 8) h += static_cast<char>(v >> s);
    }
    return h + std::string{8, static_cast<char>(colorType), 0, 0, 0};
  }
  static std::string compressed(const std::string& raw) {
    std::vector<Bytef> out(compressBound(static_cast<uLong>(raw.size())));
    uLongf size = static_cast<uLongf>(out.size());
    compress(out.data(), &size, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), size);
  }
};

TEST(PngDecode, BrokenFilesFailWithAReason) {
  std::string oneRow = std::string(1, '\0') + std::string(6, 'x');  // 2 x 1 RGB
  struct Case {
    const char* name;
    std::function<void(PngBuilder&)> build;
  } cases[] = {
      {"damaged chunk", [&](PngBuilder& b) { b.chunk("IHDR", PngBuilder::header(2, 1), false); }},
      {"second header",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(2, 1));
         b.chunk("IDAT", PngBuilder::compressed(oneRow));
         b.chunk("IHDR", PngBuilder::header(2, 1));
         b.chunk("IEND", "");
       }},
      {"data before the header", [&](PngBuilder& b) { b.chunk("IDAT", PngBuilder::compressed(oneRow)); }},
      {"too many pixels",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(100000, 100000));
         b.chunk("IDAT", PngBuilder::compressed(oneRow));
         b.chunk("IEND", "");
       }},
      {"too little data",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(2, 5));
         b.chunk("IDAT", PngBuilder::compressed(oneRow));
         b.chunk("IEND", "");
       }},
      {"unknown filter",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(2, 1));
         b.chunk("IDAT", PngBuilder::compressed(std::string(1, '\x09') + std::string(6, 'x')));
         b.chunk("IEND", "");
       }},
      {"palette without palette",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(2, 1, 3));
         b.chunk("IDAT", PngBuilder::compressed(std::string(3, '\0')));
         b.chunk("IEND", "");
       }},
      {"no end",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(2, 1));
         b.chunk("IDAT", PngBuilder::compressed(oneRow));
       }},
      {"chunk longer than the file",
       [&](PngBuilder& b) {
         b.chunk("IHDR", PngBuilder::header(2, 1));
         b.bytes += std::string("\x7f\xff\xff\xff" "IDAT", 8);
       }},
  };
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngBuilder builder;
    c.build(builder);
    std::string path = dir.path() + "/broken.png";
    testsupport::writeFile(path, builder.bytes);
    velkan::Image image;
    platform::Status decoded = velkan::decodeImage(*platform::Env::defaultEnv(), path, image);
    EXPECT_FALSE(decoded.isOk());
    EXPECT_FALSE(decoded.message().empty());
  }
  // The same builder makes a file that decodes, so the failures above are the faults themselves.
  PngBuilder good;
  good.chunk("IHDR", PngBuilder::header(2, 1));
  good.chunk("IDAT", PngBuilder::compressed(oneRow));
  good.chunk("IEND", "");
  std::string path = dir.path() + "/good.png";
  testsupport::writeFile(path, good.bytes);
  velkan::Image image;
  EXPECT_TRUE(velkan::decodeImage(*platform::Env::defaultEnv(), path, image).isOk());
  EXPECT_EQ(image.width, 2);
}

}  // namespace
