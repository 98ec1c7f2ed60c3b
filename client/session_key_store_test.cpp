#include "client/session_key_store.h"

#include <gtest/gtest.h>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "platform/process.h"
#include "tests/test_support.h"

namespace {

using velkan::CSessionKeyStore;

// Run as a second process: prints the key it finds.
TEST(SessionKeyPeer, PrintKey) {
  if (platform::environmentVariable("ZR_SESSION_PEER").empty()) GTEST_SKIP() << "runs only as a peer";
  CSessionKeyStore store;
  std::printf("key=[%s]\n", store.getKey().c_str());
}

std::string keySeenByAnotherProcess() {
  auto result = testsupport::run({platform::executablePath(), "--gtest_filter=SessionKeyPeer.*"}, {{"ZR_SESSION_PEER", "1"}});
  size_t start = result.standardOutput.find("key=[");
  size_t end = result.standardOutput.find("]\n", start);
  if (start == std::string::npos || end == std::string::npos) return "<no answer>";
  return result.standardOutput.substr(start + 5, end - start - 5);
}

// Test programs run side by side: each test has a block of its own, which
// its peer process inherits.
std::string ownSpace(const char* test) { return std::string(test) + "-" + std::to_string(platform::processId()); }

TEST(SessionKeyStore, AnotherProcessSeesTheKeyWhileTheBlockIsOpen) {
  testsupport::ScopedVariable space("ZR_IPC_NAMESPACE", ownSpace("key-seen"));
  {
    CSessionKeyStore store;
    EXPECT_EQ(store.getKey(), "");
    EXPECT_TRUE(store.setKey("k3y-abc"));
    EXPECT_EQ(keySeenByAnotherProcess(), "k3y-abc");
    EXPECT_TRUE(store.setKey("second"));
    EXPECT_EQ(store.getKey(), "second");
    EXPECT_EQ(keySeenByAnotherProcess(), "second");
  }
  // The last holder closed it: the key is gone.
  EXPECT_EQ(keySeenByAnotherProcess(), "");
}

TEST(SessionKeyStore, LongestKeyAndTooLongKey) {
  testsupport::ScopedVariable space("ZR_IPC_NAMESPACE", ownSpace("key-length"));
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("cfg.xml"), "<CachingPolicyEngineConfiguration/>");
  ASSERT_TRUE(ZR::CConfigManager::initialize(1, dir.file("cfg.xml"), false));
  ZR::CLogManager::initialize("velkan");
  {
    CSessionKeyStore store;
    std::string longest(255, 'k');
    EXPECT_TRUE(store.setKey(longest));
    EXPECT_EQ(keySeenByAnotherProcess(), longest);
    std::string tooLong(256, 's');
    EXPECT_FALSE(store.setKey(tooLong));
    EXPECT_EQ(store.getKey(), longest);  // the one in memory stays
    EXPECT_EQ(keySeenByAnotherProcess(), longest);
  }
  ZR::CLogManager::instance()->flush();
  std::string log = testsupport::readFile(dir.file("velkan.log"));
  EXPECT_NE(log.find("Cache session key too long, 256 characters, max size is 256"), std::string::npos) << log;
  EXPECT_EQ(log.find("ssssssss"), std::string::npos) << "the key itself was logged";
  ZR::CLogManager::shutdown();
  ZR::CConfigManager::reset();
}

// A key this client stored for one server is never sent to another; the
// agent's key (no tag) is taken as it always was.
TEST(SessionKeyStore, AKeyGoesOnlyToTheServerThatIssuedIt) {
  testsupport::ScopedVariable space("ZR_IPC_NAMESPACE", ownSpace("key-endpoint"));
  const std::string a = "http://a.example:8080/cacheManager/services/CacheManager";
  const std::string b = "http://b.example:8080/cacheManager/services/CacheManager";
  CSessionKeyStore holder;  // keeps the block open between the cases
  struct Case {
    const char* writtenFor;  // null: written untagged, as the agent does
    const char* readFor;     // null: a store not bound to any endpoint
    bool taken;
  } cases[] = {
      {"a", "a", true}, {"a", "b", false}, {"a", nullptr, true}, {nullptr, "b", true},
  };
  for (const Case& c : cases) {
    CSessionKeyStore freshWriter;
    freshWriter.bindToEndpoint(c.writtenFor ? (std::string(c.writtenFor) == "a" ? a : b) : "");
    ASSERT_TRUE(freshWriter.setKey("key-of-" + std::string(c.writtenFor ? c.writtenFor : "agent")));
    CSessionKeyStore reader;
    if (c.readFor) reader.bindToEndpoint(std::string(c.readFor) == "a" ? a : b);
    std::string key = reader.getKey();
    EXPECT_EQ(!key.empty(), c.taken) << (c.writtenFor ? c.writtenFor : "agent") << " read for "
                                     << (c.readFor ? c.readFor : "any");
    // What other readers see stays the plain key.
    if (c.taken) {
      EXPECT_EQ(keySeenByAnotherProcess(), key);
    }
  }
}

}  // namespace
