#include "agent/restore.h"

#include <gtest/gtest.h>
#include <zlib.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "agent/gunzip.h"
#include "agent/history_command.h"
#include "agent/restore_target.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/folder_handle.h"
#include "platform/process.h"
#include "tests/test_support.h"

namespace {

TEST(RelativeParts, KeepRestoredFilesInsideTheTargetAndColonsInNames) {
  const std::string folder = "c:\\home\\ann";
  using Parts = std::vector<std::string>;
  struct Case {
    const char* remote;
    Parts expected;  // empty: refused
  } cases[] = {
      {"c:\\home\\ann\\a.txt", {"a.txt"}},
      {"c:\\home\\ann\\docs\\sp ace\\caf\xC3\xA9.txt", {"docs", "sp ace", "caf\xC3\xA9.txt"}},
      {"c:\\home\\ann\\meeting 10:30.txt", {"meeting 10:30.txt"}},  // a name, not a drive
      {"c:\\home\\ann\\d:\\x.txt", {"d:", "x.txt"}},
      {"c:\\home\\ann\\-1.csv", {"-1.csv"}},
      {"c:\\home\\ann\\..\\bob\\diary.txt", {}},
      {"c:\\home\\ann\\docs\\..\\..\\x", {}},
      {"c:\\home\\ann\\.\\a.txt", {}},
      {"c:\\home\\ann\\\\etc\\passwd", {}},
      {"c:\\home\\ann/../../etc/passwd", {}},
      {"c:\\home\\anna\\a.txt", {}},  // beside the folder, not below it
      {"c:\\home\\ann", {}},
      {"c:\\home\\ann\\", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(agent::relativeParts(c.remote, folder), c.expected) << c.remote;
}

std::string gzipped(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Feeds the data in pieces of `piece` bytes; the output, or "!" + error.
std::string inflateAll(const std::string& data, size_t piece, uint64_t limit) {
  agent::Gunzip gunzip(limit);
  std::string out;
  for (size_t at = 0; at < data.size(); at += piece) {
    if (!gunzip.feed(data.data() + at, std::min(piece, data.size() - at), out)) return "!" + gunzip.error();
  }
  return gunzip.complete() ? out : "!incomplete";
}

TEST(Gunzip, InflatesMembersInAnyPiecesAndRefusesDamageAndBombs) {
  std::string first(300000, 'a'), second = "second member\n";
  std::string twoMembers = gzipped(first) + gzipped(second);
  for (size_t piece : {size_t{1}, size_t{7}, size_t{1024}, twoMembers.size()}) {
    EXPECT_EQ(inflateAll(twoMembers, piece, 1 << 20), first + second) << piece;
  }
  EXPECT_EQ(inflateAll(gzipped(""), 1024, 0), "");
  EXPECT_EQ(inflateAll(twoMembers.substr(0, twoMembers.size() - 5), 1024, 1 << 20), "!incomplete");
  std::string damaged = twoMembers;
  damaged[20] = static_cast<char>(damaged[20] ^ 0x55);
  EXPECT_EQ(inflateAll(damaged, 1024, 1 << 20).substr(0, 1), "!");
  EXPECT_EQ(inflateAll("plain text, not gzip", 1024, 1 << 20).substr(0, 1), "!");
  // Inflating beyond what the original had stops at once.
  EXPECT_EQ(inflateAll(twoMembers, 1024, 1000).substr(0, 1), "!");
}

TEST(SubstituteName, HoldsEveryNameThisSystemCannot) {
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";  // 600 bytes, 300 characters: too long everywhere
  for (const std::string& name : {std::string(300, 'x') + ".txt", accents}) {
    std::string substitute = agent::substituteName(name);
    EXPECT_TRUE(platform::legalFileName(substitute)) << substitute;
    EXPECT_EQ(substitute[0], '%') << "plainly marked";
    EXPECT_NE(substitute, agent::substituteName(name + "y")) << "names that differ stay apart";
  }
  EXPECT_EQ(agent::substituteName("a%b"), "a%25b");
}

// A temporary is created exclusively: whatever is planted at its name
// (a link to a file elsewhere) is never written through.
TEST(RestoreTarget, NeverWritesThroughWhatIsPlantedAtItsTemporaryName) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("elsewhere.txt"), "untouched");
  platform::Env::defaultEnv()->createDirectories(dir.file("target"));
#ifndef _WIN32
  std::string planted = ".cacheagent-" + std::to_string(platform::processId()) + "-1.part";
  ASSERT_EQ(::symlink(dir.file("elsewhere.txt").c_str(), dir.file("target/" + planted).c_str()), 0);
#endif
  std::unique_ptr<agent::RestoreTarget> target;
  ASSERT_TRUE(agent::RestoreTarget::open(*platform::Env::defaultEnv(), dir.file("target"), false, &target));
  std::unique_ptr<agent::PendingFile> file;
  std::string why, substitute;
  auto begun = target->begin({"a.txt"}, &file, why, substitute);
  if (begun == agent::RestoreTarget::Begun::Ok) {
    ASSERT_TRUE(file->write("restored", 8));
    EXPECT_EQ(file->finish(true, 1600000000), "");
  }
  EXPECT_TRUE(target->commit().empty());
  target.reset();
  EXPECT_EQ(testsupport::readFile(dir.file("elsewhere.txt")), "untouched");
  EXPECT_EQ(testsupport::readFile(dir.file("target/a.txt")), "restored");
}

}  // namespace

// The moments `--at` takes, as a user writes them; nothing else.
TEST(Moments, TimesAsAUserWritesThem) {
  const int64_t now = 1765000000;  // a fixed "now"
  int64_t local = 0;
  ASSERT_TRUE(platform::fromLocalTime(platform::UtcTime{2026, 12, 1, 10, 0, 0}, local));
  struct Case {
    const char* text;
    bool ok;
    int64_t when;
  } cases[] = {
      {"now", true, now},
      {"yesterday", true, now - 86400},
      {"Yesterday", true, now - 86400},
      {"3 days ago", true, now - 3 * 86400},
      {"1 day ago", true, now - 86400},
      {"2 hours ago", true, now - 7200},
      {"30 minutes ago", true, now - 1800},
      {"2026-12-01 10:00", true, local},
      {"2026-12-01 10:00:00", true, local},
      {"2026-12-01", true, local - 10 * 3600},
      {"2026-02-30", false, 0},
      {"2026-13-01", false, 0},
      {"2026-12-01 25:00", false, 0},
      {"2026-12-01 10:00 and more", false, 0},
      {"3 fortnights ago", false, 0},
      {"-3 days ago", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    int64_t when = 0;
    EXPECT_EQ(agent::parseMoment(c.text, now, when), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(when, c.when) << c.text;
    }
  }
}
