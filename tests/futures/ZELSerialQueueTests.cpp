#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "zel/futures/ZELSerialQueue.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

// Producers post through execute() while another thread keeps draining the queue inline, as a
// session's I/O thread does: items never overlap and each producer's items keep their order.
TEST(ZELSerialQueue, InlineDrainingKeepsItemsSerialAndOrdered) {
  constexpr int kProducers = 3;
  constexpr int kPerProducer = 2000;
  ZELSerialQueue queue("test.queue");
  std::atomic<int> inFlight{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> notCurrent{0};
  std::vector<std::vector<int>> seen(kProducers);  // written only by queue items
  std::latch done(kProducers * kPerProducer);
  std::atomic<bool> draining{true};

  std::thread drainer([&] {
    while (draining.load()) {
      if (!queue.runPendingInline()) std::this_thread::yield();
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        queue.execute([&, p, i] {
          if (inFlight.fetch_add(1) != 0) ++overlaps;
          if (!queue.isCurrent()) ++notCurrent;
          seen[p].push_back(i);
          inFlight.fetch_sub(1);
          done.count_down();
        });
      }
    });
  }
  for (auto& t : producers) t.join();
  done.wait();
  draining = false;
  drainer.join();

  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(notCurrent.load(), 0);
  EXPECT_FALSE(queue.isCurrent());
  for (const auto& order : seen) {
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kPerProducer));
    for (int i = 0; i < kPerProducer; ++i) ASSERT_EQ(order[i], i);
  }
}

TEST(ZELSerialQueue, ShutdownFinishesQueuedWorkAndRefusesMore) {
  auto queue = std::make_unique<ZELSerialQueue>();
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) queue->execute([&] { ++ran; });
  queue->shutdown();
  EXPECT_EQ(ran.load(), 100);
  ZELExecutor::Work late = [&] { ++ran; };
  EXPECT_FALSE(queue->tryExecute(late));
  EXPECT_TRUE(static_cast<bool>(late));  // handed back untouched
  queue.reset();
  EXPECT_EQ(ran.load(), 100);
}

TEST(ZELSerialQueue, CanBeDestroyedFromItsOwnItem) {
  std::shared_ptr<ZELSerialQueue> holder = std::make_shared<ZELSerialQueue>();
  std::promise<void> posted;
  std::promise<void> finished;
  auto postedFuture = posted.get_future().share();
  holder->execute([&holder, &finished, postedFuture] {
    postedFuture.wait();  // execute() has returned; the item holds the last reference now
    holder.reset();
    finished.set_value();
  });
  posted.set_value();
  EXPECT_EQ(finished.get_future().wait_for(5s), std::future_status::ready);
}

}  // namespace
}  // namespace zel
