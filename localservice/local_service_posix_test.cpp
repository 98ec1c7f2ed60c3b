// What cachemanager-local leaves on the disk is its user's alone.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "service/soap_session.h"
#include "tests/test_support.h"

namespace {

// Every file and folder below `folder` (itself included), with its mode.
void eachEntry(const std::string& folder, const std::function<void(const std::string&, mode_t)>& visit) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return;
  visit(folder, st.st_mode);
  std::vector<platform::DirectoryEntry> entries;
  if (!S_ISDIR(st.st_mode) || !platform::Env::defaultEnv()->scanDirectory(folder, &entries)) return;
  for (const auto& entry : entries) eachEntry(folder + "/" + entry.name, visit);
}

TEST(LocalServiceProgram, KeepsWhatItStoresPrivate) {
  testsupport::TempDir dir;
  platform::ChildProcess program;
  ASSERT_TRUE(program.start({CACHEMANAGER_LOCAL_PATH, "--root", dir.file("root"), "--port", "0"}));
  std::string line;
  ASSERT_TRUE(program.readLine(line, 10000));
  std::string server = line.substr(std::string("listening on ").size());
  velkan::CSoapSession session(server, velkan::ServiceOptions(), ZR::CLogger::discarding());
  std::string key = session.login("agent");
  testsupport::writeFile(dir.file("a.txt"), "private words");
  ASSERT_EQ(session.createFile(key, "c:\\a.txt", "m=1\n"), "-2");
  ASSERT_EQ(session.writeFileAttachment(key, "c:\\a.txt", std::make_unique<ZR::CFile>(dir.file("a.txt"), "r"), key),
            "-2");
  ASSERT_EQ(session.finalizeFile(key, "c:\\a.txt"), "-2");
  program.stop();
  size_t seen = 0;
  eachEntry(dir.file("root"), [&](const std::string& path, mode_t mode) {
    ++seen;
    EXPECT_EQ(mode & 077, 0u) << path << " can be read or written by others";
  });
  EXPECT_GT(seen, 4u);  // the root, store/, catalogue.db, the stored file, ...
}

}  // namespace
