// What the Windows side of the platform layer promises beyond the common part.
#include <gtest/gtest.h>

#include "platform/win32.h"  // before the other system headers

#include <aclapi.h>

#include <cstring>
#include <thread>

#include "platform/env.h"
#include "platform/known_folders.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "tests/test_support.h"

namespace {

TEST(HostPath, DrivePathsStandAsTheyAre) {
  struct Case {
    const char* path;
    const char* parent;
  } cases[] = {
      {"c:\\home\\ann\\a.doc", "c:\\home\\ann"},
      {"D:/Music/song.mp3", "D:/Music"},
      {"c:\\a.txt", "c:\\"},
      {"c:a.txt", "c:"},
      {"status\\cs_curpolicy.xml", "status"},
      {"plain", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::hostPath(c.path), c.path);
    EXPECT_EQ(platform::parentFolder(c.path), c.parent) << c.path;
  }
  EXPECT_EQ(platform::logicalPath("C:/users/ann/x.txt"), "C:\\users\\ann\\x.txt");
  EXPECT_EQ(platform::joinPath("c:\\docs", "a.txt"), "c:\\docs\\a.txt");
  EXPECT_EQ(platform::joinPath("c:\\", "a.txt"), "c:\\a.txt");
}

TEST(Env, NonAsciiNamesReachTheFileSystemAsUtf16) {
  testsupport::TempDir dir;
  std::string name = dir.file("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt");  // "été €.txt"
  testsupport::writeFile(name, "summer");
  EXPECT_EQ(testsupport::readFile(name), "summer");
  std::vector<std::string> names;
  ASSERT_TRUE(platform::env()->listDirectory(dir.path(), &names));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt");
  platform::FileInfo info;
  ASSERT_TRUE(platform::env()->getFileInfo(name, &info));
  EXPECT_EQ(info.size, 6u);
}

TEST(Env, AReplacingRenameWaitsForABriefReaderOfTheOldFile) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("target"), "old");
  testsupport::writeFile(dir.file("new"), "new");
  std::unique_ptr<platform::ReadableFile> reader;
  platform::Status opened = platform::env()->openReadable(dir.file("target"), &reader);
  ASSERT_TRUE(reader) << opened.message();
  std::thread closer([&] {
    Sleep(200);
    reader.reset();
  });
  platform::Status renamed = platform::env()->renameFile(dir.file("new"), dir.file("target"));
  EXPECT_TRUE(renamed.isOk()) << renamed.message();
  closer.join();
  EXPECT_EQ(testsupport::readFile(dir.file("target")), "new");
  EXPECT_FALSE(testsupport::fileExists(dir.file("new")));
}

TEST(KnownFolders, AreDrivePaths) {
  for (auto folder : {platform::KnownFolder::Documents, platform::KnownFolder::Pictures,
                      platform::KnownFolder::Music, platform::KnownFolder::Desktop}) {
    std::string path = platform::knownFolderPath(folder);
    EXPECT_TRUE(platform::hasDriveLetter(path)) << path;
    EXPECT_NE(path.back(), '\\') << path;
  }
}

TEST(RunProcess, CollectsOutputExitCodeAndQuotedArguments) {
  auto result = testsupport::run({"c:\\windows\\system32\\cmd.exe", "/c", "echo out& echo err 1>&2& exit 3"});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.standardOutput, "out\n");
  EXPECT_EQ(result.standardError, "err \n");
}

TEST(SharedMemory, OnlyTheOwnerIsAdmittedAndTheBlockEndsWithItsLastHolder) {
  std::string name = "zr-test-shm-" + std::to_string(platform::processId());
  {
    platform::SharedMemory first(name, 256);
    ASSERT_TRUE(first.valid()) << first.lastErrorText();
    std::strcpy(first.data(), "secret");
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ | READ_CONTROL, FALSE, ("Local\\" + name).c_str());
    ASSERT_NE(mapping, nullptr);
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(mapping, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(acl, nullptr);
    EXPECT_EQ(acl->AceCount, 1) << "only the user may open the block";
    LocalFree(descriptor);
    CloseHandle(mapping);
    platform::SharedMemory second(name, 256);
    ASSERT_TRUE(second.valid()) << second.lastErrorText();
    EXPECT_STREQ(second.data(), "secret");
  }
  platform::SharedMemory fresh(name, 256);
  ASSERT_TRUE(fresh.valid());
  EXPECT_STREQ(fresh.data(), "");
}

}  // namespace
