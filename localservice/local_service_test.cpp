// cachemanager-local as its clients see it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/env.h"
#include "platform/testing/tcp.h"
#include "platform/process.h"
#include "service/soap_session.h"
#include "service/velkan_exceptions.h"
#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"

namespace {

using velkan::CSoapSession;
using velkan::ServiceOptions;

class LocalServiceTest : public testsupport::LoggingTest {
 protected:
  // A file with the content, named after the remote path so that clients
  // on several threads never share one.
  std::unique_ptr<ZR::CFile> fileWith(const std::string& content, const std::string& remotePath = "") {
    std::string name = "content-" + std::to_string(std::hash<std::string>()(remotePath)) + ".bin";
    testsupport::writeFile(dir_.file(name), content);
    return std::make_unique<ZR::CFile>(dir_.file(name), "r");
  }
  // Creates, attaches and finalizes; returns the three answers joined.
  std::string upload(CSoapSession& s, const std::string& key, const std::string& path, const std::string& content) {
    std::string a = s.createFile(key, path, "m=1\n");
    std::string b = s.writeFileAttachment(key, path, fileWith(content, path), key);
    std::string c = s.finalizeFile(key, path);
    return a + " " + b + " " + c;
  }
};

TEST_F(LocalServiceTest, EveryOperationAnswers) {
  testsupport::RunningService service;
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  EXPECT_EQ(upload(s, key, "c:\\docs\\a.txt", "hello"), "-2 -2 -2");
  EXPECT_EQ(upload(s, key, "c:\\docs\\sub\\b.txt", "world!"), "-2 -2 -2");
  std::string contents = s.getStoreContentsForPath(key, "c:\\docs");
  EXPECT_NE(contents.find("path=\"c:\\docs\\a.txt\" size=\"5\""), std::string::npos) << contents;
  EXPECT_NE(contents.find("c:\\docs\\sub\\b.txt"), std::string::npos);
  EXPECT_EQ(s.getStoreContentsForPath(key, "c:\\doc").find("a.txt"), std::string::npos);  // no plain prefix match

  EXPECT_EQ(s.createFile(key, "c:\\m.txt", "old=1\n"), "-2");
  EXPECT_EQ(s.writeFileAttachment(key, "c:\\m.txt", fileWith("x"), key), "-2");
  EXPECT_EQ(s.finalizeFileWithMetadata(key, "c:\\m.txt", "new=2\n"), "-2");
  const char* attr = nullptr;
  EXPECT_EQ(s.proxy().getFileAttr(key.c_str(), "c:\\m.txt", attr), 0);
  EXPECT_NE(std::string(attr).find("new=2"), std::string::npos);

  EXPECT_EQ(s.deleteFile(key, "c:\\docs\\a.txt"), "-2");
  EXPECT_EQ(s.deleteFile(key, "c:\\docs\\a.txt"), "-5");
  EXPECT_EQ(s.finalizeFile(key, "c:\\never"), "-5");
  EXPECT_EQ(s.createFile(key, "c:\\noattach", ""), "-2");
  EXPECT_EQ(s.finalizeFile(key, "c:\\noattach"), "-7");

  EXPECT_EQ(s.setAgentSymLinks(key, "<links><l from='a' to='b'/></links>"), "-2");
  const char* links = nullptr;
  EXPECT_EQ(s.proxy().getAgentSymLinks(key.c_str(), links), 0);
  EXPECT_STREQ(links, "<links><l from='a' to='b'/></links>");

  EXPECT_EQ(s.writeGhostFileAttachment(key, "C:/Docs/Docs.xml", "<contents><file path='C:/Docs/a'/></contents>"), "-2");
  EXPECT_NE(service.service().store().ghostDocument("C:/Docs/Docs.xml").find("<contents>"), std::string::npos);
  EXPECT_EQ(s.writeGhostFileAttachment(key, "C:/Docs/Bad.xml", "<contents>"), "-6");

  testsupport::writeFile(service.root() + "/store/policies/p1.xml", "<policy id='p1'><target>/c/Data</target></policy>");
  std::string policies = s.getPoliciesForAgent(key, 0);
  EXPECT_NE(policies.find("<policy id=\"p1\">"), std::string::npos) << policies;
  EXPECT_EQ(s.getPoliciesForAgent(key, int64_t{1} << 40).find("p1"), std::string::npos);
  EXPECT_EQ(s.deletePolicy(key, "p1"), "-2");
  EXPECT_EQ(s.deletePolicy(key, "p1"), "-5");
  EXPECT_EQ(s.deletePolicy(key, "../catalogue"), "-5");

  const char* metrics = nullptr;
  EXPECT_EQ(s.proxy().getStoreMetricsForUser(key.c_str(), metrics), 0);
  // Every stored byte counts: "world!" and "x", the deleted "hello" kept
  // as an earlier version, the symbolic-link text (36) and the ghost
  // document (44).
  EXPECT_NE(std::string(metrics).find("bytes=\"92\""), std::string::npos) << metrics;
  velkan::Base64Block block;
  EXPECT_EQ(s.proxy().getFile(key.c_str(), "c:\\docs\\sub\\b.txt", 0, 2, 3, block), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data), static_cast<size_t>(block.size)), "rld");
  const char* answer = nullptr;
  EXPECT_EQ(s.proxy().writeFileBlock(key.c_str(), "c:\\x", velkan::Base64Block{}, 0, 0, answer), 0);
  EXPECT_STREQ(answer, "-10");
  EXPECT_EQ(s.proxy().logout(key.c_str(), answer), 0);
  EXPECT_STREQ(answer, "-2");
  EXPECT_EQ(s.createFile(key, "c:\\after-logout", ""), "-3");
}

TEST_F(LocalServiceTest, LargeAndBoundaryFilesArriveByteIdentical) {
  testsupport::RunningService service;
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  auto& store = service.service().store();
  constexpr size_t kInCatalogue = localservice::CacheStore::kCatalogueContentBytes;
  for (size_t size : {size_t{0}, size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, kInCatalogue, kInCatalogue + 1,
                      size_t{50} << 20}) {
    std::string content = testsupport::patterned(size);
    std::string path = "c:\\big\\" + std::to_string(size);
    size_t filesBefore = testsupport::filesBelow(store.root() + "/store").size();
    ASSERT_EQ(upload(s, key, path, content), "-2 -2 -2") << size;
    EXPECT_TRUE(testsupport::storedContent(store, path) == content) << size;
    // Small contents have no file of their own; nothing is left on its way.
    EXPECT_EQ(store.content(path).file.empty(), size <= kInCatalogue) << size;
    EXPECT_EQ(testsupport::filesBelow(store.root() + "/store").size(), filesBefore + (size <= kInCatalogue ? 0 : 1));
    EXPECT_TRUE(testsupport::filesBelow(store.root() + "/incoming").empty()) << size;
    // Ranges read alike from either: the middle, the end, past the end.
    if (size >= 2 && size <= kInCatalogue + 1) {
      EXPECT_EQ(s.getFile(key, path, static_cast<int64_t>(size / 2), 7), content.substr(size / 2, 7)) << size;
      EXPECT_EQ(s.getFile(key, path, static_cast<int64_t>(size - 1), 7), content.substr(size - 1)) << size;
      EXPECT_EQ(s.getFile(key, path, static_cast<int64_t>(size + 5), 7), "") << size;
    }
  }
}

TEST_F(LocalServiceTest, KeysAgentsQuotaAndInjectedAnswers) {
  testsupport::writeFile(dir_.file("agents.xml"), "<agents><agent name='ann'>  secret-ann </agent></agents>");
  localservice::ServiceConfig config;
  config.agentsFile = dir_.file("agents.xml");
  config.quotaBytes = 10;
  config.injectedAnswers["createFile"] = {-9, 1};
  testsupport::RunningService service(config);
  CSoapSession s(service.server(), ServiceOptions(), log());
  EXPECT_EQ(s.login("someone else"), "-4");
  std::string key = s.login("secret-ann");
  EXPECT_EQ(key.size(), 64u);
  EXPECT_EQ(s.createFile("wrong-key", "c:\\a", ""), "-9");  // the injected answer comes first, once
  EXPECT_EQ(s.createFile("wrong-key", "c:\\a", ""), "-3");
  EXPECT_EQ(upload(s, key, "c:\\small", "0123456789"), "-2 -2 -2");
  EXPECT_EQ(upload(s, key, "c:\\more", "x"), "-2 -9 -7");
  EXPECT_EQ(service.service().store().usedBytes(), 10);
}

TEST_F(LocalServiceTest, HostilePathsStayInsideTheRoot) {
  testsupport::RunningService service;
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  const std::string hostile[] = {"..\\..\\..\\etc\\passwd", "/etc/passwd", "c:\\..\\..\\outside", "../../outside",
                                 "c:/x/../../../../tmp/evil", std::string("nul\0byte", 8)};
  for (const std::string& path : hostile) EXPECT_EQ(upload(s, key, path, "payload"), "-2 -2 -2") << path;
  EXPECT_EQ(s.createFile(key, std::string(5000, 'a'), ""), "-8");
  EXPECT_EQ(s.createFile(key, "", ""), "-8");
  // Everything the service wrote lies under its root.
  std::vector<std::string> names;
  platform::Env::defaultEnv()->listDirectory(service.root(), &names);
  EXPECT_EQ(names, std::vector<std::string>{"store"});
  EXPECT_EQ(testsupport::storedContent(service.service().store(), "/etc/passwd"), "payload");
}

// Raw requests that no client of ours would send. Returns what came back
// within a short wait (the connection stays open: a request whose sender
// half-closes its side is dropped unanswered by the toolkit).
std::string rawExchange(int port, const std::string& request) {
  auto stream = platform::TcpStream::connect("127.0.0.1", port);
  if (!stream) return "<no connection>";
  stream->writeAll(request);
  std::string answer;
  char buffer[4096];
  while (answer.find("</SOAP-ENV:Envelope>") == std::string::npos) {
    int64_t n = stream->read(buffer, sizeof buffer, 1500);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  return answer;
}

std::string post(const std::string& contentType, const std::string& body) {
  return "POST /cacheManager/services/CacheManager HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nSOAPAction: \"\"\r\n\r\n" + body;
}

std::string dimeRecord(unsigned char flags, unsigned char tnf, const std::string& type, uint32_t declaredLength,
                       const std::string& data) {
  std::string r;
  r += static_cast<char>(0x08 | flags);
  r += static_cast<char>(tnf << 4);
  r += std::string("\0\0\0\0", 4);
  r += static_cast<char>(type.size() >> 8);
  r += static_cast<char>(type.size() & 0xFF);
  for (int shift = 24; shift >= 0; shift -= 8) r += static_cast<char>((declaredLength >> shift) & 0xFF);
  r += type + std::string((4 - type.size() % 4) % 4, '\0');
  return r + data;
}

TEST_F(LocalServiceTest, BadRequestsGetAFaultOrACloseNeverACrashOrAHalfFile) {
  testsupport::RunningService service;
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  ASSERT_EQ(s.createFile(key, "c:\\victim", ""), "-2");
  std::string envelope =
      "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:ns1=\"urn:com.orbek.cachemanager\"><SOAP-ENV:Body><ns1:writeFileAttachment><in0>" +
      key + "</in0><in1>c:\\victim</in1></ns1:writeFileAttachment></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  std::string envelopeRecord = dimeRecord(0x04, 2, "http://schemas.xmlsoap.org/soap/envelope/",
                                          static_cast<uint32_t>(envelope.size()),
                                          envelope + std::string((4 - envelope.size() % 4) % 4, '\0'));
  const std::string requests[] = {
      post("text/xml", "<SOAP-ENV:Envelope><unclosed>"),
      post("text/xml", std::string(100000, '<')),
      "GARBAGE\r\n\r\n",
      post("application/dime", envelopeRecord + dimeRecord(0x01, 1, "application/dime", 1024, "only-part-of-it")),
      post("application/dime", envelopeRecord + dimeRecord(0x02, 1, "application/dime", 0xFFFFFFF0u, "short")),
      post("application/dime", "\x08\x20\x00\x00\x00\x00\x00\x04\x7f\xff\xff\xff"),
  };
  for (const std::string& request : requests) rawExchange(service.port(), request);
  EXPECT_FALSE(service.service().store().content("c:\\victim").found);
  EXPECT_EQ(s.finalizeFile(key, "c:\\victim"), "-7");  // nothing half-received was attached
  std::vector<std::string> incoming;
  platform::Env::defaultEnv()->listDirectory(service.root() + "/store/incoming", &incoming);
  EXPECT_TRUE(incoming.empty());
  EXPECT_EQ(s.login("agent").size(), 64u);  // still serving
}

TEST_F(LocalServiceTest, RequestLinesWithoutAPathAreRefused) {
  testsupport::RunningService service;
  // Found by fuzzing: the toolkit's parser read past its line buffer here.
  for (const char* line : {"POST HTTP/1.1", "POST      HTTP/1.1", "GET HTTP/1.0", "POST  HTTP/"}) {
    std::string request = post("text/xml", "<x/>");
    request.replace(0, request.find("\r\n"), line);
    std::string answer = rawExchange(service.port(), request);
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << line << ": " << answer.substr(0, 80);
  }
  CSoapSession s(service.server(), ServiceOptions(), log());
  EXPECT_EQ(s.login("agent").size(), 64u);  // still serving
}

// An element with very many attributes (or namespace declarations), or a
// message with very many attribute names, is refused before its cost grows:
// the toolkit checks each name against every one seen before.
TEST_F(LocalServiceTest, MessagesWithTooManyAttributesAreRefusedAtOnce) {
  testsupport::RunningService service;
  for (const char* prefix : {"a", "xmlns:p"}) {
    std::string attributes;
    for (int i = 0; i < 40000; ++i) attributes += " " + std::string(prefix) + std::to_string(i) + "=\"v\"";
    std::string envelope = "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"" +
                           attributes + "><SOAP-ENV:Body/></SOAP-ENV:Envelope>";
    auto started = std::chrono::steady_clock::now();
    std::string answer = rawExchange(service.port(), post("text/xml", envelope));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 2.0) << prefix;
    EXPECT_EQ(answer.find("HTTP/1.1 200"), std::string::npos) << answer.substr(0, 200);
  }
  std::string elements;
  for (int i = 0; i < 40000; ++i) elements += "<e a" + std::to_string(i) + "=\"v\"/>";
  auto started = std::chrono::steady_clock::now();
  rawExchange(service.port(), post("text/xml", "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/"
                                              "soap/envelope/\"><SOAP-ENV:Body>" + elements + "</SOAP-ENV:Body></SOAP-ENV:Envelope>"));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 2.0);
  CSoapSession s(service.server(), ServiceOptions(), log());
  EXPECT_EQ(s.login("agent").size(), 64u);  // still serving
}

TEST_F(LocalServiceTest, EachAgentSeesOnlyItsOwnFiles) {
  testsupport::writeFile(dir_.file("agents.xml"),
                         "<agents><agent name='ann'>ann-secret</agent><agent name='bob'>bob-secret</agent></agents>");
  localservice::ServiceConfig config;
  config.agentsFile = dir_.file("agents.xml");
  testsupport::RunningService service(config);
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string ann = s.login("ann-secret"), bob = s.login("bob-secret");
  EXPECT_EQ(upload(s, ann, "c:\\ann\\diary.txt", "dear diary"), "-2 -2 -2");
  // To bob, ann's file does not exist: not listed, not readable, not his to replace or delete.
  EXPECT_EQ(s.getStoreContentsForPath(bob, "c:\\").find("diary"), std::string::npos);
  EXPECT_EQ(s.getFileAttr(bob, "c:\\ann\\diary.txt"), "-5");
  EXPECT_THROW(s.getFile(bob, "c:\\ann\\diary.txt", 0, 100), velkan::CSoapException);
  EXPECT_EQ(s.deleteFile(bob, "c:\\ann\\diary.txt"), "-5");
  EXPECT_EQ(upload(s, bob, "c:\\ann\\diary.txt", "bob was here"), "-2 -2 -2");
  EXPECT_EQ(s.getFile(ann, "c:\\ann\\diary.txt", 0, 100), "dear diary");
  EXPECT_EQ(s.getFile(bob, "c:\\ann\\diary.txt", 0, 100), "bob was here");
  EXPECT_NE(s.getStoreContentsForPath(ann, "c:\\").find("diary"), std::string::npos);
}

// Of two clients uploading one path, the one whose createFile came last
// finishes; the other is refused and never told its bytes are stored.
TEST_F(LocalServiceTest, AnUploadIsFinishedOnlyByTheSessionThatBeganIt) {
  testsupport::RunningService service;
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string a = s.login("agent"), b = s.login("agent");
  const std::string path = "c:\\shared.txt";
  EXPECT_EQ(s.createFile(a, path, "m=a\n"), "-2");
  EXPECT_EQ(s.createFile(b, path, "m=b\n"), "-2");
  EXPECT_EQ(s.writeFileAttachment(a, path, fileWith("from a", "a"), a), "-10");
  EXPECT_EQ(s.writeFileAttachment(b, path, fileWith("from b", "b"), b), "-2");
  EXPECT_EQ(s.finalizeFile(a, path), "-10");
  EXPECT_EQ(s.finalizeFile(b, path), "-2");
  EXPECT_EQ(testsupport::storedContent(service.service().store(), path), "from b");
}

TEST_F(LocalServiceTest, PathsAListingCannotCarryAreRefused) {
  testsupport::RunningService service;
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  for (const std::string& bad : {std::string("c:\\bell\x01.txt"), std::string("c:\\surrogate\xED\xA0\x80.txt"),
                                 std::string("c:\\nonchar\xEF\xBF\xBE.txt")}) {
    EXPECT_EQ(s.createFile(key, bad, ""), "-8") << bad;
  }
  EXPECT_EQ(upload(s, key, "c:\\caf\xC3\xA9 \xE6\x97\xA5.txt", "ok"), "-2 -2 -2");
  std::string error;
  std::unique_ptr<ZR::CXmlElement> listing(ZR::CXmlBuilder::textToDocument(s.getStoreContentsForPath(key, ""), error));
  EXPECT_TRUE(listing) << error;
}

TEST_F(LocalServiceTest, TheQuotaCountsEveryStoredByteAndNothingIsKeptForAnUnknownKey) {
  localservice::ServiceConfig config;
  config.quotaBytes = 1000;
  testsupport::RunningService service(config);
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  EXPECT_EQ(s.setAgentSymLinks(key, std::string(600, 'l')), "-2");
  EXPECT_EQ(s.writeGhostFileAttachment(key, "C:/g.xml", "<contents>" + std::string(300, ' ') + "</contents>"), "-2");
  EXPECT_EQ(s.setAgentSymLinks(key, std::string(900, 'l')), "-9");  // with the ghost, past the quota
  EXPECT_EQ(upload(s, key, "c:\\a.txt", std::string(200, 'a')), "-2 -9 -7");
  // A stranger's attachment is read and dropped: nothing reaches the disk.
  EXPECT_EQ(s.writeFileAttachment(std::string(64, 'k'), "c:\\x.txt", fileWith(std::string(5000, 'x'), "x"),
                                  std::string(64, 'k')),
            "-3");
  std::vector<std::string> incoming;
  platform::Env::defaultEnv()->listDirectory(service.root() + "/incoming", &incoming);
  EXPECT_TRUE(incoming.empty());
}

// Watches the moment the store takes an attachment's file: what the
// service then still counts as on its way.
class TakeoverWatchingEnv : public platform::EnvWrapper {
 public:
  TakeoverWatchingEnv() : EnvWrapper(platform::Env::defaultEnv()) {}
  std::atomic<std::atomic<int64_t>*> inFlight{nullptr};
  std::atomic<int64_t> seenAtTakeover{-1};

  platform::Status renameFile(const std::string& from, const std::string& to) override {
    std::atomic<int64_t>* counted = inFlight.load();
    if (counted && from.find("/incoming/") != std::string::npos) seenAtTakeover = counted->load();
    return target()->renameFile(from, to);
  }
};

// Bytes the store has taken are not counted as on their way as well: an
// attachment arriving on another connection meanwhile would find the quota
// full with them counted twice (70,000 + 70,000 of 100,000).
TEST_F(LocalServiceTest, BytesTheStoreTookNoLongerCountAsOnTheirWay) {
  TakeoverWatchingEnv env;
  localservice::ServiceConfig config;
  config.quotaBytes = 100000;
  testsupport::RunningService service(config, &env);
  env.inFlight = &service.service().attachmentBytesInFlight();
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  EXPECT_EQ(upload(s, key, "c:\\tune.bin", std::string(70000, 't')), "-2 -2 -2");
  EXPECT_EQ(env.seenAtTakeover.load(), 0);
  EXPECT_EQ(upload(s, key, "c:\\data.csv", "-1,2,3\n"), "-2 -2 -2");
}

// A disk that fills up under the store: writes fail and no byte is free.
class FullDiskEnv : public platform::EnvWrapper {
 public:
  explicit FullDiskEnv(std::string scope) : EnvWrapper(platform::Env::defaultEnv()), scope_(std::move(scope)) {}
  std::atomic<bool> full{false};

  platform::Status openWritable(const std::string& p, std::unique_ptr<platform::WritableFile>* f) override {
    platform::Status opened = target()->openWritable(p, f);
    if (opened && p.rfind(scope_, 0) == 0) *f = std::make_unique<Writer>(std::move(*f), full);
    return opened;
  }
  int64_t freeBytes(const std::string& p) override { return full.load() ? 0 : target()->freeBytes(p); }

 private:
  class Writer : public platform::WritableFile {
   public:
    Writer(std::unique_ptr<platform::WritableFile> inner, std::atomic<bool>& full) : inner_(std::move(inner)), full_(full) {}
    bool append(const char* data, size_t n) override { return !full_.load() && inner_->append(data, n); }
    bool sync() override { return inner_->sync(); }
    bool close() override { return inner_->close(); }

   private:
    std::unique_ptr<platform::WritableFile> inner_;
    std::atomic<bool>& full_;
  };
  std::string scope_;
};

// A full disk is answered as a full store (-9), never as a bad request, and
// the version stored before stays whole.
TEST_F(LocalServiceTest, AFullDiskIsAFullStoreAndKeepsTheLastGoodCopy) {
  testsupport::TempDir store;
  FullDiskEnv disk(store.path());
  localservice::ServiceConfig config;
  config.root = store.file("store");
  testsupport::RunningService service(config, &disk);
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  EXPECT_EQ(upload(s, key, "c:\\a.txt", "first version"), "-2 -2 -2");
  disk.full.store(true);
  EXPECT_EQ(upload(s, key, "c:\\a.txt", std::string(300000, 'n')), "-2 -9 -7");
  EXPECT_EQ(testsupport::storedContent(service.service().store(), "c:\\a.txt"), "first version");
}

// No web page can reach the store: another site's Origin, a Host that is
// not ours (a name pointed at this machine) and the bodies a page may send
// without asking first are refused before the body is read, and no answer
// carries an Access-Control header. Listed origins and host names are taken.
TEST_F(LocalServiceTest, BrowsersAreRefusedBeforeTheBodyIsRead) {
  localservice::ServiceConfig config;
  config.allowedOrigins = {"http://ours.example"};
  config.allowedHosts = {"cache.example"};
  testsupport::RunningService service(config);
  CSoapSession s(service.server(), ServiceOptions(), log());
  std::string key = s.login("agent");
  ASSERT_EQ(upload(s, key, "c:\\kept.txt", "kept"), "-2 -2 -2");
  std::string remove = "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "xmlns:ns1=\"urn:com.orbek.cachemanager\"><SOAP-ENV:Body><ns1:deleteFile><in0>" + key +
                       "</in0><in1>c:\\kept.txt</in1></ns1:deleteFile></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  auto with = [&](const std::string& contentType, const std::string& extraHeader, const std::string& host) {
    std::string request = post(contentType, remove);
    request.replace(request.find("Host: 127.0.0.1"), 15, "Host: " + host);
    return request.insert(request.find("\r\n") + 2, extraHeader);
  };
  struct Case {
    const char* name;
    std::string request;
    const char* status;
  } refused[] = {
      {"another site's page", with("text/xml", "Origin: http://evil.example\r\n", "127.0.0.1"), "403"},
      {"a name pointed at us", with("text/xml", "", "evil.example:8080"), "403"},
      {"a form's text", with("text/plain", "", "127.0.0.1"), "415"},
      {"a form's fields", with("application/x-www-form-urlencoded", "", "127.0.0.1"), "415"},
  };
  for (const Case& c : refused) {
    std::string answer = rawExchange(service.port(), c.request);
    EXPECT_EQ(answer.rfind(std::string("HTTP/1.1 ") + c.status, 0), 0u) << c.name << ": " << answer.substr(0, 200);
    EXPECT_EQ(answer.find("Access-Control"), std::string::npos) << c.name;
  }
  EXPECT_TRUE(service.service().store().content("c:\\kept.txt").found) << "nothing was deleted";
  for (const std::string& allowed : {with("text/xml", "Origin: http://ours.example\r\n", "127.0.0.1"),
                                     with("text/xml; charset=utf-8", "", "cache.example:443")}) {
    std::string answer = rawExchange(service.port(), allowed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 200);
    EXPECT_EQ(answer.find("Access-Control"), std::string::npos);
    ASSERT_TRUE(upload(s, key, "c:\\kept.txt", "kept") == "-2 -2 -2");
  }
}

TEST_F(LocalServiceTest, MimeAttachmentsAreRefused) {
  testsupport::RunningService service;
  std::string body = "--b\r\nContent-Type: text/xml\r\n\r\n<SOAP-ENV:Envelope xmlns:SOAP-ENV="
                     "\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns1=\"urn:com.orbek.cachemanager\">"
                     "<SOAP-ENV:Body><ns1:login><in0>agent</in0></ns1:login></SOAP-ENV:Body></SOAP-ENV:Envelope>\r\n"
                     "--b\r\nContent-Type: application/octet-stream\r\n\r\n" +
                     std::string(1 << 20, 'm') + "\r\n--b--\r\n";
  std::string answer = rawExchange(service.port(), post("multipart/related; boundary=b; type=\"text/xml\"", body));
  // Refused for its type before the body is read (415); a MIME part that
  // came in a DIME request would be refused by the attachment hook.
  EXPECT_EQ(answer.rfind("HTTP/1.1 415", 0), 0u) << answer.substr(0, 300);
}

// Requests sent before their answers came are not lost without a word:
// the first is answered with "Connection: close", and the connection ends.
TEST_F(LocalServiceTest, PipelinedRequestsAreRefusedOpenly) {
  testsupport::RunningService service;
  std::string body = "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "xmlns:ns1=\"urn:com.orbek.cachemanager\"><SOAP-ENV:Body><ns1:login><in0>agent</in0></ns1:login>"
                     "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
  auto stream = platform::TcpStream::connect("127.0.0.1", service.port());
  ASSERT_TRUE(stream);
  std::string request = post("text/xml", body);
  ASSERT_TRUE(stream->writeAll(request + request + request));
  std::string answer;
  char buffer[4096];
  auto started = std::chrono::steady_clock::now();
  for (int64_t n; (n = stream->read(buffer, sizeof buffer, 5000)) > 0;) answer.append(buffer, static_cast<size_t>(n));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 4.0) << "left waiting";
  EXPECT_EQ(testsupport::countOf(answer, "HTTP/1.1 200"), 1u) << answer;
  EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
}

// A client that sends a byte now and then is cut off at the deadline of
// its request, and more clients than the service serves at once wait
// their turn instead of taking a thread each.
TEST_F(LocalServiceTest, SlowClientsAndTooManyConnectionsAreBounded) {
  localservice::ServiceConfig config;
  config.timeoutSeconds = 2;
  config.maxConnections = 1;
  testsupport::RunningService service(config);
  auto dripping = platform::TcpStream::connect("127.0.0.1", service.port());
  ASSERT_TRUE(dripping);
  std::atomic<bool> served{false};
  std::thread waiting([&] {
    CSoapSession s(service.server(), ServiceOptions(), log());
    served.store(s.login("agent").size() == 64);
  });
  std::string request = post("text/xml", "<x/>");
  auto started = std::chrono::steady_clock::now();
  bool cutOff = false;
  for (size_t i = 0; i < request.size() && !cutOff; ++i) {
    cutOff = !dripping->writeAll(request.substr(i, 1));
    char byte;
    if (dripping->read(&byte, 1, 300) == 0) cutOff = true;  // the service closed it
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  waiting.join();
  EXPECT_TRUE(cutOff);
  EXPECT_LT(seconds, 5.0);
  EXPECT_TRUE(served.load()) << "the waiting client was served once the slot was free";
}

// Found by fuzzing: a DIME request, then a HEAD request on the same
// connection had the toolkit send the first request's attachments.
TEST_F(LocalServiceTest, AHeadRequestAfterAnAttachmentIsServedSafely) {
  testsupport::RunningService service;
  std::string input = testsupport::readFile(std::string(ZR_SOURCE_DIR) + "/fuzz/corpus/fuzz_service_request/dime-then-head");
  ASSERT_FALSE(input.empty());
  rawExchange(service.port(), input);
  CSoapSession s(service.server(), ServiceOptions(), log());
  EXPECT_EQ(s.login("agent").size(), 64u);  // still serving
}

TEST_F(LocalServiceTest, StringPartsTypedAsTheSoapEncodingsStringAreRead) {
  testsupport::RunningService service;
  auto login = [&](const std::string& in0) {
    std::string envelope =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><soapenv:Envelope "
        "xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<soapenv:Body><ns1:login soapenv:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
        "xmlns:ns1=\"urn:com.orbek.cachemanager\">" +
        in0 + "</ns1:login></soapenv:Body></soapenv:Envelope>";
    return rawExchange(service.port(), post("text/xml; charset=utf-8", envelope));
  };
  const std::string typed[] = {
      "<in0 xsi:type=\"soapenc:string\" xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">agent</in0>",
      "<in0 xsi:type=\"xsd:string\">agent</in0>",
      "<in0>agent</in0>",
  };
  for (const std::string& in0 : typed) {
    std::string answer = login(in0);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << in0 << ": " << answer;
    EXPECT_NE(answer.find("<loginReturn>"), std::string::npos) << in0 << ": " << answer;
  }
  std::string wrong = login("<in0 xsi:type=\"xsd:int\">5</in0>");
  EXPECT_NE(wrong.find("SOAP-ENV:Fault"), std::string::npos) << wrong;
}

TEST_F(LocalServiceTest, ConcurrentClients) {
  testsupport::RunningService service;
  std::vector<std::thread> clients;
  std::atomic<int> good{0};
  for (int c = 0; c < 6; ++c) {
    clients.emplace_back([&, c] {
      CSoapSession s(service.server(), ServiceOptions(), log());
      std::string key = s.login("agent");
      for (int i = 0; i < 10; ++i) {
        std::string path = "c:\\client" + std::to_string(c) + "\\" + std::to_string(i);
        std::string content(1000 + i * 100 + c, static_cast<char>('a' + c));
        if (upload(s, key, path, content) == "-2 -2 -2" &&
            testsupport::storedContent(service.service().store(), path) == content) {
          ++good;
        }
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(good.load(), 60);
}

TEST(LocalServiceProgram, ListensAndRefusesBadArguments) {
  testsupport::TempDir dir;
  platform::ChildProcess program;
  ASSERT_TRUE(program.start({CACHEMANAGER_LOCAL_PATH, "--root", dir.file("root"), "--port", "0"}));
  std::string line;
  ASSERT_TRUE(program.readLine(line, 10000));
  ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
  int port = std::atoi(line.substr(23).c_str());
  EXPECT_GT(port, 0);
  std::string unknown =
      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
      "<ns1:nothing xmlns:ns1=\"urn:com.orbek.cachemanager\"/></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  EXPECT_NE(rawExchange(port, post("text/xml", unknown)).find("<faultcode>SOAP-ENV:Client</faultcode>"),
            std::string::npos);
  program.stop();
  auto bad = testsupport::run({CACHEMANAGER_LOCAL_PATH, "--port", "99999"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.standardError.find("usage: cachemanager-local"), std::string::npos);
}

}  // namespace
