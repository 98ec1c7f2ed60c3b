// A send that skips the toolkit's wait: what the socket takes at once goes
// at once, the rest in order through the toolkit, nothing twice or lost.
#include "service/prompt_send.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/socket_port.h"
#include "platform/testing/tcp.h"
#include "stdsoap2.h"
#include "tests/test_support.h"

namespace {

std::string forwarded;  // what reached the toolkit's send
int forwardedCalls = 0;

int toolkitSend(struct soap*, const char* data, size_t length) {
  forwarded.append(data, length);
  ++forwardedCalls;
  return SOAP_OK;
}

class PromptSend : public ::testing::Test {
 protected:
  void SetUp() override {
    forwarded.clear();
    forwardedCalls = 0;
    soap_ = soap_new();
    ASSERT_TRUE(soap_valid_socket(soap_bind(soap_, "127.0.0.1", 0, 1)));
  }
  void TearDown() override {
    soap_destroy(soap_);
    soap_end(soap_);
    soap_free(soap_);
  }
  struct soap* soap_ = nullptr;
};

// A connection nobody reads fills up: the first part goes straight to the
// socket, the rest to the toolkit, and together they are the message.
TEST_F(PromptSend, AFullConnectionLeavesTheRestToTheToolkitInOrder) {
  auto reader = platform::TcpStream::connect("127.0.0.1", platform::localPortOf(soap_->master));
  ASSERT_TRUE(reader);
  ASSERT_TRUE(soap_valid_socket(soap_accept(soap_)));
  const std::string message = testsupport::patterned(32 << 20);  // more than any socket buffer holds
  ASSERT_EQ(velkan::sendPromptly(soap_, toolkitSend, message.data(), message.size()), SOAP_OK);
  EXPECT_EQ(forwardedCalls, 1);
  ASSERT_FALSE(forwarded.empty());
  size_t taken = message.size() - forwarded.size();
  EXPECT_EQ(forwarded, message.substr(taken));

  soap_closesock(soap_);  // the reader then meets the end after what was taken
  std::string arrived;
  char buffer[65536];
  for (int64_t got; (got = reader->read(buffer, sizeof buffer, 10000)) > 0;) {
    arrived.append(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(arrived.size(), taken);
  EXPECT_TRUE(arrived == message.substr(0, taken));
}

TEST_F(PromptSend, WithoutAConnectionEverythingGoesToTheToolkit) {
  const std::string message = testsupport::patterned(1000);
  ASSERT_EQ(velkan::sendPromptly(soap_, toolkitSend, message.data(), message.size()), SOAP_OK);
  EXPECT_EQ(forwarded, message);
  EXPECT_EQ(forwardedCalls, 1);
}

}  // namespace
