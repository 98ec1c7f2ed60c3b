#include "pipeline/action_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/process.h"
#include "tests/test_support.h"

namespace {

using velkan::CActionQueue;
using velkan::WorkItem;

WorkItem item(const std::string& object) { return WorkItem{{"object", object}, {"objMime", "text/plain"}}; }

// A unique name per test process, so parallel test runs stay apart.
std::string queueName(const std::string& base) { return base + "-test-" + std::to_string(platform::processId()); }

// Our workers hand each other the record; the map interface puts and
// takes maps. A map comes out as it went in, whatever its keys; a record
// keeps every field, its copy in memory included; a stop is a stop either way.
TEST(ActionQueue, RecordsAndMapsPassUnchangedAndConvertAtTheEdge) {
  CActionQueue queue(queueName("records"));
  WorkItem odd{{"object", "c:\\a.txt"}, {"someKey", "kept"}};
  queue.put(odd);
  WorkItem map;
  EXPECT_EQ(queue.take(map), odd);

  velkan::UploadItem record;
  record.object = "c:\\b.txt";
  record.objMime = "text/plain";
  record.preparedContent = std::string("\0gz\x8b", 4);
  record.inMemory = true;
  record.sentSize = 4;
  record.consistent = true;
  platform::FileInfo origin;
  origin.size = 9;
  origin.modifiedUnixSeconds = 1700000000;
  record.origin = origin;
  queue.put(record);
  velkan::UploadItem taken;
  queue.take(taken);
  EXPECT_EQ(taken.object, record.object);
  EXPECT_EQ(taken.preparedContent, record.preparedContent);
  EXPECT_TRUE(taken.inMemory && taken.consistent);
  EXPECT_EQ(taken.sentSize, record.sentSize);
  ASSERT_TRUE(taken.origin);
  EXPECT_TRUE(taken.origin->sameVersion(origin));

  queue.put(record);  // a record taken as a map, and back
  queue.put(velkan::UploadItem::fromWorkItem(queue.take(map)));
  queue.take(taken);
  EXPECT_EQ(taken.preparedContent, record.preparedContent);
  EXPECT_TRUE(taken.origin && taken.origin->sameVersion(origin));

  queue.put(velkan::UploadItem{});
  EXPECT_TRUE(velkan::isStopItem(queue.take(map)));
  EXPECT_TRUE(map.empty());
  queue.put(WorkItem{});
  EXPECT_TRUE(queue.take(taken).isStop());
}

TEST(ActionQueue, FifoOrderAndStopItems) {
  CActionQueue queue(queueName("fifo"));
  queue.put(item("a"));
  queue.put(WorkItem{});
  queue.put(item("c"));
  WorkItem out{{"stale", "x"}};
  EXPECT_EQ(queue.take(out).at("object"), "a");
  EXPECT_EQ(out.count("stale"), 0u);
  queue.take(out);
  EXPECT_TRUE(velkan::isStopItem(out));
  EXPECT_EQ(queue.take(out).at("object"), "c");
  EXPECT_TRUE(velkan::isStopItem(WorkItem{{"object", ""}}));
  EXPECT_FALSE(velkan::isStopItem(item("x")));
}

TEST(ActionQueue, TakeBlocksUntilPut) {
  CActionQueue queue(queueName("block"));
  std::atomic<bool> taken{false};
  WorkItem out;
  std::thread consumer([&] {
    queue.take(out);
    taken = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(taken.load());
  queue.put(item("late"));
  consumer.join();
  EXPECT_EQ(out.at("object"), "late");
}

// Passes `count` numbered items from a producer thread to a consumer and
// returns how many came out in order, each once.
int passItems(const std::string& name, int count) {
  CActionQueue queue(name);
  std::thread producer([&] {
    for (int i = 0; i < count; ++i) queue.put(item(std::to_string(i)));
    queue.put(WorkItem{});
  });
  int inOrder = 0;
  for (WorkItem out;;) {
    queue.take(out);
    if (velkan::isStopItem(out)) break;
    if (out.at("object") == std::to_string(inOrder)) ++inOrder;
  }
  producer.join();
  return inOrder;
}

TEST(ActionQueue, TenThousandItemsNoneLostNoneDuplicatedOrderKept) {
  EXPECT_EQ(passItems(queueName("stress"), 10000), 10000);
}

// Run as a second process by the test below (with ZR_QUEUE_PEER set).
TEST(ActionQueuePeer, PassItemsUnderTheSharedName) {
  std::string name = platform::environmentVariable("ZR_QUEUE_PEER");
  if (name.empty()) GTEST_SKIP() << "runs only as the peer of TwoProcessesShareNamesButNotItems";
  EXPECT_EQ(passItems(name, 1500), 1500);
}

TEST(ActionQueue, TwoProcessesShareNamesButNotItems) {
  std::string name = queueName("shared");
  platform::ProcessResult peer;
  std::thread other([&] {
    platform::runProcess({platform::executablePath(), "--gtest_filter=ActionQueuePeer.*"}, {{"ZR_QUEUE_PEER", name}},
                         "", &peer);
  });
  EXPECT_EQ(passItems(name, 1500), 1500);
  other.join();
  EXPECT_EQ(peer.exitCode, 0) << peer.standardOutput;
  EXPECT_NE(peer.standardOutput.find("[  PASSED  ] 1 test"), std::string::npos) << peer.standardOutput;
}

}  // namespace
