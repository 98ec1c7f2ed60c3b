// The status page's server against raw clients: only its own user's
// requests are answered, several at once, and no client can stop it.
#include "agent/status_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/testing/tcp.h"
#include "tests/test_support.h"

namespace {

class StatusPage : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::writeFile(dir_.file("status/cs_progress.xml"), "<progress state=\"running\"/>");
    testsupport::writeFile(dir_.file("status/cs_uploadedtoday.xml"), "<cs_uploadedtoday>" + std::string(8 << 20, ' ') +
                                                                          "</cs_uploadedtoday>");
    ASSERT_TRUE(server_.start(0));
    thread_ = std::thread([this] { server_.serve([this] { return stop_.load(); }); });
  }
  void TearDown() override {
    stop_.store(true);
    thread_.join();
  }
  // What a request gets back, read until the server closes (or 5 s pass).
  std::string exchange(const std::string& request) {
    auto stream = platform::TcpStream::connect("127.0.0.1", server_.port());
    if (!stream) return "<no connection>";
    stream->writeAll(request);
    std::string answer;
    char buffer[65536];
    for (int64_t n; (n = stream->read(buffer, sizeof buffer, 5000)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    return answer;
  }
  std::string get(const std::string& path, const std::string& host, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra + "Connection: close\r\n\r\n";
  }
  std::string ours() { return "127.0.0.1:" + std::to_string(server_.port()); }

  testsupport::TempDir dir_;
  agent::StatusServer server_{*platform::Env::defaultEnv(), dir_.file("status")};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(StatusPage, OnlyItsOwnUsersRequestsAreAnswered) {
  struct Case {
    const char* name;
    std::string request;
    const char* status;
  } cases[] = {
      {"its own user", get("/status/cs_progress.xml", ours()), "200"},
      {"by the name localhost", get("/status/cs_progress.xml", "localhost:" + std::to_string(server_.port())), "200"},
      {"another site's page", get("/status/cs_progress.xml", ours(), "Origin: http://evil.example\r\n"), "403"},
      {"a name pointed at this machine", get("/status/cs_progress.xml", "evil.example:" + std::to_string(server_.port())),
       "403"},
      {"another port", get("/status/cs_progress.xml", "127.0.0.1:1"), "403"},
      {"a file that is none of the status files", get("/status/../secret.xml", ours()), "404"},
  };
  for (const Case& c : cases) {
    std::string answer = exchange(c.request);
    EXPECT_EQ(answer.rfind(std::string("HTTP/1.1 ") + c.status, 0), 0u) << c.name << ": " << answer.substr(0, 120);
    EXPECT_EQ(answer.find("Access-Control"), std::string::npos) << c.name;
    bool served = std::string(c.status) == "200";
    EXPECT_EQ(answer.find("<progress") != std::string::npos, served) << c.name;
  }
}

TEST_F(StatusPage, ClientsThatLeaveDripOrIdleDelayNoOther) {
  // Leaves before its (large) answer: the server must not die of it.
  for (int i = 0; i < 3; ++i) {
    auto leaving = platform::TcpStream::connect("127.0.0.1", server_.port());
    ASSERT_TRUE(leaving);
    leaving->writeAll(get("/status/cs_uploadedtoday.xml", ours()));
  }
  platform::sleepMs(200);
  // One drips a byte now and then, ten say nothing.
  std::atomic<bool> done{false};
  std::thread dripping([&] {
    auto stream = platform::TcpStream::connect("127.0.0.1", server_.port());
    std::string request = get("/status/cs_progress.xml", ours());
    for (size_t i = 0; stream && i < request.size() && !done.load(); ++i) {
      stream->writeAll(request.substr(i, 1));
      platform::sleepMs(300);
    }
  });
  std::vector<std::unique_ptr<platform::TcpStream>> idle;
  for (int i = 0; i < 10; ++i) idle.push_back(platform::TcpStream::connect("127.0.0.1", server_.port()));
  for (int round = 0; round < 3; ++round) {
    uint64_t started = platform::tickCountMs();
    std::string answer = exchange(get("/status/cs_progress.xml", ours()));
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 120);
    EXPECT_LT(platform::tickCountMs() - started, 1000u) << "round " << round;
    platform::sleepMs(700);
  }
  done.store(true);
  dripping.join();
}

}  // namespace
