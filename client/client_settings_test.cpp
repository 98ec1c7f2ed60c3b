#include "client/client_settings.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/path.h"
#include "tests/logging_fixture.h"
#include "tests/test_support.h"

namespace {

using velkan::ClientSettings;

class ClientConfiguration : public testsupport::LoggingTest {
 protected:
  static platform::Env& env() { return *platform::Env::defaultEnv(); }
  // Writes a configuration whose client section holds `body`.
  std::string configWith(const std::string& body, const std::string& server = " server='cm.example:8443'") {
    std::string path = dir_.file("cfg.xml");
    testsupport::writeFile(path, "<CachingPolicyEngineConfiguration><policyEngine/><cacheManagerClient" + server + ">" +
                                     body + "</cacheManagerClient></CachingPolicyEngineConfiguration>");
    return path;
  }
  ClientSettings read(const std::string& numbers) {
    ClientSettings s;
    velkan::readConfiguration(env(), configWith(kRequired + numbers), s, *ZR::CLogManager::instance());
    return s;
  }
  static constexpr const char* kRequired = "<accessDocument path='auth.xml'/><actionset path='a%n.xml'/>";
};

TEST_F(ClientConfiguration, MinimalFileKeepsDefaultsAndLogsEachLookup) {
  ClientSettings s = read("");
  EXPECT_EQ(s.server, "cm.example:8443");
  EXPECT_EQ(s.accessDocument, "auth.xml");
  EXPECT_EQ(s.actionset, "a%n.xml");
  EXPECT_EQ(s.outputFile, "");
  ClientSettings defaults;
  EXPECT_EQ(s.maxDataPerFile, 8388608);
  EXPECT_EQ(s.maxImageWidth, 768);
  EXPECT_EQ(s.maxImageHeight, 1024);
  EXPECT_EQ(s.maxImageQuality, 80);
  EXPECT_TRUE(s.sortUploads);
  EXPECT_EQ(s.rate, defaults.rate);
  std::string text = logText();
  EXPECT_NE(text.find("Read a%n.xml for /CachingPolicyEngineConfiguration/cacheManagerClient/actionset@path"),
            std::string::npos)
      << text;
  // 5 optional texts and 14 numeric settings are absent.
  EXPECT_EQ(testsupport::countOf(text, "While reading "), 19u);
  EXPECT_NE(text.find("While reading /CachingPolicyEngineConfiguration/cacheManagerClient/MaxFiles@value, message is :  "),
            std::string::npos);
}

TEST_F(ClientConfiguration, ConversionsAndValidation) {
  struct Case {
    const char* element;
    void (*check)(const ClientSettings&);
  } cases[] = {
      {"<MaxSpace value='2'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxSpace, 2097152); }},
      {"<MaxSpace value='-1'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxSpace, -1); }},
      {"<MaxSpace value='-7'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxSpace, -1); }},
      {"<MaxDataPerFile value='1024'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxDataPerFile, 1048576); }},
      {"<MaxDataPerFile value='-3'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxDataPerFile, -1); }},
      {"<MaxBitRate value='800000'/>", [](const ClientSettings& s) { EXPECT_DOUBLE_EQ(s.rate, 100.0); }},
      {"<MaxBitRate value='0'/>", [](const ClientSettings& s) { EXPECT_DOUBLE_EQ(s.rate, 1.0); }},
      {"<MaxBitRate value='-50'/>", [](const ClientSettings& s) { EXPECT_DOUBLE_EQ(s.rate, 1.0); }},
      {"<MaxBitRate value='8000'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxTimeWindow, 1000); }},
      {"<SortUploads value='YES'/>", [](const ClientSettings& s) { EXPECT_TRUE(s.sortUploads); }},
      {"<SortUploads value='true'/>", [](const ClientSettings& s) { EXPECT_FALSE(s.sortUploads); }},
      {"<MaxFiles value='ten'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxFiles, 0); }},
      {"<CompressionCpuPercent value='150'/>", [](const ClientSettings& s) { EXPECT_EQ(s.compressionCpuPercent, -1); }},
      {"<CompressionCpuPercent value='100'/>", [](const ClientSettings& s) { EXPECT_EQ(s.compressionCpuPercent, 100); }},
      {"<CompressionExeSize value='-5'/>", [](const ClientSettings& s) { EXPECT_EQ(s.compressionExeSize, 0); }},
      {"<ChunkSize value='64'/>", [](const ClientSettings& s) { EXPECT_EQ(s.chunkSize, 65536); }},
      {"<ChunkSize value='99999999'/>", [](const ClientSettings& s) { EXPECT_EQ(s.chunkSize, 2147483647); }},
      {"<MaxTimeWindow value='250'/>", [](const ClientSettings& s) { EXPECT_EQ(s.maxTimeWindow, 250); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.element);
    c.check(read(c.element));
  }
  EXPECT_NE(logText().find("File size limit for executable compression is less or equal to zero, file will not be compressed."),
            std::string::npos);
}

TEST_F(ClientConfiguration, MissingRequiredSettingOrBrokenFileThrows) {
  ClientSettings s;
  try {
    velkan::readConfiguration(env(), configWith("<actionset path='a.xml'/>"), s, *ZR::CLogManager::instance());
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("While reading /CachingPolicyEngineConfiguration/cacheManagerClient/"
                                          "accessDocument@path, message is :  ",
                                          0),
              0u)
        << e.what();
    EXPECT_EQ(std::string(e.what()).back(), '\n');
  }
  EXPECT_THROW(velkan::readConfiguration(env(), configWith(kRequired, ""), s, *ZR::CLogManager::instance()),
               std::runtime_error);
  testsupport::writeFile(dir_.file("broken.xml"), "<CachingPolicyEngineConfiguration>");
  try {
    velkan::readConfiguration(env(), dir_.file("broken.xml"), s, *ZR::CLogManager::instance());
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "[velkan.exe] Loading of Config XML failed.");
  }
}

TEST_F(ClientConfiguration, OwnSettingsAndMisspeltNames) {
  ClientSettings s = read("<CompressionWait value='250'/><transcodedFolder path='copies'/><MaxReplySize value='64'/>"
                          "<CompressionWiat value='0'/><MaxBitrate value='8000'/>");
  EXPECT_EQ(s.compressionWaitMs, 250u);
  EXPECT_EQ(s.transcodedFolder, "copies");
  EXPECT_EQ(s.maxReplyBytes, uint64_t{64} << 20);
  EXPECT_EQ(read("").maxReplyBytes, uint64_t{256} << 20);
  EXPECT_EQ(read("<MaxReplySize value='0'/>").maxReplyBytes, uint64_t{1} << 20);
  std::string said = logText();
  EXPECT_NE(said.find("unknown setting <CompressionWiat> in cacheManagerClient is ignored; did you mean "
                      "<CompressionWait>?"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("unknown setting <MaxBitrate> in cacheManagerClient is ignored; did you mean <MaxBitRate>?"),
            std::string::npos);
  // Relative file settings start at the configuration's folder.
  s.takePathsFrom("/etc/backup");
  EXPECT_EQ(s.transcodedFolder, platform::joinPath("/etc/backup", "copies"));
  EXPECT_EQ(s.accessDocument, platform::joinPath("/etc/backup", "auth.xml"));
}

TEST(NearestName, TakesTheClosestKnownNameWithinReach) {
  const std::vector<std::string> known = {"dircontent", "cachecontent", "actionset", "MaxBitRate"};
  struct Case {
    const char* name;
    const char* nearest;
  } cases[] = {{"dircontnet", "dircontent"}, {"DIRCONTENT", "dircontent"}, {"maxbitrate", "MaxBitRate"},
               {"actionst", "actionset"},    {"somethingelse", ""},        {"x", ""}};
  for (const Case& c : cases) EXPECT_EQ(ZR::CStringUtils::nearestName(c.name, known), c.nearest) << c.name;
}

TEST(ProxySettings, OnlyWhenSwitchedOnExactly) {
  testsupport::TempDir dir;
  auto agent = [&](const std::string& useProxy) {
    testsupport::writeFile(dir.file("agent.xml"),
                           "<properties><entry key='config.proxy.http.useproxy'>" + useProxy +
                               "</entry><entry key='config.proxy.http.host'>proxy.lan</entry>"
                               "<entry key='config.proxy.http.port'>3128</entry>"
                               "<entry key='config.proxy.http.userpassword'>c2VjcmV0</entry></properties>");
    return velkan::readProxySettings(*platform::env(), dir.file("agent.xml"));
  };
  velkan::ProxySettings on = agent("true");
  EXPECT_EQ(on.host, "proxy.lan");
  EXPECT_EQ(on.port, "3128");
  EXPECT_EQ(on.user, "");
  EXPECT_EQ(on.password, "secret");
  EXPECT_EQ(agent("TRUE").host, "");
  EXPECT_EQ(velkan::readProxySettings(*platform::env(), dir.file("missing.xml")).host, "");
}

}  // namespace
