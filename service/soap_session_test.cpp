#include "service/soap_session.h"

#include <gtest/gtest.h>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "service/velkan_exceptions.h"
#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"

namespace {

using velkan::CSoapSession;
using velkan::ServiceOptions;

class SessionTest : public testsupport::LoggingTest {};

TEST_F(SessionTest, UploadRoundTrip) {
  testsupport::RunningService service;
  CSoapSession session(service.server(), ServiceOptions(), log());
  std::string key = session.login("agent text");
  ASSERT_EQ(key.size(), 64u) << key;
  for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 300000u}) {
    std::string path = "c:\\docs\\file" + std::to_string(size) + ".bin";
    std::string content;
    for (size_t i = 0; i < size; ++i) content += static_cast<char>((i * 31 + size) & 0xFF);
    testsupport::writeFile(dir_.file("upload.bin"), content);
    EXPECT_EQ(session.createFile(key, path, "size=" + std::to_string(size) + "\n"), "-2");
    auto file = std::make_unique<ZR::CFile>(dir_.file("upload.bin"), "r");
    EXPECT_EQ(session.writeFileAttachment(key, path, std::move(file), key), "-2") << size;
    EXPECT_EQ(session.finalizeFile(key, path), "-2");
    ASSERT_TRUE(service.service().store().content(path).found);
    EXPECT_EQ(testsupport::storedContent(service.service().store(), path), content) << size;
  }
}

// A ghost document the toolkit cannot attach (out of memory) ends the call
// before anything is sent, as a full store would; the next one goes.
TEST_F(SessionTest, AGhostAttachmentThatCannotBeAddedIsNotSent) {
  testsupport::RunningService service;
  CSoapSession session(service.server(), ServiceOptions(), log());
  std::string key = session.login("agent text");
  session.failNextGhostAttachment(-9);
  try {
    session.writeGhostFileAttachment(key, "c:/a/a.xml", "<g><file path=\"c:/a/b.txt\"/></g>");
    FAIL() << "the failed attachment was not reported";
  } catch (const velkan::CCacheManagerSpaceLimitException& e) {
    EXPECT_EQ(e.errorCode(), -9);
    EXPECT_STREQ(e.what(),
                 "Cache Manager call : writeGhostFileAttachment failed with error while writing attachment.\n"
                 "Storage Full  : No more storage space\n");
  }
  EXPECT_TRUE(service.service().store().ghostDocument("c:/a/a.xml").empty()) << "it was sent all the same";
  EXPECT_EQ(session.writeGhostFileAttachment(key, "c:/a/a.xml", "<g><file path=\"c:/a/b.txt\"/></g>"), "-2");
  EXPECT_NE(service.service().store().ghostDocument("c:/a/a.xml").find("c:/a/b.txt"), std::string::npos);
}

}  // namespace
