#include "platform/shared_memory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/process.h"

namespace {

std::string blockName(const std::string& base) { return base + "-" + std::to_string(platform::processId()); }

std::string objectOf(const std::string& name) {
  const char* space = std::getenv("ZR_IPC_NAMESPACE");
  std::string scoped = (space && *space) ? std::string(space) + "." + name : name;
  return "/" + scoped + "." + std::to_string(::getuid());
}

TEST(SharedMemory, OwnerOnlyAndGoneWhenTheLastHolderCloses) {
  std::string name = blockName("zr-test-shm");
  {
    platform::SharedMemory first(name, 256);
    ASSERT_TRUE(first.valid()) << first.lastErrorText();
    std::strcpy(first.data(), "secret");
    int fd = ::shm_open(objectOf(name).c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    ::close(fd);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    {
      platform::SharedMemory second(name, 256);
      ASSERT_TRUE(second.valid());
      EXPECT_STREQ(second.data(), "secret");
    }
    platform::SharedMemory third(name, 256);
    EXPECT_STREQ(third.data(), "secret") << "closed while another holder had it open";
  }
  platform::SharedMemory fresh(name, 256);
  ASSERT_TRUE(fresh.valid());
  EXPECT_STREQ(fresh.data(), "");
}

TEST(SharedMemory, RefusesABlockOthersCouldRead) {
  std::string name = blockName("zr-test-shm-open");
  int fd = ::shm_open(objectOf(name).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchmod(fd, 0644), 0);
  ::close(fd);
  platform::SharedMemory block(name, 256);
  EXPECT_FALSE(block.valid());
  EXPECT_NE(block.lastErrorText().find("open to others"), std::string::npos) << block.lastErrorText();
  ::shm_unlink(objectOf(name).c_str());
}

}  // namespace
