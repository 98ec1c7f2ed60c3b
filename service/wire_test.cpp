// What the client puts on the wire, read back by an independent parser.
#include <gtest/gtest.h>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "service/velkan_exceptions.h"
#include "service/soap_session.h"
#include "tests/logging_fixture.h"
#include "tests/test_support.h"
#include "tests/wire_recorder.h"

namespace {

using testsupport::RecordedRequest;
using testsupport::WireRecorder;
using Headers = std::vector<std::pair<std::string, std::string>>;

class WireTest : public testsupport::LoggingTest {
 protected:
  std::unique_ptr<ZR::CFile> fileWith(const std::string& content) {
    testsupport::writeFile(dir_.file("content.bin"), content);
    return std::make_unique<ZR::CFile>(dir_.file("content.bin"), "r");
  }
};

Headers plainHeaders(const std::string& host) {
  return {{"Host", host},
          {"User-Agent", "gSOAP/2.7"},
          {"Transfer-Encoding", "chunked"},
          {"Connection", "keep-alive"},
          {"SOAPAction", "\"\""},
          {"Content-Type", "text/xml; charset=utf-8"}};
}

Headers dimeHeaders(const std::string& host) {
  Headers h = plainHeaders(host);
  h.insert(h.begin() + 2, {"Content-Type", "application/dime"});
  return h;
}

TEST_F(WireTest, PlainCallHeadersAndEnvelope) {
  WireRecorder recorder;
  velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log());
  EXPECT_EQ(session.login("auth & <text>"), "-2");
  auto requests = recorder.requests();
  ASSERT_EQ(requests.size(), 1u);
  const RecordedRequest& r = requests[0];
  EXPECT_EQ(r.requestLine, "POST /cacheManager/services/CacheManager HTTP/1.1");
  EXPECT_EQ(r.headers, plainHeaders(recorder.server()));
  EXPECT_FALSE(r.dime);
  const std::string& envelope = r.envelope();
  EXPECT_NE(envelope.find("SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\""), std::string::npos);
  EXPECT_NE(envelope.find("<ns1:login><in0>auth &amp; &lt;text&gt;</in0></ns1:login>"), std::string::npos) << envelope;
  EXPECT_EQ(envelope.find("xsi:type"), std::string::npos);
  EXPECT_EQ(envelope.find("SOAP-ENV:Header"), std::string::npos);
}

void expectFileRecords(const RecordedRequest& r, const std::string& content, const std::string& id) {
  ASSERT_TRUE(r.dime);
  ASSERT_GE(r.records.size(), 2u);
  EXPECT_TRUE(r.records[0].messageBegin);
  EXPECT_EQ(r.records[0].type, "http://schemas.xmlsoap.org/soap/envelope/");
  EXPECT_EQ(r.records[1].type, "application/dime");
  EXPECT_EQ(r.records[1].typeFormat, 1);
  EXPECT_EQ(r.records[1].id, id);
  std::string joined;
  for (size_t i = 1; i < r.records.size(); ++i) {
    const auto& record = r.records[i];
    bool last = i + 1 == r.records.size();
    EXPECT_EQ(record.chunked, !last) << "record " << i;
    EXPECT_EQ(record.messageEnd, last) << "record " << i;
    EXPECT_EQ(record.data.size(), last ? content.size() % 1024 : 1024u) << "record " << i;
    EXPECT_TRUE(i == 1 || (record.type.empty() && record.id.empty())) << "record " << i;
    joined += record.data;
  }
  EXPECT_EQ(joined, content);
  EXPECT_EQ(r.records.size(), 2 + content.size() / 1024);
}

TEST_F(WireTest, FileAttachmentsStreamIn1024ByteRecords) {
  WireRecorder recorder;
  velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log());
  std::string twoKiB(2048, '\0'), odd(2500, '\0');
  for (size_t i = 0; i < twoKiB.size(); ++i) twoKiB[i] = static_cast<char>(i * 7);
  for (size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<char>(i * 13);
  EXPECT_EQ(session.writeFileAttachment("k3y", "c:\\a.doc", fileWith(twoKiB), "attach-id"), "-2");
  EXPECT_EQ(session.writeFileAttachment("k3y", "c:\\b.doc", fileWith(odd), "attach-id"), "-2");
  EXPECT_EQ(session.writeFileAttachment("k3y", "c:\\empty", fileWith(""), "attach-id"), "-2");
  auto requests = recorder.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].headers, dimeHeaders(recorder.server()));
  EXPECT_NE(requests[0].envelope().find("<ns1:writeFileAttachment><in0>k3y</in0><in1>c:\\a.doc</in1>"),
            std::string::npos);
  expectFileRecords(requests[0], twoKiB, "attach-id");
  EXPECT_EQ(requests[0].records.size(), 4u);  // envelope, two full records, one empty
  expectFileRecords(requests[1], odd, "attach-id");
  ASSERT_EQ(requests[2].records.size(), 2u);  // an empty file: an empty attachment
  EXPECT_TRUE(requests[2].records[1].data.empty());
  EXPECT_TRUE(requests[2].records[1].messageEnd);
}

TEST_F(WireTest, AfterADimeCallPlainCallsAreDimeMessagesToo) {
  WireRecorder recorder;
  velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log());
  session.writeGhostFileAttachment("k", "C:/Docs/Sub/Sub.xml", "<contents/>");
  session.finalizeFile("k", "c:\\a.doc");
  session.getPoliciesForAgent("k", int64_t{1} << 40);
  auto requests = recorder.requests();
  ASSERT_EQ(requests.size(), 3u);
  ASSERT_EQ(requests[0].records.size(), 2u);
  EXPECT_EQ(requests[0].records[1].type, "text/xml");
  EXPECT_EQ(requests[0].records[1].id, "");
  EXPECT_EQ(requests[0].records[1].data, "<contents/>");
  EXPECT_FALSE(requests[0].records[1].chunked);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(requests[i].headers, dimeHeaders(recorder.server()));
    ASSERT_EQ(requests[i].records.size(), 1u);
    EXPECT_TRUE(requests[i].records[0].messageBegin && requests[i].records[0].messageEnd);
  }
  EXPECT_NE(requests[2].envelope().find("<in1>1099511627776</in1>"), std::string::npos) << requests[2].envelope();
}

// Records what the transport reports before each attachment read.
struct RecordingAccounting : velkan::ByteAccounting {
  std::vector<int32_t> reports;
  void accountBytes(int32_t count) override {
    reports.push_back(count);
    throw std::runtime_error("accounting trouble never stops a transfer");
  }
};

TEST_F(WireTest, EveryAttachmentReadIsCountedFirstAndGhostsMayFollowFiles) {
  WireRecorder recorder;
  RecordingAccounting accounting;
  velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log(), &accounting);
  std::string content(2500, 'q');
  EXPECT_EQ(session.writeFileAttachment("k", "c:\\caf\xC3\xA9.doc", fileWith(content), "id"), "-2");
  EXPECT_EQ(session.writeGhostFileAttachment("k", "C:/a/a.xml", "<contents/>"), "-2");
  EXPECT_EQ(accounting.reports, (std::vector<int32_t>{1024, 1024, 1024}));
  auto requests = recorder.requests();
  ASSERT_EQ(requests.size(), 2u);
  std::string joined;
  for (size_t i = 1; i < requests[0].records.size(); ++i) joined += requests[0].records[i].data;
  EXPECT_EQ(joined, content);
  // UTF-8 travels as it is, not as character references.
  EXPECT_NE(requests[0].envelope().find("<in1>c:\\caf\xC3\xA9.doc</in1>"), std::string::npos);
  ASSERT_EQ(requests[1].records.size(), 2u);
  EXPECT_EQ(requests[1].records[1].data, "<contents/>");
  EXPECT_EQ(requests[1].records[1].type, "text/xml");
}

TEST_F(WireTest, ResponsesAreReadByPositionAndTypeChecked) {
  struct Case {
    std::string returnPart;
    std::string expected;  // empty: a CSoapException with this code
    int code;
  } cases[] = {
      {"<loginReturn>key-1</loginReturn>", "key-1", 0},
      {"<anyName>key-2</anyName>", "key-2", 0},
      {"<loginReturn xsi:type=\"xsd:string\">key-3</loginReturn>", "key-3", 0},
      // The SOAP encoding's string type, as SOAP-encoded stacks send every
      // string: by namespace, whatever the prefix; xsd:string in any of the
      // XML Schema years the namespace table accepts.
      {"<loginReturn xsi:type=\"soapenc:string\" xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">"
       "key-4</loginReturn>",
       "key-4", 0},
      {"<loginReturn xsi:type=\"s:string\" xmlns:s=\"http://www.w3.org/1999/XMLSchema\">key-6</loginReturn>", "key-6",
       0},
      {"<loginReturn xsi:type=\"xsd:int\">5</loginReturn>", "", 4},
      {"<loginReturn xsi:type=\"soapenc:int\" xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">5"
       "</loginReturn>",
       "", 4},
      {"<loginReturn xsi:type=\"o:string\" xmlns:o=\"urn:other\">key</loginReturn>", "", 4},
      {"", "", 16},
  };
  for (const Case& c : cases) {
    WireRecorder recorder([&](const RecordedRequest&) { return testsupport::soapResponse("login", c.returnPart); });
    velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log());
    if (c.code == 0) {
      try {
        EXPECT_EQ(session.login("x"), c.expected);
      } catch (const velkan::CSoapException& e) {
        ADD_FAILURE() << c.returnPart << ": " << e.what();
      }
      continue;
    }
    try {
      session.login("x");
      ADD_FAILURE() << "no exception for " << c.returnPart;
    } catch (const velkan::CSoapException& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Soap call failed, result code is " + std::to_string(c.code) + ".\n", 0), 0u)
          << e.what();
    }
  }
}

TEST_F(WireTest, FaultsEndWithTheirStatus) {
  auto fault = [](const std::string& code) {
    return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:x=\"urn:other\"><SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>" +
           code + "</faultcode><faultstring>it broke</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  };
  struct Case {
    const char* code;
    int status;
  } cases[] = {{"SOAP-ENV:Client", 1}, {"SOAP-ENV:Server", 2}, {"x:Other", 12}};
  for (const Case& c : cases) {
    WireRecorder recorder([&](const RecordedRequest&) { return fault(c.code); });
    velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log());
    try {
      session.login("x");
      ADD_FAILURE() << c.code;
    } catch (const velkan::CSoapException& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Soap call failed, result code is " + std::to_string(c.status), 0), 0u)
          << c.code << ": " << e.what();
    }
  }
}

}  // namespace
