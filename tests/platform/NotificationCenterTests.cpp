#include "zel/platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/AssertionCapture.h"

namespace zel {
namespace {

class NotificationCenterTest : public ::testing::Test {
 protected:
  // An observer that records "label:name" for each notification it gets.
  ScopedObserver record(std::optional<std::string> name, const void* sender, std::string label) {
    return ScopedObserver(center, center.addObserverForName(std::move(name), sender,
                                                            [this, label](const Notification& n) {
                                                              seen.push_back(label + ":" + n.name);
                                                            }));
  }

  NotificationCenter center;
  std::vector<std::string> seen;
};

TEST_F(NotificationCenterTest, FiltersByNameAndSender) {
  int senderA = 0, senderB = 0;
  const auto any = record(std::nullopt, nullptr, "any");
  const auto named = record("Done", nullptr, "named");
  const auto fromA = record(std::nullopt, &senderA, "fromA");
  const auto namedFromB = record("Done", &senderB, "namedFromB");
  center.postNotificationName("Done", &senderA);
  center.postNotificationName("Done", &senderB);
  center.postNotificationName("Other", nullptr);
  center.postNotificationName("Other", &senderA);
  EXPECT_EQ(seen, (std::vector<std::string>{"any:Done", "named:Done", "fromA:Done", "any:Done",
                                            "named:Done", "namedFromB:Done", "any:Other",
                                            "any:Other", "fromA:Other"}));
}

TEST_F(NotificationCenterTest, DeliversNotificationContentsOnThePostingThread) {
  int sender = 0;
  std::thread::id deliveredOn;
  Notification delivered;
  ScopedObserver observer(center,
                          center.addObserverForName("N", nullptr, [&](const Notification& n) {
                            deliveredOn = std::this_thread::get_id();
                            delivered = n;
                          }));
  std::thread poster([&] { center.postNotification(Notification{"N", &sender, {{"count", 7}}}); });
  const auto postedOn = poster.get_id();
  poster.join();
  EXPECT_EQ(deliveredOn, postedOn);
  EXPECT_EQ(delivered.name, "N");
  EXPECT_EQ(delivered.object, &sender);
  EXPECT_EQ(std::any_cast<int>(delivered.userInfo.at("count")), 7);
}

TEST_F(NotificationCenterTest, RemovalIsIdempotentAndScopedObserversRemoveWhenDestroyed) {
  NotificationCenter other;
  int calls = 0;
  const auto token = center.addObserverForName("N", nullptr, [&](const Notification&) { ++calls; });
  EXPECT_TRUE(token.isValid());
  other.removeObserver(token);  // another centre's token removes nothing here
  center.removeObserver(ObserverToken{});
  center.postNotificationName("N", nullptr);
  center.removeObserver(token);
  center.removeObserver(token);
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(center.addObserverForName("N", nullptr, nullptr).isValid());
  {
    ScopedObserver first = record("N", nullptr, "scoped");
    ScopedObserver moved(std::move(first));
    EXPECT_FALSE(first.token().isValid());
    first = std::move(moved);
    center.postNotificationName("N", nullptr);
  }
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"scoped:N"});
}

TEST_F(NotificationCenterTest, BlocksMayRemoveThemselvesAndLaterObservers) {
  ObserverToken self, later;
  self = center.addObserverForName("N", nullptr, [&](const Notification&) {
    seen.push_back("self");
    center.removeObserver(self);
    center.removeObserver(later);
  });
  const auto middle = record("N", nullptr, "middle");
  later = center.addObserverForName("N", nullptr,
                                    [&](const Notification&) { seen.push_back("later"); });
  center.postNotificationName("N", nullptr);
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"self", "middle:N", "middle:N"}));
}

TEST_F(NotificationCenterTest, BlocksMayPostAndAddObservers) {
  std::vector<ScopedObserver> added;
  ScopedObserver outer(center,
                       center.addObserverForName("Outer", nullptr, [&](const Notification&) {
                         seen.push_back("outer");
                         // Added during a post: not part of this post, but of the next one.
                         added.push_back(record("Outer", nullptr, "added"));
                         center.postNotificationName("Inner", nullptr);
                       }));
  const auto inner = record("Inner", nullptr, "inner");
  center.postNotificationName("Outer", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner:Inner"}));
  outer.reset();
  center.postNotificationName("Outer", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner:Inner", "added:Outer"}));
}

TEST_F(NotificationCenterTest, ThrowingBlockIsReportedAndDeliveryGoesOn) {
  test::AssertionCapture capture;
  ScopedObserver thrower(center, center.addObserverForName("N", nullptr, [](const Notification&) {
    throw std::runtime_error("boom");
  }));
  const auto after = record("N", nullptr, "after");
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"after:N"});
  EXPECT_EQ(capture.count("A notification observer threw: boom"), 1u);
}

TEST_F(NotificationCenterTest, ConcurrentPostsWhileObserversComeAndGo) {
  constexpr int kPosters = 4, kPostsEach = 2000, kChurners = 2, kChurnRounds = 500;
  std::atomic<int> stableCalls{0}, churnCalls{0};
  ScopedObserver stable(center, center.addObserverForName(
                                    "Tick", nullptr, [&](const Notification&) { ++stableCalls; }));

  std::vector<std::thread> threads;
  for (int p = 0; p < kPosters; ++p) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPostsEach; ++i) center.postNotificationName("Tick", nullptr);
    });
  }
  for (int c = 0; c < kChurners; ++c) {
    threads.emplace_back([&] {
      for (int i = 0; i < kChurnRounds; ++i) {
        ScopedObserver temporary(
            center, center.addObserverForName(std::nullopt, nullptr,
                                              [&](const Notification&) { ++churnCalls; }));
        center.postNotificationName("Churn", nullptr);  // reaches at least this observer
      }
    });
  }
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(stableCalls.load(), kPosters * kPostsEach);
  EXPECT_GE(churnCalls.load(), kChurners * kChurnRounds);
  const auto after = record(std::nullopt, nullptr, "after");
  center.postNotificationName("Tick", nullptr);
  EXPECT_EQ(stableCalls.load(), kPosters * kPostsEach + 1);
  EXPECT_EQ(seen, std::vector<std::string>{"after:Tick"});  // every temporary observer is gone
}

}  // namespace
}  // namespace zel
