#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/AssertionCapture.h"
#include "zel/transport/URLError.h"
#include "zel/transport/URLSession.h"
#include "zel/transport/ZELNetworkingClientTask.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;

std::shared_ptr<const HTTPURLResponse> httpResponse(int status) {
  return std::make_shared<const HTTPURLResponse>(*URL::URLWithString("http://127.0.0.1/a/"), status,
                                                 "HTTP/1.1", HTTPHeaders{});
}

Error urlError(std::int64_t code) {
  return Error(NSURLErrorDomain, code);
}

// Unit tests of the task on its own: its session task is made but never started.
class ZELNetworkingClientTaskTest : public ::testing::Test {
 protected:
  std::shared_ptr<URLSession> session =
      URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
  std::shared_ptr<URLSessionDataTask> sessionTask =
      session->dataTaskWithRequest(URLRequest(*URL::URLWithString("http://127.0.0.1:9/items/")));
  std::shared_ptr<ZELNetworkingClientTask> clientTask =
      ZELNetworkingClientTask::initWithURLSessionTask(sessionTask);
  test::AssertionCapture reports;

  ZELNSURLSessionDataTaskResult result() const {
    auto outcome = clientTask->resultFuture().wait(kWait);
    EXPECT_TRUE(outcome.ok()) << "the result future must never fail";
    return outcome.ok() ? outcome.value() : ZELNSURLSessionDataTaskResult{};
  }
};

TEST_F(ZELNetworkingClientTaskTest, StartsWithPendingFuturesResolversAndTheSessionTasksRequest) {
  EXPECT_EQ(clientTask->task(), sessionTask);
  EXPECT_EQ(clientTask->propertyLock().name(), "com.zelvo.ZELAPIClientTask.propertyLock");
  EXPECT_FALSE(clientTask->metricsFuture().isCompleted());
  EXPECT_FALSE(clientTask->resultFuture().isCompleted());
  EXPECT_TRUE(clientTask->resolveMetricsBlock());
  EXPECT_TRUE(clientTask->resolveResultBlock());
  EXPECT_EQ(clientTask->request(), sessionTask->currentRequest());
  EXPECT_EQ(clientTask->response(), nullptr);
  EXPECT_FALSE(clientTask->responseBodyData().has_value());
  EXPECT_FALSE(clientTask->uploadProgressBlock());
  EXPECT_FALSE(clientTask->headerBlock());
  EXPECT_EQ(reports.count(), 0u);
}

TEST_F(ZELNetworkingClientTaskTest, ChunksAreCollectedInArrivalOrderAndHandedOverWithResponse) {
  clientTask->receivePartialData(Data::copy("ab"));
  clientTask->receivePartialData(Data::copy("cd"));
  EXPECT_EQ(clientTask->responseBodyData()->stringView(), "abcd");
  const auto response = httpResponse(201);
  clientTask->receiveFullResponse(response, std::nullopt);

  const auto record = result();
  ASSERT_TRUE(record.data.has_value());
  EXPECT_EQ(record.data->stringView(), "abcd");
  EXPECT_EQ(record.response, response);
  EXPECT_FALSE(record.error.has_value());
  EXPECT_EQ(reports.count(), 0u);
}

TEST_F(ZELNetworkingClientTaskTest, AbsentChunkIsReportedAndCreatesNoBody) {
  clientTask->receivePartialData(std::nullopt);
  EXPECT_EQ(reports.messages(), std::vector<std::string>{"Invalid parameter not satisfying: data"});
  EXPECT_FALSE(clientTask->responseBodyData().has_value());
}

TEST_F(ZELNetworkingClientTaskTest, WithoutChunksTheBodyIsAbsentAndTheErrorTravelsInTheRecord) {
  clientTask->receiveFullResponse(nullptr, urlError(NSURLErrorCancelled));
  const auto record = result();
  EXPECT_FALSE(record.data.has_value());
  EXPECT_EQ(record.response, nullptr);
  ASSERT_TRUE(record.error.has_value());
  EXPECT_EQ(record.error->domain(), NSURLErrorDomain);
  EXPECT_EQ(record.error->code(), NSURLErrorCancelled);
}

TEST_F(ZELNetworkingClientTaskTest, TheFirstResultStandsAndLateBytesDoNotChangeIt) {
  clientTask->receivePartialData(Data::copy("first"));
  clientTask->receiveFullResponse(httpResponse(200), std::nullopt);
  clientTask->receivePartialData(Data::copy("-late"));
  clientTask->receiveFullResponse(nullptr, urlError(-1001));

  const auto record = result();
  EXPECT_EQ(record.data->stringView(), "first");
  EXPECT_FALSE(record.error.has_value());
  EXPECT_EQ(clientTask->responseBodyData()->stringView(), "first");
}

TEST_F(ZELNetworkingClientTaskTest, MetricsCompleteTheirFutureBeforeOrAfterTheResultOnlyOnce) {
  clientTask->receiveFullResponse(httpResponse(200), std::nullopt);
  URLSessionTaskMetrics metrics;
  metrics.redirectCount = 3;
  clientTask->resolveFutureWithMetrics(metrics);
  clientTask->resolveFutureWithMetrics(URLSessionTaskMetrics{});
  const auto outcome = clientTask->metricsFuture().wait(kWait);
  ASSERT_TRUE(outcome.ok());
  EXPECT_EQ(outcome.value().redirectCount, 3u);
  EXPECT_EQ(reports.count(), 0u);
}

TEST_F(ZELNetworkingClientTaskTest, ReplacedFuturesAreReadButTheSessionCompletesTheOriginals) {
  // A replaced future is what readers see; the session still completes the original one.
  const auto original = clientTask->resultFuture();
  const auto replacement =
      ZELFuture<ZELNSURLSessionDataTaskResult>::withValue(ZELNSURLSessionDataTaskResult{});
  clientTask->setResultFuture(replacement);
  EXPECT_TRUE(clientTask->resultFuture().isSameFuture(replacement));
  clientTask->receiveFullResponse(nullptr, urlError(-1));
  ASSERT_TRUE(original.wait(kWait).ok());
  EXPECT_EQ(original.peek()->value().error->code(), -1);

  const auto metrics = ZELFuture<URLSessionTaskMetrics>::withValue(URLSessionTaskMetrics{});
  clientTask->setMetricsFuture(metrics);
  EXPECT_TRUE(clientTask->metricsFuture().isSameFuture(metrics));
}

TEST_F(ZELNetworkingClientTaskTest, BodyReadWhileItIsCollectedAndDeliveredIsNeverTorn) {
  // Readers on other threads see a prefix of the body, never a half-appended chunk.
  constexpr int kChunks = 2000;
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto torn = std::make_shared<std::atomic<int>>(0);
  std::thread reader([clientTask = clientTask, done, torn] {
    while (!done->load()) {
      const auto body = clientTask->responseBodyData();
      if (body && body->size() % 4 != 0) ++*torn;
      (void)clientTask->uploadProgressBlock();
    }
  });
  for (int i = 0; i < kChunks; ++i) {
    clientTask->receivePartialData(Data::copy("wxyz"));
    if (i == kChunks / 2) clientTask->setUploadProgressBlock([](auto, auto, auto) {});
  }
  clientTask->receiveFullResponse(nullptr, std::nullopt);
  done->store(true);
  reader.join();
  EXPECT_EQ(torn->load(), 0);
  EXPECT_EQ(result().data->size(), 4u * kChunks);
}

TEST(ZELNetworkingClientTaskWithoutSessionTask, IsReportedAndItsTaskMembersDoNothing) {
  test::AssertionCapture reports;
  const auto clientTask = ZELNetworkingClientTask::initWithURLSessionTask(nullptr);
  ASSERT_NE(clientTask, nullptr);
  EXPECT_EQ(reports.messages(), std::vector<std::string>{"Invalid parameter not satisfying: task"});
  clientTask->start();
  clientTask->cancel();
  EXPECT_FALSE(clientTask->request().url().has_value());
  EXPECT_EQ(clientTask->response(), nullptr);
  clientTask->receiveFullResponse(nullptr, std::nullopt);
  EXPECT_TRUE(clientTask->resultFuture().wait(kWait).ok());
}

}  // namespace
}  // namespace zel
