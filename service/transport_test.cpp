// The session against the real service over TLS, through a proxy, and when
// the transport fails.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "service/velkan_exceptions.h"
#include "service/error_messages.h"
#include "platform/testing/tcp.h"
#include "service/soap_session.h"
#include "tests/test_support.h"
#include "tests/forwarding_proxy.h"
#include "tests/local_service_fixture.h"
#include "tests/logging_fixture.h"
#include "tests/tls_material.h"
#include "tests/wire_recorder.h"

namespace {

using velkan::CSoapSession;
using velkan::ServiceOptions;

class TransportTest : public testsupport::LoggingTest {
 protected:
  // The text of the CSoapException a login throws ("" when none).
  std::string loginFailure(const std::string& server, const ServiceOptions& options) {
    CSoapSession session(server, options, log());
    try {
      session.login("agent");
    } catch (const velkan::CSoapException& e) {
      return e.what();
    }
    return "";
  }
};

std::string failureText(int code) {
  return "Soap call failed, result code is " + std::to_string(code) + ".\n" +
         velkan::CErrorMessageRegistry::instance().transportMessage(code) + "\n";
}

TEST_F(TransportTest, HttpsWithTheRightCaWorksAndOtherwiseFailsWithTheTlsStatus) {
  testsupport::TlsMaterial tls = testsupport::makeTlsMaterial(dir_.path());
  localservice::ServiceConfig config;
  config.tlsCertificate = tls.serverCertificate;
  config.tlsKey = tls.serverKey;
  testsupport::RunningService service(config);
  // The key is read where it is, never copied beside the store.
  EXPECT_FALSE(testsupport::fileExists(service.root() + "/.server.pem"));
  std::string https = "https://localhost:" + std::to_string(service.port());
  ServiceOptions trusting;
  trusting.caDirectory = tls.caFolder;
  {
    CSoapSession session(https, trusting, log());
    EXPECT_EQ(session.login("agent").size(), 64u);
  }
  ServiceOptions untrusting;
  untrusting.caDirectory = tls.otherCaFolder;
  EXPECT_EQ(loginFailure(https, untrusting), failureText(22));
  // The certificate names localhost, not the address.
  EXPECT_EQ(loginFailure("https://127.0.0.1:" + std::to_string(service.port()), trusting), failureText(22));
  ServiceOptions noCa;
  noCa.caDirectory = dir_.file("no-such-folder");
  EXPECT_EQ(loginFailure(https, noCa), failureText(22));
}

TEST_F(TransportTest, ProxyReceivesAuthorizationEvenWithEmptyCredentials) {
  testsupport::RunningService service;
  struct Case {
    const char* user;
    const char* password;
    const char* header;
  } cases[] = {{"ann", "secret", "Basic YW5uOnNlY3JldA=="}, {"", "", "Basic Og=="}};
  for (const Case& c : cases) {
    testsupport::ForwardingProxy proxy;
    ServiceOptions options;
    options.setProxy("127.0.0.1", std::to_string(proxy.port()) + "abc", c.user, c.password);
    EXPECT_EQ(options.proxyPort, proxy.port());
    CSoapSession session(service.server(), options, log());
    EXPECT_EQ(session.login("agent").size(), 64u);
    ASSERT_EQ(proxy.authorizations().size(), 1u);
    EXPECT_EQ(proxy.authorizations()[0], c.header);
    EXPECT_EQ(proxy.requestLines()[0],
              "POST http://" + service.server() + "/cacheManager/services/CacheManager HTTP/1.1");
  }
  ServiceOptions none;
  none.setProxy("", "3128", "u", "p");
  EXPECT_TRUE(none.proxyHost.empty());
}

TEST_F(TransportTest, TransportFailuresCarryTheirStatusAndMessage) {
  // Where a connection to a closed port waits for its time-out (wine), the wait is short.
  ServiceOptions quick;
  quick.connectTimeoutSeconds = 3;
  EXPECT_EQ(loginFailure("127.0.0.1:1", quick), failureText(20));

  localservice::ServiceConfig dropping;
  dropping.dropAfterBytes = 100;
  testsupport::RunningService service(dropping);
  EXPECT_EQ(loginFailure(service.server(), ServiceOptions()), failureText(-1));

  // Answers only once the client has given up on it.
  std::atomic<bool> givenUp{false};
  testsupport::WireRecorder stalled([&givenUp](const testsupport::RecordedRequest&) {
    testsupport::waitUntil([&] { return givenUp.load(); });
    return testsupport::soapResponse("login", "<r>late</r>");
  });
  ServiceOptions impatient;
  impatient.receiveTimeoutSeconds = 1;
  EXPECT_EQ(loginFailure(stalled.server(), impatient), failureText(-1));
  givenUp = true;

  CSoapSession session("127.0.0.1:1", ServiceOptions(), log());
  try {
    session.checkSoapStatus(39);
    FAIL();
  } catch (const velkan::CSoapException& e) {
    EXPECT_STREQ(e.what(), "Soap call failed, result code is 39.\n\n");
  }
  EXPECT_NO_THROW(session.checkSoapStatus(0));
}

TEST_F(TransportTest, OversizedRepliesFailTheCall) {
  testsupport::WireRecorder huge([](const testsupport::RecordedRequest&) {
    return testsupport::soapResponse("login", "<loginReturn>" + std::string(3 << 20, 'k') + "</loginReturn>");
  });
  ServiceOptions small;
  small.maxReplyBytes = 1 << 20;
  EXPECT_NE(loginFailure(huge.server(), small), "") << "a 3 MiB reply passed a 1 MiB bound";
  EXPECT_EQ(loginFailure(huge.server(), ServiceOptions()), "") << "the default bound is far above 3 MiB";
}

TEST_F(TransportTest, RepliesWithTooManyAttributesFailAtOnce) {
  std::string attributes;
  for (int i = 0; i < 40000; ++i) attributes += " a" + std::to_string(i) + "=\"v\"";
  testsupport::WireRecorder hostile([&](const testsupport::RecordedRequest&) {
    return testsupport::soapResponse("login", "<loginReturn" + attributes + ">key</loginReturn>");
  });
  auto started = std::chrono::steady_clock::now();
  EXPECT_NE(loginFailure(hostile.server(), ServiceOptions()), "");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 2.0);
}

// A service that sends its reply a byte now and then never lets a single
// read time out; the reply as a whole has its deadline all the same.
TEST_F(TransportTest, AReplyThatDripsEndsAtItsDeadline) {
  platform::TcpListener listener;
  ASSERT_TRUE(listener.listen("127.0.0.1"));
  std::atomic<bool> done{false};
  std::thread dripper([&] {
    auto connection = listener.accept(10000);
    if (!connection) return;
    char request[4096];
    connection->read(request, sizeof request, 2000);
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n<x>";
    for (size_t i = 0; !done.load(); ++i) {
      if (!connection->writeAll(std::string(1, i < reply.size() ? reply[i] : 'x'))) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  ServiceOptions patient;
  patient.receiveTimeoutSeconds = 2;  // each byte comes well within it
  auto started = std::chrono::steady_clock::now();
  EXPECT_NE(loginFailure("127.0.0.1:" + std::to_string(listener.port()), patient), "");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  done.store(true);
  dripper.join();
  EXPECT_LT(seconds, 5.0);
  EXPECT_GE(seconds, 1.5);
}

TEST(Endpoint, ServerSettingRules) {
  struct Case {
    const char* server;
    const char* endpoint;
  } cases[] = {
      {"cm.example", "http://cm.example/cacheManager/services/CacheManager"},
      {"cm.example:8080", "http://cm.example:8080/cacheManager/services/CacheManager"},
      {"https://cm.example:8443", "https://cm.example:8443/cacheManager/services/CacheManager"},
      {"HTTP://CM.example", "HTTP://CM.example/cacheManager/services/CacheManager"},
      {"HtTpS://x", "HtTpS://x/cacheManager/services/CacheManager"},
  };
  for (const Case& c : cases) EXPECT_EQ(velkan::buildEndpoint(c.server), c.endpoint) << c.server;
}

TEST(ErrorMessages, TablesAndToolkitMapping) {
  const auto& registry = velkan::CErrorMessageRegistry::instance();
  EXPECT_EQ(registry.transportMessage(22), "SOAP_SSL_ERROR : An SSL error occured  ");
  EXPECT_EQ(registry.transportMessage(-1), "SOAP_EOF : Unexpected end of file, no input, or timeout receiving data  ");
  EXPECT_EQ(registry.transportMessage(38), "SOAP_LENGTH");
  EXPECT_EQ(registry.transportMessage(39), "");
  EXPECT_EQ(registry.serviceMessage(-9), "Storage Full  : No more storage space");
  EXPECT_EQ(registry.serviceMessage(-11), "");
  EXPECT_EQ(velkan::toTransportCode(28), 20);  // the toolkit's TCP error
  EXPECT_EQ(velkan::toTransportCode(30), 22);  // TLS
  EXPECT_EQ(velkan::toTransportCode(29), 21);  // HTTP
  EXPECT_EQ(velkan::toTransportCode(404), 21);
  EXPECT_EQ(velkan::toTransportCode(-1), -1);
  EXPECT_EQ(velkan::toTransportCode(47), 1047);
  try {
    velkan::throwCacheManagerError("call failed: ", -9);
  } catch (const velkan::CCacheManagerSpaceLimitException& e) {
    EXPECT_EQ(e.errorCode(), -9);
    EXPECT_STREQ(e.what(), "call failed: Storage Full  : No more storage space\n");
  }
  try {
    velkan::throwCacheManagerError("x", 7);
  } catch (const velkan::CCacheManagerSpaceLimitException&) {
    ADD_FAILURE() << "not a space-limit code";
  } catch (const velkan::CCacheManagerException& e) {
    EXPECT_EQ(e.errorCode(), 7);
    EXPECT_STREQ(e.what(), "x\n");
  }
}

}  // namespace
