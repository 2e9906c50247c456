#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "zel/foundation/ZELNetworkRecorder.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

bool waitForCount(const ZELNetworkRecorder& recorder, std::size_t count) {
  for (int i = 0; i < 5000; ++i) {
    if (recorder.transactions().size() >= count) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

ZELNSURLSessionDataTaskResult resultWithBody(const std::string& body) {
  return ZELNSURLSessionDataTaskResult::resultWithData(Data::copy(body), nullptr, std::nullopt);
}

TEST(ZELNetworkRecorder, RecordsOnlyWhileCapturing) {
  auto recorder = ZELNetworkRecorder::create();
  recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("ignored"));
  recorder->setCapturing(true);
  recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("kept"));
  ASSERT_TRUE(waitForCount(*recorder, 1));
  std::this_thread::sleep_for(10ms);
  const auto stored = recorder->transactions();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].result.data->stringView(), "kept");
  EXPECT_EQ(stored[0].sequenceNumber, 1u);
  EXPECT_EQ(recorder->acceptedCount(), 1u);
}

TEST(ZELNetworkRecorder, KeepsTheMostRecentInOrderUnderConcurrentInserts) {
  auto recorder = ZELNetworkRecorder::create(50);
  recorder->setCapturing(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("x"));
    });
  }
  for (auto& t : threads) t.join();
  // All 400 were accepted; wait until the newest one is stored.
  for (int i = 0; i < 5000; ++i) {
    auto stored = recorder->transactions();
    if (!stored.empty() && stored.back().sequenceNumber == 400) break;
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(20ms);
  const auto stored = recorder->transactions();
  ASSERT_EQ(stored.size(), 50u);
  for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i].sequenceNumber, 351 + i);
  recorder->removeAllTransactions();
  EXPECT_TRUE(recorder->transactions().empty());
}

TEST(ZELNetworkRecorder, OutlivesItsOwnerUntilPendingInsertsAreStored) {
  std::atomic<int> observed{0};
  {
    auto recorder = ZELNetworkRecorder::create();
    recorder->setOnInsert([&](const ZELRecordedHTTPTransaction&) { ++observed; });
    recorder->setCapturing(true);
    for (int i = 0; i < 10; ++i)
      recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("y"));
  }
  for (int i = 0; i < 5000 && observed.load() < 10; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(observed.load(), 10);
}

}  // namespace
}  // namespace zel
