#include "prepare/image_transcoder.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "prepare/image_codec.h"
#include "tests/image_fixtures.h"
#include "tests/logging_fixture.h"
#include "tests/test_support.h"

namespace {

using namespace velkan;

class Transcoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(startImageCodecs(nullptr), 0); }
  std::string path(const std::string& name) const { return dir_.file(name); }
  // Transcodes with the default bounds; returns the MIME type and leaves the output in `out.bin`.
  std::string transform(const std::string& name, TranscodeParameters parameters = {1024, 768, 80}) {
    std::vector<uint8_t> buffer;
    std::string type = transformImage(path(name), buffer, parameters, nullptr);
    testsupport::writeFile(path("out.bin"), std::string(buffer.begin(), buffer.end()));
    return type;
  }
  void expectOutput(ImageFormat format, int width, int height) {
    EXPECT_EQ(sniffImageFormat(*platform::Env::defaultEnv(), path("out.bin")), format);
    int w = 0, h = 0;
    EXPECT_TRUE(readImageSize(*platform::Env::defaultEnv(), path("out.bin"), w, h));
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
  }
  testsupport::TempDir dir_;
};

class EncoderTable : public testsupport::LoggingTest {};

// The table is built as the platform's encoders are looked for, each said
// in the log, in this order; a picture that cannot be read says why, with
// the save's failure line.
TEST_F(EncoderTable, EveryEncoderIsToldAndAnUnreadablePictureToo) {
  ASSERT_EQ(startImageCodecs(&log()), 0);
  std::string text = logText();
  size_t at = 0;
  for (const char* name : {"bmp", "jpeg", "png", "gif", "tiff"}) {
    at = text.find(std::string("Located ") + name + " encoder", at);
    EXPECT_NE(at, std::string::npos) << name << " in order:\n" << text;
  }
  testsupport::writeFile(dir_.file("broken.jpg"), "\xFF\xD8 not really a picture");
  std::vector<uint8_t> buffer;
  EXPECT_EQ(transformImage(dir_.file("broken.jpg"), buffer, TranscodeParameters{10, 10, 80}, &log()),
            "application/octet-stream");
  text = logText();
  EXPECT_NE(text.find("Error writing image to stream: -1."), std::string::npos) << text;
  EXPECT_NE(text.find("Image transformation for : " + dir_.file("broken.jpg") + " failed."), std::string::npos);
}

TEST(ScalingRule, DefaultBounds) {
  struct Case {
    uint32_t w, h, nw, nh;
  } cases[] = {{4000, 3000, 768, 576}, {3000, 4000, 768, 1024}, {2000, 500, 768, 192}, {1000, 1100, 768, 845},
               {500, 2000, 256, 1024}, {800, 1000, 768, 960},   {1000, 800, 768, 614}};
  for (const Case& c : cases) {
    uint32_t nw = 0, nh = 0;
    scaledSize(c.w, c.h, 768, 1024, nw, nh);
    EXPECT_EQ(nw, c.nw) << c.w << "x" << c.h;
    EXPECT_EQ(nh, c.nh) << c.w << "x" << c.h;
  }
}

TEST_F(Transcoder, OutputFormatsSizesAndProperties) {
  std::string exif = testsupport::exifBlock("holiday at the sea");
  testsupport::writeJpeg(path("big.jpg"), 2000, 1500, exif);
  testsupport::writePng(path("big.png"), 1000, 1100, exif, true);
  testsupport::writeGif(path("small.gif"), 300, 200);
  testsupport::writeBmp(path("big.bmp"), 1600, 900);
  testsupport::writeTiff(path("big.tif"), 900, 1600);
  testsupport::writeJpeg(path("edge.jpg"), 768, 1024, exif);

  EXPECT_EQ(transform("big.jpg"), "image/jpeg");
  expectOutput(ImageFormat::Jpeg, 768, 576);
  EXPECT_EQ(testsupport::exifDescriptionOf(path("out.bin")), "holiday at the sea");
  std::string bytes = testsupport::readFile(path("out.bin"));
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xD8\xFF\xE1", 4)) << "EXIF right after the start of image";

  EXPECT_EQ(transform("big.png"), "image/png");
  expectOutput(ImageFormat::Png, 768, 845);
  EXPECT_EQ(testsupport::exifDescriptionOf(path("out.bin")), "holiday at the sea");

  EXPECT_EQ(transform("small.gif"), "image/png");
  expectOutput(ImageFormat::Png, 300, 200);
  EXPECT_EQ(transform("big.bmp"), "image/png");
  expectOutput(ImageFormat::Png, 768, 432);
  EXPECT_EQ(testsupport::exifDescriptionOf(path("out.bin")), "");
  EXPECT_EQ(transform("big.tif"), "image/png");
  expectOutput(ImageFormat::Png, 576, 1024);

  EXPECT_EQ(transform("edge.jpg"), "image/jpeg");  // at both limits: re-encoded, not scaled
  expectOutput(ImageFormat::Jpeg, 768, 1024);
  EXPECT_EQ(testsupport::exifDescriptionOf(path("out.bin")), "holiday at the sea");
  EXPECT_EQ(transform("big.jpg", TranscodeParameters{0, 768, 80}), "image/jpeg");  // a zero bound: no scaling
  expectOutput(ImageFormat::Jpeg, 2000, 1500);
}

TEST_F(Transcoder, PixelsSurviveTheRoundTrip) {
  testsupport::writePng(path("p.png"), 64, 48);
  ASSERT_EQ(transform("p.png"), "image/png");
  Image original = testsupport::patternImage(64, 48), decoded;
  platform::Status read = decodeImage(*platform::Env::defaultEnv(), path("out.bin"), decoded);
  ASSERT_TRUE(read.isOk()) << read.message();
  EXPECT_EQ(decoded.rgba, original.rgba);
}

TEST_F(Transcoder, HostilePicturesFailCleanlyAndQuickly) {
  // A PNG whose header claims 100,000 x 100,000 pixels.
  std::string png = testsupport::readFile((testsupport::writePng(path("seed.png"), 8, 8), path("seed.png")));
  std::string huge = png;
  for (int i = 0; i < 2; ++i) {
    uint32_t v = 100000;
    for (int b = 0; b < 4; ++b) huge[16 + 4 * i + b] = static_cast<char>((v >> (24 - 8 * b)) & 0xFF);
  }
  testsupport::writeFile(path("huge.png"), huge);
  // A JPEG whose frame header claims 65,000 x 65,000 pixels.
  testsupport::writeJpeg(path("seed.jpg"), 16, 16);
  std::string jpeg = testsupport::readFile(path("seed.jpg"));
  size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  jpeg[sof + 5] = jpeg[sof + 7] = static_cast<char>(0xFD);
  jpeg[sof + 6] = jpeg[sof + 8] = static_cast<char>(0xE8);
  testsupport::writeFile(path("huge.jpg"), jpeg);
  testsupport::writeJpeg(path("whole.jpg"), 1200, 900);
  std::string whole = testsupport::readFile(path("whole.jpg"));
  testsupport::writeFile(path("truncated.jpg"), whole.substr(0, whole.size() / 3));
  testsupport::writeFile(path("empty.png"), "");
  testsupport::writeFile(path("text.jpg"), "this is not a picture at all");
  testsupport::writeFile(path("gif.bmp"), "GIF89a\x10\x00\x10\x00");
  testsupport::writeFile(path("rle.bmp"), std::string("BM\x00\x00\x00\x00", 6) + std::string(100, '\x01'));
  uint64_t start = platform::tickCountMs();
  for (const char* name : {"huge.png", "huge.jpg", "empty.png", "text.jpg", "gif.bmp", "rle.bmp"}) {
    EXPECT_EQ(transform(name), "application/octet-stream") << name;
  }
  // A truncated JPEG decodes what is there (grey below); it must not crash.
  std::string truncated = transform("truncated.jpg");
  EXPECT_TRUE(truncated == "image/jpeg" || truncated == "application/octet-stream");
  EXPECT_LT(platform::tickCountMs() - start, 20000u);
  int32_t h = 1, w = 1;
  imageSize(path("text.jpg"), h, w);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(w, 0);
}

TEST_F(Transcoder, ContentDecidesTheDecoderNotTheName) {
  testsupport::writePng(path("really-a-png.jpg"), 100, 80);
  EXPECT_EQ(transform("really-a-png.jpg"), "image/jpeg");
  expectOutput(ImageFormat::Jpeg, 100, 80);
}

}  // namespace
