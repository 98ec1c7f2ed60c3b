// What the POSIX side of the platform layer promises beyond the common part.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/env.h"
#include "platform/known_folders.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/socket_port.h"
#include "tests/test_support.h"

namespace {

using testsupport::ScopedVariable;

TEST(HostPath, MapsDrivesAndSeparators) {
  ScopedVariable d("VELKAN_DRIVE_D", "/mnt/data/");
  ScopedVariable c("VELKAN_DRIVE_C", "");
  struct Case {
    const char* logical;
    const char* host;
  } cases[] = {
      {"c:\\home\\ann\\a.doc", "/home/ann/a.doc"},
      {"C:\\home\\ann\\a.doc", "/home/ann/a.doc"},
      {"d:\\Music\\song.mp3", "/mnt/data/Music/song.mp3"},
      {"D:Music", "/mnt/data/Music"},
      {"/already/host/path", "/already/host/path"},
      {"status\\cs_curpolicy.xml", "status/cs_curpolicy.xml"},
      {"c:", "/"},
  };
  for (const Case& c1 : cases) EXPECT_EQ(platform::hostPath(c1.logical), c1.host) << c1.logical;
}

TEST(HostPath, LogicalPathIsTheInverseUnderTheLongestRoot) {
  ScopedVariable d("VELKAN_DRIVE_D", "/mnt/data");
  ScopedVariable e("VELKAN_DRIVE_E", "/mnt/data/deeper");
  EXPECT_EQ(platform::logicalPath("/home/ann/Documents"), "c:\\home\\ann\\Documents");
  EXPECT_EQ(platform::logicalPath("/mnt/data/x"), "d:\\x");
  EXPECT_EQ(platform::logicalPath("/mnt/data/deeper/y"), "e:\\y");
  EXPECT_EQ(platform::logicalPath("/mnt/database"), "c:\\mnt\\database");
  EXPECT_EQ(platform::hostPath(platform::logicalPath("/mnt/data/x/y.txt")), "/mnt/data/x/y.txt");
}

TEST(KnownFolders, ReadsXdgUserDirsAndFallsBackToHome) {
  testsupport::TempDir dir;
  ScopedVariable home("HOME", dir.path());
  ScopedVariable config("XDG_CONFIG_HOME", dir.file("config"));
  testsupport::writeFile(dir.file("config/user-dirs.dirs"),
                         "# written by xdg-user-dirs-update\n"
                         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                         "XDG_MUSIC_DIR=\"/srv/music/\"\n"
                         "XDG_DESKTOP_DIR=\"relative/not/allowed\"\n");
  EXPECT_EQ(platform::knownFolderPath(platform::KnownFolder::Documents), dir.path() + "/Dokumente");
  EXPECT_EQ(platform::knownFolderPath(platform::KnownFolder::Music), "/srv/music");
  EXPECT_EQ(platform::knownFolderPath(platform::KnownFolder::Pictures), dir.path() + "/Pictures");
  EXPECT_EQ(platform::knownFolderPath(platform::KnownFolder::Desktop), dir.path() + "/Desktop");
  EXPECT_FALSE(platform::env()->fileExists(dir.file("Dokumente"))) << "a plain look made the folder";
  EXPECT_EQ(platform::knownFolderPath(platform::KnownFolder::Documents, true), dir.path() + "/Dokumente");
  EXPECT_TRUE(platform::env()->fileExists(dir.file("Dokumente"))) << "asked to, it was not made";
}

TEST(RunProcess, CollectsOutputAndExitCode) {
  auto result = testsupport::run({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, {{"ZR_X", "1"}});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.standardOutput, "out\n");
  EXPECT_EQ(result.standardError, "err\n");
}

// A full connection takes nothing more and the call returns at once; what
// it took arrives whole; a closed peer raises no signal that would end us.
TEST(SendWithoutWaiting, TakesWhatFitsAndNeverWaits) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  const std::string block(1 << 20, 'x');
  size_t taken = 0;
  for (int i = 0; i < 64; ++i) {
    size_t sent = platform::sendWithoutWaiting(static_cast<uint64_t>(ends[0]), block.data(), block.size());
    if (sent == 0) break;
    taken += sent;
  }
  ASSERT_GT(taken, 0u);
  ASSERT_LT(taken, 64 * block.size());
  EXPECT_EQ(platform::sendWithoutWaiting(static_cast<uint64_t>(ends[0]), "y", 1), 0u);

  std::string arrived;
  char buffer[65536];
  while (arrived.size() < taken) {
    ssize_t got = ::read(ends[1], buffer, sizeof buffer);
    ASSERT_GT(got, 0);
    arrived.append(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(arrived, std::string(taken, 'x'));

  ::close(ends[1]);
  EXPECT_EQ(platform::sendWithoutWaiting(static_cast<uint64_t>(ends[0]), "y", 1), 0u);
  ::close(ends[0]);
}

}  // namespace
