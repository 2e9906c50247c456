#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <future>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/futures/ZELFutureMap.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
constexpr auto kWait = 10s;

Error testError(std::int64_t code) {
  return Error("test", code);
}

TEST(ZELFuture, CompletedFuturesRunLateCallbacksExactlyOnce) {
  auto value = ZELFuture<int>::withValue(7);
  auto failed = ZELFuture<int>::withError(testError(3));
  int successes = 0;
  int failures = 0;
  value.executor(
      ZELExecutor::immediate(), [&](const int& v) { successes += v; },
      [&](const Error&) { ++failures; });
  failed.executor(
      ZELExecutor::immediate(), [&](const int&) { ++successes; },
      [&](const Error& e) { failures += static_cast<int>(e.code()); });
  EXPECT_EQ(successes, 7);
  EXPECT_EQ(failures, 3);
  // A missing block is allowed: nothing runs for that outcome.
  failed.executor(
      ZELExecutor::immediate(), [&](const int&) { ++successes; }, nullptr);
  EXPECT_EQ(successes, 7);
}

TEST(ZELFuture, WithBlockRunsBeforeReturningAndFirstCompletionWins) {
  bool ran = false;
  ZELFuture<int>::Resolve keptResolve;
  ZELFuture<int>::Reject keptReject;
  auto future = ZELFuture<int>::withBlock([&](auto resolve, auto reject) {
    ran = true;
    keptResolve = resolve;
    keptReject = reject;
  });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(future.isCompleted());

  std::thread([&] { keptResolve(1); }).join();
  keptReject(testError(9));
  keptResolve(2);
  auto result = future.wait(kWait);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), 1);
}

TEST(ZELFuture, BlocksThatThrowBecomeErrors) {
  auto thrown = ZELFuture<int>::withBlock([](auto, auto) { throw std::runtime_error("boom"); });
  auto result = thrown.wait(kWait);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().domain(), ZELFutureErrorDomain);
  EXPECT_EQ(result.error().code(), ZELFutureErrorCodeThrew);
  EXPECT_NE(result.error().localizedDescription().find("boom"), std::string::npos);

  auto mapped = ZELFutureMap::map(ZELFuture<int>::withValue(1), ZELExecutor::background(),
                                  [](const int&) -> int { throw std::logic_error("bad map"); });
  auto mappedResult = mapped.wait(kWait);
  ASSERT_FALSE(mappedResult.ok());
  EXPECT_EQ(mappedResult.error().code(), ZELFutureErrorCodeThrew);
}

TEST(ZELFuture, AListenerThatThrowsIsReportedAndTheOthersStillRun) {
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

TEST(ZELFutureMap, MapRunsOnTheExecutorAndErrorsPassUnchanged) {
  const auto caller = std::this_thread::get_id();
  std::atomic<std::thread::id> ranOn;
  auto mapped = ZELFutureMap::map(ZELFuture<int>::withValue(20), ZELExecutor::background(),
                                  [&](const int& v) {
                                    ranOn = std::this_thread::get_id();
                                    return std::to_string(v + 1);
                                  });
  auto result = mapped.wait(kWait);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), "21");
  EXPECT_NE(ranOn.load(), caller);

  bool transformRan = false;
  const auto original = testError(42);
  auto failed = ZELFutureMap::map(ZELFuture<int>::withError(original), ZELExecutor::immediate(),
                                  [&](const int& v) {
                                    transformRan = true;
                                    return v;
                                  });
  auto failedResult = failed.wait(kWait);
  ASSERT_FALSE(failedResult.ok());
  EXPECT_TRUE(failedResult.error().isSameInstance(original));
  EXPECT_FALSE(transformRan);
}

TEST(ZELFutureMap, FlatMapTakesTheReturnedFuturesOutcome) {
  ZELPromise<std::string> inner;
  auto chained = ZELFutureMap::flatMap(ZELFuture<int>::withValue(5), ZELExecutor::immediate(),
                                       [&](const int&) { return inner.future(); });
  EXPECT_FALSE(chained.isCompleted());
  inner.reject(testError(77));
  auto result = chained.wait(kWait);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code(), 77);

  // The two-argument form runs on the background executor.
  const auto caller = std::this_thread::get_id();
  auto onBackground = ZELFutureMap::flatMap(ZELFuture<int>::withValue(1), [caller](const int& v) {
    return ZELFuture<bool>::withValue(std::this_thread::get_id() != caller && v == 1);
  });
  auto backgroundResult = onBackground.wait(kWait);
  ASSERT_TRUE(backgroundResult.ok());
  EXPECT_TRUE(backgroundResult.value());
}

TEST(ZELFuture, FlatMapErrorRecoversFailuresAndPassesValues) {
  auto recovered = ZELFuture<int>::withError(testError(1))
                       .flatMapError(ZELExecutor::background(), [](const Error& e) {
                         return ZELFuture<int>::withValue(100 + static_cast<int>(e.code()));
                       });
  auto result = recovered.wait(kWait);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), 101);

  bool blockRan = false;
  auto passed =
      ZELFuture<int>::withValue(3).flatMapError(ZELExecutor::immediate(), [&](const Error&) {
        blockRan = true;
        return ZELFuture<int>::withValue(0);
      });
  EXPECT_EQ(passed.wait(kWait).value(), 3);
  EXPECT_FALSE(blockRan);
}

TEST(ZELFuture, ExecutorBlockRunsOnTheExecutor) {
  auto onMain = ZELFuture<bool>::executor(
      ZELExecutor::main(), [] { return ZELFuture<bool>::withValue(isMainThread()); });
  auto result = onMain.wait(kWait);
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.value());
  EXPECT_FALSE(isMainThread());
}

TEST(ZELFuture, SuccessAndFailureBlocksLandOnTheNamedExecutor) {
  std::promise<bool> onMain;
  ZELFuture<int>::withValue(1).executeOnMainSuccess(
      [&](const int&) { onMain.set_value(isMainThread()); }, nullptr);
  std::promise<std::thread::id> onBackground;
  ZELFuture<int>::withError(testError(2)).executeOnBackgroundSuccess(nullptr, [&](const Error&) {
    onBackground.set_value(std::this_thread::get_id());
  });

  auto mainFuture = onMain.get_future();
  auto backgroundFuture = onBackground.get_future();
  ASSERT_EQ(mainFuture.wait_for(kWait), std::future_status::ready);
  ASSERT_EQ(backgroundFuture.wait_for(kWait), std::future_status::ready);
  EXPECT_TRUE(mainFuture.get());
  EXPECT_NE(backgroundFuture.get(), std::this_thread::get_id());
}

// Many threads race to resolve while others attach callbacks: exactly one value wins and every
// callback sees it exactly once, whether it was attached before or after completion.
TEST(ZELFutureContention, ResolversAndSubscribersRace) {
  constexpr int kRounds = 200;
  constexpr int kResolvers = 4;
  constexpr int kSubscribers = 4;
  for (int round = 0; round < kRounds; ++round) {
    ZELPromise<int> promise;
    auto future = promise.future();
    std::atomic<int> wins{0};
    std::atomic<int> calls{0};
    std::atomic<int> mismatches{0};
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

TEST(ZELFutureContention, ChainsAcrossExecutorsAllComplete) {
  constexpr int kChains = 500;
  std::vector<ZELFuture<int>> results;
  std::vector<ZELPromise<int>> sources(kChains);
  for (int i = 0; i < kChains; ++i) {
    auto step = ZELFutureMap::map(sources[i].future(), ZELExecutor::background(),
                                  [](const int& v) { return v * 2; });
    results.push_back(ZELFutureMap::flatMap(step, ZELExecutor::immediate(), [](const int& v) {
      return ZELFuture<int>::executor(ZELExecutor::background(),
                                      [v] { return ZELFuture<int>::withValue(v + 1); });
    }));
  }
  std::vector<std::thread> resolvers;
  for (int t = 0; t < 4; ++t) {
    resolvers.emplace_back([&, t] {
      for (int i = t; i < kChains; i += 4) sources[i].resolve(i);
    });
  }
  for (auto& t : resolvers) t.join();
  for (int i = 0; i < kChains; ++i) {
    auto result = results[i].wait(kWait);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), i * 2 + 1);
  }
}

TEST(ZELFutureWait, TimesOutWithAnError) {
  ZELPromise<int> never;
  auto result = never.future().wait(20ms);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().domain(), ZELFutureErrorDomain);
  EXPECT_EQ(result.error().code(), ZELFutureErrorCodeTimedOut);
}

TEST(ZELFutureWait, RefusesToBlockTheMainQueue) {
  test::AssertionCapture capture;
  ZELPromise<int> pending;
  auto outcome = ZELFuture<int>::executor(ZELExecutor::main(), [&] {
    auto waited = pending.future().wait(kWait);
    return waited.ok() ? ZELFuture<int>::withValue(waited.value())
                       : ZELFuture<int>::withError(waited.error());
  });
  auto result = outcome.wait(kWait);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code(), ZELFutureErrorCodeWaitOnMainQueue);
  EXPECT_EQ(capture.count(), 1u);

  // A completed future is handed back even on the main queue.
  auto done = ZELFuture<int>::executor(ZELExecutor::main(), [] {
    auto waited = ZELFuture<int>::withValue(5).wait(kWait);
    return ZELFuture<int>::withValue(waited.ok() ? waited.value() : -1);
  });
  EXPECT_EQ(done.wait(kWait).value(), 5);
}

}  // namespace
}  // namespace zel
