#include "prepare/file_types.h"

#include <gtest/gtest.h>

namespace {

using namespace velkan;

TEST(FileTypes, ClassificationTable) {
  struct Case {
    const char* path;
    int32_t code;
    const char* mime;
    const char* docType;
    bool image, mp3, compressible, executable;
  } cases[] = {
      {"photo.JPG", 3, "image/jpeg", "JPG", true, false, false, false},
      {"photo.jpeg", 3, "image/jpeg", "jpeg", true, false, false, false},
      {"photo.jfif", 3, "image/jpeg", "jfif", true, false, false, false},
      {"c:\\a\\archive.tar.gz", 28, "application/octet-stream", "gz", false, false, false, false},
      {"c:\\a\\ends.", 28, "application/octet-stream", "", false, false, false, false},
      {"c:\\data.v2\\readme", 28, "application/octet-stream", "", false, false, false, false},
      {"Setup.EXE", 29, "application/binary", "EXE", false, false, true, true},
      {"Report.Doc", 26, "application/msword", "Doc", false, false, true, false},
      {"song.mp3", 8, "audio/mpeg", "mp3", false, true, false, false},
      {"x.h", 28, "application/octet-stream", "h", false, false, true, false},
      {"x.c", 28, "application/octet-stream", "c", false, false, true, false},
      {"page.mhtml", 28, "application/octet-stream", "mhtml", false, false, true, false},
      {"a.gif", 4, "image/gif", "gif", true, false, false, false},
      {"a.bmp", 31, "image/bmp", "bmp", true, false, false, false},
      {"a.TIF", 32, "image/tiff", "TIF", true, false, false, false},
      {"a.png", 5, "image/png", "png", true, false, false, false},
      {"a.zip", 28, "application/octet-stream", "zip", false, false, false, false},
      {"A.TXT", 1, "text/plain", "TXT", false, false, true, false},
      {"lib.dll", 28, "application/octet-stream", "dll", false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(typeCodeOf(c.path), c.code);
    std::string mime;
    int32_t generic = 0;
    mimeTypeOf(c.path, mime, generic);
    EXPECT_EQ(mime, c.mime);
    EXPECT_EQ(docTypeOf(c.path), c.docType);
    EXPECT_EQ(isImageFile(c.path), c.image);
    EXPECT_EQ(isMp3File(c.path), c.mp3);
    EXPECT_EQ(isCompressible(c.path), c.compressible);
    EXPECT_EQ(isExecutable(c.path), c.executable);
  }
}

TEST(MimeType, ParseFormatAndMatch) {
  MimeType full("text/html;charset=utf-8;q=1");
  EXPECT_TRUE(full.valid());
  EXPECT_EQ(full.type(), "text");
  EXPECT_EQ(full.subtype(), "html");
  EXPECT_EQ(full.toString(), "text/html;charset=utf-8;q=1");
  MimeType broken("text/html;charset");
  EXPECT_FALSE(broken.valid());
  EXPECT_EQ(broken.subtype(), "html");  // kept what was read
  EXPECT_FALSE(MimeType("noslash").valid());
  EXPECT_FALSE(MimeType("a/b/c").valid());
  EXPECT_TRUE(MimeType("image/gif").matches(MimeType("image/*")));
  EXPECT_FALSE(MimeType("image/gif").matches(MimeType("text/gif")));
  EXPECT_TRUE(MimeType("*/x").matches(MimeType("text/plain")));
  EXPECT_FALSE(MimeType("image/gif").matches(MimeType("image/GIF")));
}

}  // namespace
