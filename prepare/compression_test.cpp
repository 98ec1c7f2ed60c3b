#include "prepare/compression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <set>

#include "service/velkan_exceptions.h"
#include "platform/env.h"
#include "tests/test_support.h"

namespace {

using testsupport::gunzip;

TEST(UniqueName, FormatAndNoRepeats) {
  std::string name = velkan::makeUniqueName("/t/", "c:\\docs\\report.txt");
  EXPECT_TRUE(testsupport::matchesWhole(name, "/t/[0-9a-f]+_[0-9a-f]+_[0-9a-f]+_report\\.txt")) << name;
  std::set<std::string> names;
  for (int i = 0; i < 20000; ++i) names.insert(velkan::makeUniqueName("/t/", "same.txt"));
  EXPECT_EQ(names.size(), 20000u);
}

TEST(Gzip, CopiesDecompressToTheOriginal) {
  testsupport::TempDir dir;
  std::string large(3 << 20, '\0');
  uint32_t state = 7;
  for (char& c : large) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 24);
  }
  for (const std::string& content : {std::string(), std::string("x"), std::string(100000, 'a') + large}) {
    testsupport::writeFile(dir.file("in.bin"), content);
    velkan::gzipFile(dir.file("in.bin"), dir.file("out.gz"));
    EXPECT_EQ(gunzip(dir.file("out.gz")), content) << content.size();
  }
}

TEST(Gzip, FailuresNeverLeaveACopyToSend) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("in.txt"), std::string(200000, 'z'));
  struct Case {
    std::string source, target;
  } cases[] = {
      {dir.file("missing.txt"), dir.file("a.zip")},
      {dir.file("in.txt"), dir.file("no/such/folder/a.zip")},
  };
  for (const Case& c : cases) {
    try {
      velkan::gzipFile(c.source, c.target);
      ADD_FAILURE() << c.target;
    } catch (const velkan::CVelkanException& e) {
      EXPECT_EQ(std::string(e.what()), "Compression of : " + c.source + " failed. \n");
    }
  }
#ifndef _WIN32
  // A full disk: the copy cannot be stored whole, and is not left behind.
  platform::Env* env = platform::Env::defaultEnv();
  std::string link = dir.file("full.zip");
  ASSERT_EQ(testsupport::run({"/bin/ln", "-s", "/dev/full", link}).exitCode, 0);
  EXPECT_THROW(velkan::gzipFile(dir.file("in.txt"), link), velkan::CVelkanException);
  EXPECT_FALSE(env->fileExists(link));
#endif
}

TEST(Gzip, CompressObjectNamesAndMetadata) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("report.txt"), "hello hello hello");
  testsupport::writeFile(dir.file("caf\xC3\xA9.txt"), "bonjour");
  velkan::CompressionContext context{dir.path() + "/", 0, nullptr};
  std::string transcoded, metadata;
  ASSERT_TRUE(velkan::compressObject(dir.file("report.txt"), "text/plain", transcoded, metadata, context));
  EXPECT_TRUE(testsupport::matchesWhole(transcoded, ".*/[0-9a-f]+_[0-9a-f]+_[0-9a-f]+_report\\.txt\\.zip")) << transcoded;
  EXPECT_EQ(metadata, "cache.mimetype=text/plain\ncache.encoding=gzip\n");
  EXPECT_EQ(gunzip(transcoded), "hello hello hello");
  ASSERT_TRUE(velkan::compressObject(dir.file("caf\xC3\xA9.txt"), "text/plain", transcoded, metadata, context));
  EXPECT_TRUE(testsupport::matchesWhole(transcoded, ".*/[0-9a-f]+_[0-9a-f]+_[0-9a-f]+_localzip\\.zip")) << transcoded;
  EXPECT_EQ(gunzip(transcoded), "bonjour");
}

}  // namespace
