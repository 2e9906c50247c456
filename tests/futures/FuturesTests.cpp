// Futures and executors: one completion, listeners, transforms, waiting, coroutines; the shared
// executors, the main queue, serial queues and cancel tokens.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/futures/ZELCancelToken.h"
#include "zel/futures/ZELFutureMap.h"
#include "zel/futures/ZELMainQueue.h"
#include "zel/futures/ZELSerialQueue.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
constexpr auto kWait = 10s;
const auto testError = [](std::int64_t code) { return Error("test", code); };

ZELFuture<int> doubled(ZELFuture<int> input) {
  const Result<int> value = co_await input;
  if (!value.ok()) co_return value.error();
  co_return value.value() * 2;
}

ZELFuture<int> throwing(ZELFuture<int> input) {
  (void)co_await input;
  throw std::runtime_error("boom");
}

ZELFuture<std::thread::id> resumedOn(ZELFuture<int> input, std::shared_ptr<ZELExecutor> executor) {
  (void)co_await input.on(std::move(executor));
  co_return std::this_thread::get_id();
}

TEST(ZELFuture, FirstCompletionWinsAndLateListenersRunOnce) {
  ZELFuture<int>::Resolve keptResolve;
  ZELFuture<int>::Reject keptReject;
  auto future = ZELFuture<int>::withBlock([&](auto resolve, auto reject) {
    keptResolve = resolve;
    keptReject = reject;
  });
  ASSERT_TRUE(keptResolve);  // the block ran before withBlock returned
  EXPECT_FALSE(future.isCompleted());
  std::thread([&] { keptResolve(7); }).join();
  keptReject(testError(9));
  keptResolve(2);

  int successes = 0, failures = 0;
  for (const auto& done : {future, ZELFuture<int>::withError(testError(3))}) {
    done.executor(
        ZELExecutor::immediate(), [&](const int& v) { successes += v; },
        [&](const Error& e) { failures += static_cast<int>(e.code()); });
    // A missing block is allowed: nothing runs for that outcome.
    done.executor(ZELExecutor::immediate(), nullptr, nullptr);
  }
  EXPECT_EQ(successes, 7);
  EXPECT_EQ(failures, 3);
}

TEST(ZELFuture, ThrowingBlocksTransformsAndCoroutinesFailAndThrowingListenersAreReported) {
  const std::vector<std::pair<const char*, ZELFuture<int>>> cases = {
      {"withBlock",
       ZELFuture<int>::withBlock([](auto, auto) { throw std::runtime_error("boom"); })},
      {"map", ZELFutureMap::map(ZELFuture<int>::withValue(1), ZELExecutor::background(),
                                [](const int&) -> int { throw std::logic_error("boom"); })},
      {"coroutine", throwing(ZELFuture<int>::withValue(1))}};
  for (const auto& [name, future] : cases) {
    SCOPED_TRACE(name);
    const auto result = future.wait(kWait);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain(), ZELFutureErrorDomain);
    EXPECT_EQ(result.error().code(), ZELFutureErrorCodeThrew);
    EXPECT_NE(result.error().localizedDescription().find("boom"), std::string::npos);
  }

  // A listener that throws is reported and the others still run.
  test::AssertionCapture capture;
  ZELPromise<int> promise;
  std::vector<std::string> ran;
  auto future = promise.future();
  future.executor(
      ZELExecutor::immediate(), [&](const int&) { throw std::runtime_error("first"); }, nullptr);
  future.executor(
      ZELExecutor::immediate(), [&](const int& v) { ran.push_back("second " + std::to_string(v)); },
      nullptr);
  EXPECT_NO_THROW(promise.resolve(7));
  // Attached after completion, on the immediate executor: runs at once, also guarded.
  EXPECT_NO_THROW(future.executor(
      ZELExecutor::immediate(), [](const int&) { throw 42; }, nullptr));
  future.onComplete([&](const Result<int>&) { ran.push_back("late"); });
  EXPECT_EQ(ran, (std::vector<std::string>{"second 7", "late"}));
  EXPECT_EQ(capture.count("A future's listener threw: first"), 1u);
  EXPECT_EQ(capture.count("A future's listener threw an unknown exception"), 1u);
}

TEST(ZELFutureMap, TransformsAndBlocksRunOnTheirExecutorAndPassTheOtherOutcomeUnchanged) {
  const auto caller = std::this_thread::get_id();
  const auto offCaller = [caller] { return std::this_thread::get_id() != caller; };
  auto mapped = ZELFutureMap::map(
      ZELFuture<int>::withValue(20), ZELExecutor::background(),
      [&](const int& v) { return std::to_string(v + 1) + (offCaller() ? " off" : " on"); });
  EXPECT_EQ(mapped.wait(kWait).value(), "21 off");

  int ran = 0;  // transforms of the other outcome
  const auto original = testError(42);
  auto failed = ZELFutureMap::map(ZELFuture<int>::withError(original), ZELExecutor::immediate(),
                                  [&](const int& v) { return v + ++ran; });
  EXPECT_TRUE(failed.wait(kWait).error().isSameInstance(original));

  ZELPromise<std::string> inner;
  auto chained = ZELFutureMap::flatMap(ZELFuture<int>::withValue(5), ZELExecutor::immediate(),
                                       [&](const int&) { return inner.future(); });
  EXPECT_FALSE(chained.isCompleted());
  inner.reject(testError(77));
  EXPECT_EQ(chained.wait(kWait).error().code(), 77);
  // The two-argument form runs on the background executor.
  auto onBackground = ZELFutureMap::flatMap(ZELFuture<int>::withValue(1), [&](const int& v) {
    return ZELFuture<bool>::withValue(offCaller() && v == 1);
  });
  EXPECT_TRUE(onBackground.wait(kWait).value());

  auto recovered = ZELFuture<int>::withError(testError(1))
                       .flatMapError(ZELExecutor::background(), [&](const Error& e) {
                         return ZELFuture<int>::withValue(offCaller() ? 100 + int(e.code()) : 0);
                       });
  EXPECT_EQ(recovered.wait(kWait).value(), 101);
  auto passed = ZELFuture<int>::withValue(3).flatMapError(
      ZELExecutor::immediate(), [&](const Error&) { return ZELFuture<int>::withValue(++ran); });
  EXPECT_EQ(passed.wait(kWait).value(), 3);
  EXPECT_EQ(ran, 0);

  // Blocks land on the named executor.
  auto onMain = ZELFuture<bool>::executor(
      ZELExecutor::main(), [] { return ZELFuture<bool>::withValue(isMainThread()); });
  EXPECT_TRUE(onMain.wait(kWait).value());
  EXPECT_FALSE(isMainThread());

  ZELPromise<bool> successOnMain, failureOnBackground;
  ZELFuture<int>::withValue(1).executeOnMainSuccess(
      [=](const int&) { successOnMain.resolve(isMainThread()); }, nullptr);
  ZELFuture<int>::withError(testError(2)).executeOnBackgroundSuccess(nullptr, [=](const Error&) {
    failureOnBackground.resolve(std::this_thread::get_id() != caller && !isMainThread());
  });
  EXPECT_TRUE(successOnMain.future().wait(kWait).value());
  EXPECT_TRUE(failureOnBackground.future().wait(kWait).value());
}

// Many threads race to resolve while others attach callbacks: exactly one value wins and every
// callback sees it exactly once, whether it was attached before or after completion.
TEST(ZELFutureContention, ResolversAndSubscribersRace) {
  constexpr int kRounds = 200, kResolvers = 4, kSubscribers = 4;
  for (int round = 0; round < kRounds; ++round) {
    ZELPromise<int> promise;
    auto future = promise.future();
    std::atomic<int> wins{0}, calls{0}, mismatches{0};
    std::barrier start(kResolvers + kSubscribers);
    std::vector<std::thread> threads;
    for (int r = 0; r < kResolvers; ++r) {
      threads.emplace_back([&, r] {
        start.arrive_and_wait();
        if (r % 2 == 0 ? promise.resolve(r) : promise.reject(testError(r))) ++wins;
      });
    }
    for (int s = 0; s < kSubscribers; ++s) {
      threads.emplace_back([&] {
        start.arrive_and_wait();
        future.onComplete([&, future](const Result<int>& result) {
          ++calls;
          const auto seen = future.peek();
          if (!seen || seen->ok() != result.ok()) ++mismatches;
        });
      });
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(wins.load(), 1);
    ASSERT_EQ(calls.load(), kSubscribers);
    ASSERT_EQ(mismatches.load(), 0);
  }
}

TEST(ZELFutureAwait, WaitTimesOutAndRefusesOnTheMainQueueCoroutinesPassOutcomesAndResume) {
  test::AssertionCapture capture;
  ZELPromise<int> pending;
  const auto timedOut = pending.future().wait(20ms);
  EXPECT_EQ(timedOut.error().domain(), ZELFutureErrorDomain);
  EXPECT_EQ(timedOut.error().code(), ZELFutureErrorCodeTimedOut);

  // On the main queue an incomplete future is refused at once; a completed one is handed back.
  using Codes = std::vector<std::int64_t>;
  auto onMain = ZELFuture<Codes>::executor(ZELExecutor::main(), [&] {
    const auto refused = pending.future().wait(kWait);
    const auto done = ZELFuture<int>::withValue(5).wait(kWait);
    return ZELFuture<Codes>::withValue(
        {refused.ok() ? 0 : refused.error().code(), done.ok() ? done.value() : -1});
  });
  EXPECT_EQ(onMain.wait(kWait).value(), (Codes{ZELFutureErrorCodeWaitOnMainQueue, 5}));
  EXPECT_EQ(capture.count(), 1u);

  // Coroutines pass values and errors through and resume inline or on the chosen executor.
  EXPECT_EQ(doubled(ZELFuture<int>::withValue(21)).wait(kWait).value(), 42);
  ZELPromise<int> later;
  auto doubledLater = doubled(later.future());
  EXPECT_FALSE(doubledLater.isCompleted());
  later.resolve(5);
  EXPECT_EQ(doubledLater.wait(kWait).value(), 10);
  EXPECT_EQ(doubled(ZELFuture<int>::withError(testError(7))).wait(kWait).error().code(), 7);

  // Without an executor the coroutine resumes on the completing thread.
  ZELPromise<int> input;
  auto inlineResume = resumedOn(input.future(), nullptr);
  std::thread completer([&] { input.resolve(1); });
  const auto completerId = completer.get_id();
  completer.join();
  EXPECT_EQ(inlineResume.wait(kWait).value(), completerId);

  const auto mainId = resumedOn(ZELFuture<int>::withValue(1), ZELExecutor::main()).wait(kWait);
  ZELPromise<std::thread::id> mainThread;
  ZELExecutor::main()->execute([mainThread] { mainThread.resolve(std::this_thread::get_id()); });
  EXPECT_EQ(mainId.value(), mainThread.future().wait(kWait).value());
  EXPECT_NE(mainId.value(), std::this_thread::get_id());
}

// Producers post numbered items through `post`: items never overlap, each sees `onQueue()`,
// and each producer's items run in its order. Returns the threads the items ran on.
std::set<std::thread::id> expectSerialAndOrdered(const std::function<void(ZELExecutor::Work)>& post,
                                                 const std::function<bool()>& onQueue,
                                                 int producers, int perProducer) {
  std::atomic<int> inFlight{0}, overlaps{0}, offQueue{0};
  std::vector<std::vector<int>> seen(producers);  // written only by queue items
  std::set<std::thread::id> threads;              // likewise
  std::latch done(producers * perProducer);
  std::vector<std::thread> posters;
  for (int p = 0; p < producers; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < perProducer; ++i) {
        post([&, p, i] {
          if (inFlight.fetch_add(1) != 0) ++overlaps;
          if (!onQueue()) ++offQueue;
          seen[p].push_back(i);
          threads.insert(std::this_thread::get_id());
          inFlight.fetch_sub(1);
          done.count_down();
        });
      }
    });
  }
  for (auto& t : posters) t.join();
  done.wait();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(offQueue.load(), 0);
  std::vector<int> inOrder(perProducer);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  for (const auto& order : seen) EXPECT_EQ(order, inOrder);
  return threads;
}

TEST(ZELExecutor, ImmediateRunsInlineBackgroundConcurrentlyMainSeriallyOnOneThread) {
  EXPECT_EQ(ZELExecutor::background().get(), ZELExecutor::background().get());
  EXPECT_TRUE(ZELExecutor::immediate()->isImmediate());
  EXPECT_FALSE(ZELExecutor::background()->isImmediate());
  std::thread::id inlineOn;
  ZELExecutor::immediate()->execute([&] { inlineOn = std::this_thread::get_id(); });
  EXPECT_EQ(inlineOn, std::this_thread::get_id());
  // Jobs that wait for each other finish only if the pool runs them all at the same time, one
  // per worker, though a few items may wait for a busy worker. This thread waits with a plain
  // std::future: ZELFuture::wait would wake workers for the queue itself. (The jobs' state
  // outlives a failed test: they may still be waiting then.)
  const auto workers = std::max(2u, std::thread::hardware_concurrency());
  struct Meeting {
    explicit Meeting(unsigned n) : all(n) {}
    std::latch all;
    std::mutex mutex;
    std::set<std::thread::id> ranOn;
    std::promise<void> allRan;
  };
  const auto meeting = std::make_shared<Meeting>(workers);
  auto allRan = meeting->allRan.get_future();
  for (unsigned i = 0; i < workers; ++i) {
    ZELExecutor::background()->execute([meeting, workers] {
      meeting->all.arrive_and_wait();
      std::lock_guard lock(meeting->mutex);
      meeting->ranOn.insert(std::this_thread::get_id());
      if (meeting->ranOn.size() == workers) meeting->allRan.set_value();
    });
  }
  ASSERT_EQ(allRan.wait_for(kWait), std::future_status::ready);
  EXPECT_FALSE(meeting->ranOn.contains(std::this_thread::get_id()));
  // A job that blocks on work it queued itself still sees that work run.
  auto outerDone = std::make_shared<std::promise<void>>();
  ZELExecutor::background()->execute([outerDone] {
    auto inner = std::make_shared<std::promise<void>>();
    ZELExecutor::background()->execute([inner] { inner->set_value(); });
    inner->get_future().wait();
    outerDone->set_value();
  });
  EXPECT_EQ(outerDone->get_future().wait_for(kWait), std::future_status::ready);

  test::AssertionCapture capture;
  ZELExecutor::background()->execute([] { throw std::runtime_error("escaped"); });
  ZELPromise<bool> after;
  ZELExecutor::background()->execute([after] { after.resolve(true); });
  EXPECT_TRUE(after.future().wait(kWait).value());
  for (int i = 0; i < 1000 && capture.count() == 0; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(capture.count("Work on an executor threw: escaped"), 1u);

  // The main queue runs work serially, in order, on one thread.
  const auto threads = expectSerialAndOrdered(
      [](ZELExecutor::Work work) { ZELExecutor::main()->execute(std::move(work)); }, isMainThread,
      4, 250);
  EXPECT_EQ(threads.size(), 1u);
}

// The application's own run loop: this runs in a child process, because the dispatcher can only
// be installed before the process first uses the main queue.
TEST(ZELMainQueueDeathTest, ApplicationRunLoopDrivesTheQueue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // The run loop holds one drain; enqueueing hands it over before execute() returns.
        std::function<void()> runLoop;
        const bool installed = ZELMainQueue::shared().setDispatcher(
            [&](std::function<void()> drain) { runLoop = std::move(drain); });
        test::AssertionCapture capture;
        const bool second = ZELMainQueue::shared().setDispatcher([](std::function<void()>) {});
        bool ranOnMain = false;
        std::thread([&] {
          ZELExecutor::main()->execute([&] { ranOnMain = isMainThread(); });
        }).join();
        // This thread is the application's main thread: spin its run loop once.
        if (runLoop) runLoop();
        const bool ok = installed && !second && capture.count() == 1 && ranOnMain && isMainThread();
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Producers post through execute() while another thread keeps draining the queue inline, as a
// session's I/O thread does.
TEST(ZELSerialQueue, InlineDrainingKeepsItemsSerialAndOrdered) {
  ZELSerialQueue queue("test.queue");
  std::atomic<bool> draining{true};
  std::thread drainer([&] {
    while (draining.load()) {
      if (!queue.runPendingInline()) std::this_thread::yield();
    }
  });
  expectSerialAndOrdered([&](ZELExecutor::Work work) { queue.execute(std::move(work)); },
                         [&] { return queue.isCurrent(); }, 3, 2000);
  draining = false;
  drainer.join();
  EXPECT_FALSE(queue.isCurrent());
}

TEST(ZELSerialQueue, ShutdownFinishesQueuedWorkAndRefusesMoreAndItemsMayDestroyTheQueue) {
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

  // A queue may be destroyed from its own item.
  auto holder = std::make_shared<ZELSerialQueue>();
  ZELPromise<bool> posted, finished;
  holder->execute([&holder, posted, finished] {
    (void)posted.future().wait(kWait);  // execute() has returned: the item holds the last reference
    holder.reset();
    finished.resolve(true);
  });
  posted.resolve(true);
  EXPECT_TRUE(finished.future().wait(5s).value());
}

TEST(ZELCancelToken, BlockRunsOnceOnItsExecutorWhateverTheRace) {
  std::atomic<int> runs{0};
  ZELPromise<std::thread::id> ranOn;
  auto token = ZELCancelToken::initWithExecutor(ZELExecutor::background(), [&runs, ranOn] {
    if (runs.fetch_add(1) == 0) ranOn.resolve(std::this_thread::get_id());
  });
  EXPECT_FALSE(token->isCancelled());
  std::vector<std::thread> cancellers;
  for (int i = 0; i < 8; ++i) cancellers.emplace_back([&] { token->cancel(); });
  for (auto& c : cancellers) c.join();
  EXPECT_NE(ranOn.future().wait(kWait).value(), std::this_thread::get_id());
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(token->isCancelled());
}

}  // namespace
}  // namespace zel
