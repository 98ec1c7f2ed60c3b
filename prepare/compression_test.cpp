#include "prepare/compression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "bindings/zrcore/thread.h"
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

std::string noise(size_t size, uint32_t seed) {
  std::string text(size, '\0');
  for (char& c : text) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 24);
  }
  return text;
}

// What a reader that inflates one gzip member only gets from a file (zlib
// inflate with window bits 31, stopped at the first stream end), and
// whether that member is the whole file.
std::string oneMember(const std::string& path, bool& whole) {
  std::string data = testsupport::readFile(path), out;
  z_stream z{};
  inflateInit2(&z, 31);
  z.next_in = reinterpret_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  std::vector<char> buffer(1 << 20);
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = static_cast<uInt>(buffer.size());
    result = inflate(&z, Z_NO_FLUSH);
    out.append(buffer.data(), buffer.size() - z.avail_out);
  }
  whole = result == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return out;
}

// A copy is one gzip member however large the file: sizes around the
// block edges, and a large one, with both thread counts, come back whole
// from a single-member reader, from zlib's gzread and from the gzip tool.
TEST(Gzip, CopiesAreOneMemberThatGivesTheWholeFileBack) {
  constexpr size_t kBlock = size_t{4} << 20;
  testsupport::TempDir dir;
  std::string large = noise(25 * kBlock, 7);
  const size_t sizes[] = {0, 1, 100000, kBlock - 1, kBlock, kBlock + 1, 2 * kBlock, 2 * kBlock + kBlock / 2,
                          100 * (size_t{1} << 20)};
  for (int threads : {1, 2}) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(size) + " bytes");
      std::string content = std::string(size / 3, 'a') + large.substr(0, size - size / 3);
      testsupport::writeFile(dir.file("in.bin"), content);
      velkan::gzipFile(*platform::Env::defaultEnv(), dir.file("in.bin"), dir.file("out.gz"), nullptr, velkan::GzipOptions{threads, nullptr});
      bool whole = false;
      EXPECT_TRUE(oneMember(dir.file("out.gz"), whole) == content);
      EXPECT_TRUE(whole) << "more than one member, or bytes after it";
      EXPECT_TRUE(gunzip(dir.file("out.gz")) == content);
#ifndef _WIN32
      platform::ProcessResult tool = testsupport::run({"/bin/gzip", "-t", dir.file("out.gz")});
      EXPECT_EQ(tool.exitCode, 0) << tool.standardError;
#endif
      if (size > 3 * kBlock) continue;  // small files go to memory
      std::string inMemory;
      velkan::gzipToMemory(*platform::Env::defaultEnv(), dir.file("in.bin"), inMemory);
      testsupport::writeFile(dir.file("memory.gz"), inMemory);
      EXPECT_TRUE(oneMember(dir.file("memory.gz"), whole) == content);
      EXPECT_TRUE(whole);
    }
  }
}

// A deflate stream made joinable still inflates to what it held, and two
// joined ones inflate to both, in order, whatever the bits left over.
TEST(Gzip, JoinedDeflateStreamsInflateToBoth) {
  for (size_t size : {0u, 1u, 7u, 1000u, 70000u, 300000u}) {
    std::string first = noise(size, 3) + std::string(size, 'x'), second = noise(size / 2 + 5, 4);
    std::string joined;
    for (const std::string* part : {&first, &second}) {
      std::vector<char> stream(compressBound(static_cast<uLong>(part->size())) + 64);
      z_stream z{};
      deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part->data()));
      z.avail_in = static_cast<uInt>(part->size());
      z.next_out = reinterpret_cast<Bytef*>(stream.data());
      z.avail_out = static_cast<uInt>(stream.size());
      deflate(&z, Z_FINISH);
      size_t length = z.total_out;
      deflateEnd(&z);
      if (part == &first) {
        ASSERT_TRUE(velkan::makeJoinable(stream, length)) << size;
      }
      joined.append(stream.data(), length);
    }
    z_stream z{};
    inflateInit2(&z, -15);
    std::string out(first.size() + second.size() + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(joined.data());
    z.avail_in = static_cast<uInt>(joined.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << size;
    out.resize(z.total_out);
    inflateEnd(&z);
    EXPECT_TRUE(out == first + second) << size;
  }
  std::vector<char> garbage = {'n', 'o', 't'};
  size_t length = garbage.size();
  EXPECT_FALSE(velkan::makeJoinable(garbage, length));
}

// The helper thread of a large file joins the run's throttle group while
// it works, so throttling stops it too, and leaves it afterwards.
TEST(Gzip, TheHelperThreadJoinsTheThrottleGroup) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("in.bin"), noise(size_t{24} << 20, 3));
  ZR::CThreadGroup group;
  std::atomic<bool> done{false};
  size_t mostMembers = 0;
  std::thread watcher([&] {
    while (!done.load()) {
      auto cycle = group.lockForCycle();
      mostMembers = std::max(mostMembers, group.members().size());
    }
  });
  velkan::gzipFile(*platform::Env::defaultEnv(), dir.file("in.bin"), dir.file("out.gz"), nullptr, velkan::GzipOptions{2, &group});
  done.store(true);
  watcher.join();
  EXPECT_EQ(mostMembers, 1u);
  auto cycle = group.lockForCycle();
  EXPECT_TRUE(group.members().empty());
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
      velkan::gzipFile(*platform::Env::defaultEnv(), c.source, c.target);
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
  EXPECT_THROW(velkan::gzipFile(*platform::Env::defaultEnv(), dir.file("in.txt"), link), velkan::CVelkanException);
  EXPECT_FALSE(env->fileExists(link));
#endif
}

TEST(Gzip, CompressObjectNamesAndMetadata) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("report.txt"), "hello hello hello");
  testsupport::writeFile(dir.file("caf\xC3\xA9.txt"), "bonjour");
  velkan::CompressionContext context{dir.path() + "/", 0, nullptr, {}, {}, nullptr, platform::Env::defaultEnv()};
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
