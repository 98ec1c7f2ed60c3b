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
    std::string stored = service.service().store().contentPath(path);
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(testsupport::readFile(stored), content) << size;
  }
}

}  // namespace
