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

TEST(NotificationCenterTest, FiltersByNameAndSender) {
  NotificationCenter center;
  int senderA = 0, senderB = 0;
  std::vector<std::string> seen;
  const auto record = [&](std::string label) {
    return [&seen, label](const Notification& n) { seen.push_back(label + ":" + n.name); };
  };
  const auto any = center.addObserverForName(std::nullopt, nullptr, record("any"));
  const auto named = center.addObserverForName("Done", nullptr, record("named"));
  const auto fromA = center.addObserverForName(std::nullopt, &senderA, record("fromA"));
  const auto namedFromB = center.addObserverForName("Done", &senderB, record("namedFromB"));

  center.postNotificationName("Done", &senderA);
  center.postNotificationName("Done", &senderB);
  center.postNotificationName("Other", nullptr);
  center.postNotificationName("Other", &senderA);
  EXPECT_EQ(seen, (std::vector<std::string>{"any:Done", "named:Done", "fromA:Done", "any:Done",
                                            "named:Done", "namedFromB:Done", "any:Other",
                                            "any:Other", "fromA:Other"}));
  for (const auto& token : {any, named, fromA, namedFromB}) center.removeObserver(token);
}

TEST(NotificationCenterTest, DeliversNotificationContentsOnThePostingThread) {
  NotificationCenter center;
  int sender = 0;
  std::thread::id deliveredOn;
  std::string name;
  const void* object = nullptr;
  int count = -1;
  ScopedObserver observer(center,
                          center.addObserverForName("N", nullptr, [&](const Notification& n) {
                            deliveredOn = std::this_thread::get_id();
                            name = n.name;
                            object = n.object;
                            count = std::any_cast<int>(n.userInfo.at("count"));
                          }));

  std::thread::id postedOn;
  std::thread poster([&] {
    postedOn = std::this_thread::get_id();
    center.postNotification(Notification{"N", &sender, {{"count", 7}}});
  });
  poster.join();
  EXPECT_EQ(deliveredOn, postedOn);
  EXPECT_NE(deliveredOn, std::this_thread::get_id());
  EXPECT_EQ(name, "N");
  EXPECT_EQ(object, &sender);
  EXPECT_EQ(count, 7);
}

TEST(NotificationCenterTest, RemovalIsIdempotentAndIgnoresForeignTokens) {
  NotificationCenter center, other;
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
}

TEST(NotificationCenterTest, BlocksMayRemoveThemselvesAndLaterObservers) {
  NotificationCenter center;
  std::vector<std::string> seen;
  ObserverToken self, later;
  self = center.addObserverForName("N", nullptr, [&](const Notification&) {
    seen.push_back("self");
    center.removeObserver(self);
    center.removeObserver(later);
  });
  const auto middle = center.addObserverForName(
      "N", nullptr, [&](const Notification&) { seen.push_back("middle"); });
  later = center.addObserverForName("N", nullptr,
                                    [&](const Notification&) { seen.push_back("later"); });

  center.postNotificationName("N", nullptr);
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"self", "middle", "middle"}));
  center.removeObserver(middle);
}

TEST(NotificationCenterTest, BlocksMayPostAndAddObservers) {
  NotificationCenter center;
  std::vector<std::string> seen;
  std::vector<ScopedObserver> added;
  ScopedObserver outer(
      center, center.addObserverForName("Outer", nullptr, [&](const Notification&) {
        seen.push_back("outer");
        // Added during a post: not part of this post, but of the next one.
        added.emplace_back(
            center, center.addObserverForName(
                        "Outer", nullptr, [&](const Notification&) { seen.push_back("added"); }));
        center.postNotificationName("Inner", nullptr);
      }));
  ScopedObserver inner(
      center, center.addObserverForName("Inner", nullptr,
                                        [&](const Notification&) { seen.push_back("inner"); }));

  center.postNotificationName("Outer", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));
  outer.reset();
  center.postNotificationName("Outer", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner", "added"}));
}

TEST(NotificationCenterTest, ScopedObserverRemovesWhenDestroyedAndMoves) {
  NotificationCenter center;
  int calls = 0;
  {
    ScopedObserver first(
        center, center.addObserverForName("N", nullptr, [&](const Notification&) { ++calls; }));
    ScopedObserver moved(std::move(first));
    EXPECT_FALSE(first.token().isValid());
    first = std::move(moved);
    center.postNotificationName("N", nullptr);
  }
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ThrowingBlockIsReportedAndDeliveryGoesOn) {
  test::AssertionCapture capture;
  NotificationCenter center;
  int calls = 0;
  ScopedObserver thrower(center, center.addObserverForName("N", nullptr, [](const Notification&) {
    throw std::runtime_error("boom");
  }));
  ScopedObserver counter(
      center, center.addObserverForName("N", nullptr, [&](const Notification&) { ++calls; }));
  center.postNotificationName("N", nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(capture.count("A notification observer threw: boom"), 1u);
}

TEST(NotificationCenterTest, ConcurrentPostsWhileObserversComeAndGo) {
  NotificationCenter center;
  constexpr int kPosters = 4, kPostsEach = 2000, kChurners = 2, kChurnRounds = 500;
  std::atomic<int> stableCalls{0}, churnCalls{0}, wrongName{0};
  ScopedObserver stable(center,
                        center.addObserverForName("Tick", nullptr, [&](const Notification& n) {
                          if (n.name != "Tick") ++wrongName;
                          ++stableCalls;
                        }));

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
  EXPECT_EQ(wrongName.load(), 0);
  int after = 0;
  ScopedObserver counter(center, center.addObserverForName(std::nullopt, nullptr,
                                                           [&](const Notification&) { ++after; }));
  center.postNotificationName("Tick", nullptr);
  EXPECT_EQ(stableCalls.load(), kPosters * kPostsEach + 1);
  EXPECT_EQ(after, 1);  // every temporary observer is gone
}

}  // namespace
}  // namespace zel
