// The client's service operations against cachemanager-local, checked on
// both sides: what the client reports and what the service stored.
#include "client/ccm_client.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "bindings/cabinet/cabinet.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "service/velkan_exceptions.h"
#include "actionset/action_set_file.h"
#include "platform/process.h"
#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"
#include "tests/wire_recorder.h"

namespace {

using velkan::CCMClient;

// Moves time on by a second whenever it is read.
class AdvancingClock : public platform::Clock {
 public:
  uint64_t fileTime() override { return now_ += 10000000; }
  void sleepMs(uint32_t ms) override { now_ += uint64_t{ms} * 10000; }

 private:
  uint64_t now_ = 133000000000000000ull;
};

class ClientTest : public testsupport::LoggingTest {
 protected:
  void SetUp() override {
    // Our own shared-memory namespace: test runs side by side keep their keys apart.
    platform::setEnvironmentVariable("ZR_IPC_NAMESPACE", "ccm-test-" + std::to_string(platform::processId()));
    testsupport::writeFile(dir_.file("auth.xml"), "<agent>secret</agent>");
    LoggingTest::SetUp();
    if (HasFatalFailure()) return;
    ZR::CCabinet::setIndexPath(dir_.file("cabinet.db"));
  }
  void TearDown() override {
    ZR::CCabinet::setIndexPath("");
    LoggingTest::TearDown();
  }
  // A configuration for the given server with extra client elements.
  std::string config(const std::string& server, const std::string& extra = "") {
    std::string path = dir_.file("cfg.xml");
    testsupport::writeFile(path, "<CachingPolicyEngineConfiguration><cacheManagerClient server='" + server +
                                     "'><accessDocument path='" + dir_.file("auth.xml") + "'/><actionset path='" +
                                     dir_.file("actions.xml") + "'/>" + extra +
                                     "</cacheManagerClient></CachingPolicyEngineConfiguration>");
    return path;
  }
  int upload(CCMClient& client, const std::string& remote, const std::string& content) {
    testsupport::writeFile(dir_.file("up.bin"), content);
    int a = client.uploadMetaData(remote, "origin.size=" + std::to_string(content.size()) + "\n");
    if (a != -2) return a;
    int b = client.writeContentAsAttachment(remote, dir_.file("up.bin"));
    if (b != -2) return b;
    return client.finalizeFile(remote, "");
  }
};

TEST_F(ClientTest, UploadStepsAndDeletionsReachTheService) {
  testsupport::RunningService service;
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server()));
  EXPECT_EQ(upload(client, "c:\\docs\\a.txt", "alpha"), -2);
  EXPECT_TRUE(client.loggedIn());
  EXPECT_EQ(client.attachmentId(), client.sessionKey());
  auto& store = service.service().store();
  EXPECT_EQ(testsupport::storedContent(store, "c:\\docs\\a.txt"), "alpha");
  localservice::CacheStore::StoredFile info;
  ASSERT_TRUE(store.fileInfo("c:\\docs\\a.txt", info));
  EXPECT_EQ(info.metadata, "origin.size=5\n");
  EXPECT_EQ(client.finalizeFile("c:\\docs\\a.txt", "x=1\n"), -5);  // nothing pending for it
  EXPECT_EQ(client.writeContentAsAttachment("c:\\docs\\b.txt", dir_.file("missing.bin")), -7);

  client.deleteList() = {"c:\\docs\\a.txt", "c:\\never\\there"};
  client.deleteFiles();
  EXPECT_FALSE(store.content("c:\\docs\\a.txt").found);
  std::string text = logText();
  EXPECT_NE(text.find("Cache Manager call : deleteFile in CCMClient::deleteFile() failed with error : -5"),
            std::string::npos)
      << text;
}

TEST_F(ClientTest, DeleteTimeLimitStopsPartWayAndTheIndexKeepsTheRest) {
  testsupport::RunningService service;
  AdvancingClock clock;
  ZR::CRunContext context = ZR::CRunContext::processDefaults();
  context.clock = &clock;
  CCMClient client(context);
  client.configure(config(service.server(), "<MaxDeleteTime value='4'/>"));
  std::vector<std::string> paths;
  std::set<ZR::CFileEntry> indexed;
  for (int i = 0; i < 5; ++i) {
    paths.push_back("c:\\d\\" + std::to_string(i));
    ASSERT_EQ(upload(client, paths.back(), "x"), -2);
    ZR::CFileEntry e;
    e.setPath(paths.back());
    indexed.insert(e);
  }
  ASSERT_EQ(ZR::CCabinet::refresh(indexed), ZR::kCabinetOk);
  client.deleteList() = paths;
  try {
    client.deleteFiles();
    FAIL() << "the delete-time limit was not reached";
  } catch (const velkan::CUploadLimitException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Delete time limit of 4 is reached.", 0), 0u) << e.what();
  }
  int64_t rows = 0;
  ASSERT_TRUE(ZR::CCabinet::count(rows));
  EXPECT_EQ(rows, 3);
  for (size_t i = 0; i < paths.size(); ++i) {
    ZR::CFileEntry found;
    bool deleted = i < 2;
    EXPECT_EQ(ZR::CCabinet::lookup(paths[i], found), !deleted) << paths[i];
    EXPECT_EQ(service.service().store().content(paths[i]).found, !deleted) << paths[i];
  }
}

TEST_F(ClientTest, ExpiredKeyLogsInAgainAndTheNextCallSucceeds) {
  localservice::ServiceConfig config1;
  config1.injectedAnswers["createFile"] = {-3, 1};
  testsupport::RunningService service(config1);
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server()));
  client.ensureSession();
  std::string firstKey = client.sessionKey();
  EXPECT_EQ(client.uploadMetaData("c:\\a", ""), -3);
  EXPECT_NE(client.sessionKey(), firstKey) << "-3 makes the client log in again";
  EXPECT_EQ(client.attachmentId(), firstKey) << "the attachment id stays for the run";
  EXPECT_EQ(client.uploadMetaData("c:\\a", ""), -2);
  EXPECT_NE(logText().find("Cache Manager call : createFile in CCMClient::uploadMetaData() failed with error : -3"),
            std::string::npos);
  velkan::CSessionKeyStore store;
  EXPECT_EQ(store.getKey(), client.sessionKey());
}

TEST_F(ClientTest, LoginAnsweredWithACodeKeepsNoKey) {
  localservice::ServiceConfig agents;
  testsupport::writeFile(dir_.file("agents.xml"), "<agents><agent name='a'>another secret</agent></agents>");
  agents.agentsFile = dir_.file("agents.xml");
  testsupport::RunningService service(agents);
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server()));
  EXPECT_EQ(client.uploadMetaData("c:\\a", ""), -3);
  EXPECT_EQ(client.sessionKey(), "");
  EXPECT_FALSE(client.loggedIn());
  velkan::CSessionKeyStore store;
  EXPECT_EQ(store.getKey(), "");
  EXPECT_NE(logText().find("Cache Manager call : login in CCMClient::login failed with error : -4"), std::string::npos);
}

TEST_F(ClientTest, MissingAuthenticationFileAndAbsurdSizes) {
  testsupport::RunningService service;
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server()));
  platform::Env::defaultEnv()->removeFile(dir_.file("auth.xml"));
  try {
    client.uploadMetaData("c:\\a", "");
    FAIL();
  } catch (const velkan::CFileNotFoundException& e) {
    EXPECT_EQ(std::string(e.what()), "Agent Authentication file " + dir_.file("auth.xml") + " is not found.\n");
  }
  testsupport::writeFile(dir_.file("auth.xml"), std::string(2 << 20, 'a'));
  EXPECT_THROW(client.uploadMetaData("c:\\a", ""), velkan::CVelkanException);
}

TEST_F(ClientTest, SpaceLimitCodes) {
  localservice::ServiceConfig config9;
  config9.injectedAnswers["createFile"] = {-9, 1};
  config9.injectedAnswers["writeGhostFileAttachment"] = {-9, 1};
  testsupport::RunningService service(config9);
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server()));
  EXPECT_EQ(client.uploadMetaData("c:\\a", ""), -9);  // an upload step hands the code back
  testsupport::writeFile(dir_.file("ghost.xml"), "<ghosts><g><file path='c:\\a\\b.txt'/></g></ghosts>");
  // A full store's answer to a ghost document is logged, not thrown (the
  // session's own test covers an attachment that cannot even be added).
  client.writeGhostContent(dir_.file("ghost.xml"));
  EXPECT_TRUE(service.service().store().ghostDocument("c:/a/a.xml").empty());
  client.writeGhostContent(dir_.file("ghost.xml"));  // the next one goes through
  EXPECT_NE(service.service().store().ghostDocument("c:/a/a.xml").find("<file path=\"c:/a/b.txt\"/>"),
            std::string::npos);
}

TEST(GhostRemotePath, Rules) {
  struct Case {
    const char* entry;
    const char* remote;
  } cases[] = {
      {"C:\\Docs\\Sub\\a.txt", "C:/Docs/Sub/Sub.xml"},
      {"C:\\Docs\\Sub\\", "C:/Docs/Docs.xml"},
      {"C:\\a.txt", "C:/c.xml"},
      {"D:\\", "D:/d.xml"},
      {"C:\\Deep\\er\\Nest\\file", "C:/Deep/er/Nest/Nest.xml"},
      {"relative", "relative/relative.xml"},
  };
  for (const Case& c : cases) EXPECT_EQ(CCMClient::ghostRemotePath(c.entry), c.remote) << c.entry;
  EXPECT_THROW(CCMClient::ghostRemotePath(""), std::out_of_range);
  EXPECT_THROW(CCMClient::ghostRemotePath("\\"), std::out_of_range);
}

TEST_F(ClientTest, ServiceActionsEndToEnd) {
  testsupport::RunningService service;
  testsupport::writeFile(dir_.file("links.xml"), "<links><link from='c:\\a' to='d:\\b'/></links>");
  testsupport::writeFile(dir_.file("expired.xml"), "<expired><p>p1</p><p>missing</p><p>p2</p></expired>");
  testsupport::writeFile(dir_.file("ghost.xml"),
                         "<ghosts><g><directory path='C:\\Docs\\Sub\\'/>"
                         "<file path='C:\\Docs\\Sub\\a.txt'><size>12</size><modified>99</modified></file>"
                         "<other/></g><empty/></ghosts>");
  for (const char* p : {"p1", "p2", "p3"}) {
    testsupport::writeFile(service.root() + "/store/policies/" + std::string(p) + ".xml", "<policy id='" + std::string(p) + "'/>");
  }
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server(), "<outputFile path='" + dir_.file("out.xml") + "'/><symlinkFile path='" +
                                                dir_.file("links.xml") + "'/><ghostContentFile path='" +
                                                dir_.file("ghost.xml") + "'/><expiredPoliciesFile path='" +
                                                dir_.file("expired.xml") + "'/>"));
  ASSERT_EQ(upload(client, "c:\\docs\\x.txt", "x"), -2);
  dornik::Action contents;
  contents.kind = dornik::ActionKind::GetContents;
  contents.contentsPath = "c:\\docs";
  client.onGetContents(contents);
  EXPECT_NE(testsupport::readFile(dir_.file("out.xml")).find("c:\\docs\\x.txt"), std::string::npos);
  client.onGetPolicies(dornik::Action{});
  EXPECT_NE(testsupport::readFile(dir_.file("out.xml")).find("<policy id=\"p3\"/>"), std::string::npos);
  client.onSetSymLinks(dornik::Action{});
  EXPECT_EQ(service.service().store().symLinks(""), "<links><link from='c:\\a' to='d:\\b'/></links>");
  client.onDeletePolicies(dornik::Action{});
  EXPECT_FALSE(testsupport::fileExists(service.root() + "/store/policies/p1.xml"));
  EXPECT_FALSE(testsupport::fileExists(service.root() + "/store/policies/p2.xml"));
  EXPECT_TRUE(testsupport::fileExists(service.root() + "/store/policies/p3.xml"));
  client.onWriteGhostContent(dornik::Action{});
  std::string ghost = service.service().store().ghostDocument("C:/Docs/Docs.xml");
  EXPECT_NE(ghost.find("<directory path=\"C:/Docs/Sub/\"/>"), std::string::npos) << ghost;
  EXPECT_NE(ghost.find("<file path=\"C:/Docs/Sub/a.txt\">\n    <size>12</size>\n    <modified>99</modified>"),
            std::string::npos)
      << ghost;
  EXPECT_EQ(ghost.find("other"), std::string::npos);
  std::string text = logText();
  EXPECT_NE(text.find("Cache Manager call : deletePolicy in CCMClient::deletePolicy() failed with error : -5"),
            std::string::npos);
  EXPECT_NE(text.find("Cache Manager call : getDir in CCMClient::getDir() failed with error : 0"), std::string::npos);
}

TEST_F(ClientTest, FailedFetchLeavesTheOutputFileAndBadFilesAreReported) {
  localservice::ServiceConfig failing;
  failing.injectedAnswers["getStoreContentsForPath"] = {-5, 1};
  testsupport::RunningService service(failing);
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config(service.server(), "<outputFile path='" + dir_.file("out.xml") + "'/>"));
  testsupport::writeFile(dir_.file("out.xml"), "previous good content");
  client.getDir("c:\\docs", dir_.file("out.xml"));
  EXPECT_EQ(testsupport::readFile(dir_.file("out.xml")), "previous good content");
  EXPECT_NE(logText().find("Cache Manager call : getDir in CCMClient::getDir() failed with error : -5"), std::string::npos);
  testsupport::writeFile(dir_.file("bad.xml"), "<expired>");
  client.deletePolicy(dir_.file("bad.xml"));
  EXPECT_NE(logText().find("no values in xml file to delete"), std::string::npos);
  EXPECT_THROW(client.writeGhostContent(dir_.file("bad.xml")), std::runtime_error);
  testsupport::writeFile(dir_.file("emptypath.xml"), "<ghosts><g><file path=''/></g></ghosts>");
  EXPECT_THROW(client.writeGhostContent(dir_.file("emptypath.xml")), std::out_of_range);
}

TEST_F(ClientTest, PreconditionTextsOfTheActionHandlers) {
  CCMClient client(ZR::CRunContext::processDefaults());
  client.configure(config("127.0.0.1:1"));
  struct Case {
    void (CCMClient::*handler)(const dornik::Action&);
    const char* text;
  } cases[] = {
      {&CCMClient::onGetContents, "no output file present to store dir content."},
      {&CCMClient::onGetPolicies, "no output file present to store policies."},
      {&CCMClient::onSetSymLinks, "no symLink xml file present to update data on CacheManager."},
      {&CCMClient::onDeletePolicies, "no value for expired  xml file present "},
      {&CCMClient::onWriteGhostContent, "no ghostContent xml file present to update data on CacheManager."},
  };
  for (const Case& c : cases) {
    try {
      (client.*c.handler)(dornik::Action{});
      ADD_FAILURE() << c.text;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
  }
}

TEST_F(ClientTest, TimeStampFileSetsTheStampSent) {
  struct Case {
    const char* content;  // null: no file
    const char* sent;
  } cases[] = {{"12345.75", "12345"}, {"1099511627776", "1099511627776"}, {"", "0"}, {nullptr, "0"}, {"abc", "0"}};
  for (const Case& c : cases) {
    testsupport::WireRecorder recorder([](const testsupport::RecordedRequest& r) {
      std::string op = testsupport::operationOf(r.envelope());
      std::string value = op == "login" ? "recorded-key" : "<policies/>";
      return testsupport::soapResponse(op, "<r>" + value + "</r>");
    });
    platform::Env::defaultEnv()->removeFile(dir_.file("stamp.txt"));
    if (c.content) testsupport::writeFile(dir_.file("stamp.txt"), c.content);
    CCMClient client(ZR::CRunContext::processDefaults());
    client.configure(config(recorder.server(), "<timestamp_file path='" + dir_.file("stamp.txt") + "'/>"));
    client.getPolicies(dir_.file("policies.xml"));
    auto requests = recorder.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().envelope().find("<in1>" + std::string(c.sent) + "</in1>"), std::string::npos)
        << (c.content ? c.content : "no file") << "\n" << requests.back().envelope();
  }
}

}  // namespace
