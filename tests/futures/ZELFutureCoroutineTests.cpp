// Coroutines over futures: co_await yields the Result (never throws), resumes inline or on the
// chosen executor, and a coroutine can itself return a ZELFuture.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "zel/futures/ZELFuture.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
constexpr auto kWait = 10s;

ZELFuture<int> doubled(ZELFuture<int> input) {
  const Result<int> value = co_await input;
  if (!value.ok()) co_return value.error();
  co_return value.value() * 2;
}

ZELFuture<std::thread::id> resumedOn(ZELFuture<int> input, std::shared_ptr<ZELExecutor> executor) {
  (void)co_await input.on(std::move(executor));
  co_return std::this_thread::get_id();
}

ZELFuture<int> throwing(ZELFuture<int> input) {
  (void)co_await input;
  throw std::runtime_error("inside the coroutine");
}

TEST(ZELFutureCoroutine, ValuesErrorsAndExceptionsBecomeTheFuturesOutcome) {
  EXPECT_EQ(doubled(ZELFuture<int>::withValue(21)).wait(kWait).value(), 42);

  ZELPromise<int> later;
  auto pending = doubled(later.future());
  EXPECT_FALSE(pending.isCompleted());
  later.resolve(5);
  EXPECT_EQ(pending.wait(kWait).value(), 10);

  const auto failed = doubled(ZELFuture<int>::withError(Error("test", 7))).wait(kWait);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code(), 7);

  const auto thrown = throwing(ZELFuture<int>::withValue(1)).wait(kWait);
  ASSERT_FALSE(thrown.ok());
  EXPECT_EQ(thrown.error().code(), ZELFutureErrorCodeThrew);
}

TEST(ZELFutureCoroutine, ResumesInlineOrOnTheChosenExecutor) {
  ZELPromise<int> input;
  auto inlineResume = resumedOn(input.future(), nullptr);
  std::thread completer([&] { input.resolve(1); });
  const auto completerId = completer.get_id();
  completer.join();
  EXPECT_EQ(inlineResume.wait(kWait).value(), completerId);

  auto onMain = resumedOn(ZELFuture<int>::withValue(1), ZELExecutor::main());
  const auto mainId = onMain.wait(kWait).value();
  ZELPromise<std::thread::id> mainThread;
  ZELExecutor::main()->execute([mainThread] { mainThread.resolve(std::this_thread::get_id()); });
  EXPECT_EQ(mainId, mainThread.future().wait(kWait).value());
  EXPECT_NE(mainId, std::this_thread::get_id());
}

}  // namespace
}  // namespace zel
