#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <latch>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/futures/ZELCancelToken.h"
#include "zel/futures/ZELFutureAndCancelToken.h"
#include "zel/futures/ZELMainQueue.h"
#include "zel/futures/ZELNSURLSessionDataTaskResult.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

TEST(ZELExecutor, SharedExecutorsAreTheSameAtEveryCall) {
  EXPECT_EQ(ZELExecutor::background().get(), ZELExecutor::background().get());
  EXPECT_EQ(ZELExecutor::main().get(), ZELExecutor::main().get());
  EXPECT_TRUE(ZELExecutor::immediate()->isImmediate());
  EXPECT_FALSE(ZELExecutor::background()->isImmediate());
}

TEST(ZELExecutor, ImmediateRunsInlineOnTheCallingThread) {
  std::thread::id ranOn;
  ZELExecutor::immediate()->execute([&] { ranOn = std::this_thread::get_id(); });
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// Two jobs that wait for each other finish only if the pool runs them at the same time.
TEST(ZELExecutor, BackgroundRunsWorkConcurrentlyOffTheCaller) {
  std::latch both(2);
  std::promise<std::thread::id> first;
  std::promise<std::thread::id> second;
  ZELExecutor::background()->execute([&] {
    both.arrive_and_wait();
    first.set_value(std::this_thread::get_id());
  });
  ZELExecutor::background()->execute([&] {
    both.arrive_and_wait();
    second.set_value(std::this_thread::get_id());
  });
  auto a = first.get_future();
  auto b = second.get_future();
  ASSERT_EQ(a.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(b.wait_for(10s), std::future_status::ready);
  const auto idA = a.get();
  const auto idB = b.get();
  EXPECT_NE(idA, idB);
  EXPECT_NE(idA, std::this_thread::get_id());
}

TEST(ZELExecutor, ThrowingWorkIsReportedAndThePoolSurvives) {
  test::AssertionCapture capture;
  ZELExecutor::background()->execute([] { throw std::runtime_error("escaped"); });
  std::promise<void> after;
  ZELExecutor::background()->execute([&] { after.set_value(); });
  ASSERT_EQ(after.get_future().wait_for(10s), std::future_status::ready);
  for (int i = 0; i < 1000 && capture.count() == 0; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(capture.count("Work on an executor threw: escaped"), 1u);
}

// The main queue is serial: one item at a time, in the order each thread enqueued them, all on
// the one main thread.
TEST(ZELMainQueue, RunsWorkSeriallyInOrderOnOneThread) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 250;
  std::atomic<int> inFlight{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> notMain{0};
  std::mutex mutex;
  std::vector<std::vector<int>> seen(kThreads);
  std::set<std::thread::id> threads;
  std::latch done(kThreads * kPerThread);

  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        ZELExecutor::main()->execute([&, t, i] {
          if (inFlight.fetch_add(1) != 0) ++overlaps;
          if (!isMainThread()) ++notMain;
          {
            std::lock_guard lock(mutex);
            seen[t].push_back(i);
            threads.insert(std::this_thread::get_id());
          }
          inFlight.fetch_sub(1);
          done.count_down();
        });
      }
    });
  }
  for (auto& p : producers) p.join();
  done.wait();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(notMain.load(), 0);
  EXPECT_EQ(threads.size(), 1u);
  for (const auto& order : seen) {
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(order[i], i);
  }
}

// The application's own run loop: this runs in a child process, because the dispatcher can only
// be installed before the process first uses the main queue.
TEST(ZELMainQueueDeathTest, ApplicationRunLoopDrivesTheQueue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::mutex mutex;
        std::condition_variable posted;
        std::deque<std::function<void()>> runLoop;
        const bool installed =
            ZELMainQueue::shared().setDispatcher([&](std::function<void()> drain) {
              std::lock_guard lock(mutex);
              runLoop.push_back(std::move(drain));
              posted.notify_one();
            });
        test::AssertionCapture capture;
        const bool second = ZELMainQueue::shared().setDispatcher([](std::function<void()>) {});

        std::atomic<bool> ranOnMain{false};
        std::thread producer(
            [&] { ZELExecutor::main()->execute([&] { ranOnMain = isMainThread(); }); });
        producer.join();
        // This thread is the application's main thread: spin its run loop once.
        std::function<void()> drain;
        {
          std::unique_lock lock(mutex);
          posted.wait_for(lock, 10s, [&] { return !runLoop.empty(); });
          if (!runLoop.empty()) {
            drain = std::move(runLoop.front());
            runLoop.pop_front();
          }
        }
        if (drain) drain();
        const bool ok = installed && !second && capture.count() == 1 && ranOnMain && isMainThread();
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ZELCancelToken, BlockRunsOnceOnItsExecutorWhateverTheRace) {
  std::atomic<int> runs{0};
  std::promise<std::thread::id> ranOn;
  auto token = ZELCancelToken::initWithExecutor(ZELExecutor::background(), [&] {
    if (runs.fetch_add(1) == 0) ranOn.set_value(std::this_thread::get_id());
  });
  EXPECT_FALSE(token->isCancelled());
  std::vector<std::thread> cancellers;
  for (int i = 0; i < 8; ++i) cancellers.emplace_back([&] { token->cancel(); });
  for (auto& c : cancellers) c.join();
  auto id = ranOn.get_future();
  ASSERT_EQ(id.wait_for(10s), std::future_status::ready);
  EXPECT_NE(id.get(), std::this_thread::get_id());
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(token->isCancelled());
}

TEST(ZELFutureAndCancelToken, PairsAndResultRecordsGiveTheirPartsBack) {
  auto token = ZELCancelToken::initWithExecutor(ZELExecutor::immediate(), [] {});
  auto pair = ZELFutureAndCancelToken<int>::newWithCancelToken(token, ZELFuture<int>::withValue(4));
  EXPECT_EQ(pair.cancelToken, token);
  EXPECT_EQ(pair.future.peek()->value(), 4);

  auto result = ZELNSURLSessionDataTaskResult::resultWithData(Data::copy("body"), nullptr,
                                                              Error(NSURLErrorDomain, -1001));
  EXPECT_EQ(result.data->stringView(), "body");
  EXPECT_EQ(result.response, nullptr);
  EXPECT_EQ(result.error->code(), -1001);
  auto empty = ZELNSURLSessionDataTaskResult::resultWithData(std::nullopt, nullptr, std::nullopt);
  EXPECT_FALSE(empty.data.has_value());
  EXPECT_FALSE(empty.error.has_value());
}

}  // namespace
}  // namespace zel
