#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "support/AssertionCapture.h"
#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/transport/URLError.h"
#include "zel/transport/ZELNetworkingSessionDelegate.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using test::requestFor;

constexpr auto kWait = 10s;
const std::string kStreamingRequired = "Invalid parameter not satisfying: self.streamingEnabled";
const std::string kRedirectPrefix =
    "The API served an HTTP redirect response. This is a bad performance pattern. ";

// Calls of the blocks, shared with the blocks so they may outlive a failed wait.
struct Calls {
  std::mutex mutex;
  std::vector<std::optional<std::string>> nextURIs;
  std::vector<std::tuple<std::uint64_t, std::int64_t, std::int64_t>> uploads;
};

class ZELNetworkingSessionDelegateTest : public ::testing::Test {
 protected:
  // Starts a session task for the request, with a client task registered for it whose blocks
  // record into calls. (The client's tests run tasks without blocks.)
  std::shared_ptr<ZELNetworkingClientTask> start(const URLRequest& request) {
    const std::shared_ptr<URLSessionTask> task = session->dataTaskWithRequest(request);
    auto clientTask = ZELNetworkingClientTask::initWithURLSessionTask(task);
    clientTask->setHeaderBlock([calls = calls](const ZELAPIResponseLinkHeader& links) {
      std::lock_guard lock(calls->mutex);
      calls->nextURIs.push_back(links.nextURI());
    });
    clientTask->setUploadProgressBlock(
        [calls = calls](std::uint64_t sent, std::int64_t total, std::int64_t expected) {
          std::lock_guard lock(calls->mutex);
          calls->uploads.emplace_back(sent, total, expected);
        });
    delegate->setClientTask(clientTask, task);
    clientTask->start();
    return clientTask;
  }

  static ZELNSURLSessionDataTaskResult resultOf(const ZELNetworkingClientTask& clientTask) {
    return clientTask.resultFuture().wait(kWait).value();  // throws without a result
  }

  static bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
    return condition();
  }

  static URLRequest post(const std::string& url, const std::string& body) {
    URLRequest request = requestFor(url);
    request.setHTTPMethod("POST");
    request.setValue(std::string("7"), "X-Trace");
    request.setValue(std::string("Bearer token"), "Authorization");
    request.setValue(std::string("application/x-www-form-urlencoded"), "Content-Type");
    request.setHTTPBody(Data::copy(body));
    return request;
  }

  MockServer server;
  test::AssertionCapture reports;
  std::shared_ptr<Calls> calls = std::make_shared<Calls>();
  std::shared_ptr<ZELNetworkingSessionDelegate> delegate =
      ZELNetworkingSessionDelegate::initWithStreamingEnabled(true);
  std::shared_ptr<URLSession> session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), delegate);
  // A session task that never starts, and its unregistered client task.
  std::shared_ptr<URLSessionDataTask> idleTask =
      session->dataTaskWithRequest(requestFor("http://127.0.0.1:9/items/"));
  std::shared_ptr<ZELNetworkingClientTask> clientTask =
      ZELNetworkingClientTask::initWithURLSessionTask(idleTask);
};

TEST_F(ZELNetworkingSessionDelegateTest,
       ClientTaskCollectsChunksAndTheFirstResultAndFirstMetricsStand) {
  // An absent chunk is reported and creates no body.
  clientTask->receivePartialData(std::nullopt);
  EXPECT_EQ(reports.messages(), std::vector<std::string>{"Invalid parameter not satisfying: data"});
  EXPECT_FALSE(clientTask->responseBodyData().has_value());

  clientTask->receivePartialData(Data::copy("ab"));
  clientTask->receivePartialData(Data::copy("cd"));
  EXPECT_EQ(clientTask->responseBodyData()->stringView(), "abcd");
  const auto response = std::make_shared<const HTTPURLResponse>(
      *URL::URLWithString("http://127.0.0.1/a/"), 201, "HTTP/1.1", HTTPHeaders{});
  clientTask->receiveFullResponse(response, std::nullopt);
  // Late bytes and a second ending change nothing.
  clientTask->receivePartialData(Data::copy("-late"));
  clientTask->receiveFullResponse(nullptr, Error(NSURLErrorDomain, NSURLErrorTimedOut));
  const auto record = resultOf(*clientTask);
  EXPECT_EQ(record.data->stringView(), "abcd");
  EXPECT_EQ(record.response, response);
  EXPECT_FALSE(record.error.has_value());
  EXPECT_EQ(clientTask->responseBodyData()->stringView(), "abcd");

  clientTask->resolveFutureWithMetrics(URLSessionTaskMetrics{{}, {}, 3});
  clientTask->resolveFutureWithMetrics(URLSessionTaskMetrics{});
  EXPECT_EQ(clientTask->metricsFuture().wait(kWait).value().redirectCount, 3u);
  EXPECT_EQ(reports.count(), 1u);
}

TEST_F(ZELNetworkingSessionDelegateTest,
       ClientTaskBodyReadWhileItIsCollectedAndDeliveredIsNeverTorn) {
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
  EXPECT_EQ(resultOf(*clientTask).data->size(), 4u * kChunks);
}

// The map replaces and removes entries; a client task without a session task still ends.
TEST_F(ZELNetworkingSessionDelegateTest, MapReplacesAndRemovesEntriesAndAnOrphanTaskStillEnds) {
  const auto second = ZELNetworkingClientTask::initWithURLSessionTask(idleTask);
  delegate->setClientTask(clientTask, idleTask);
  EXPECT_EQ(delegate->clientTaskForSessionTask(idleTask), clientTask);
  delegate->setClientTask(second, idleTask);
  EXPECT_EQ(delegate->clientTaskForSessionTask(idleTask), second);
  delegate->setClientTask(clientTask, nullptr);  // reported and ignored
  EXPECT_EQ(delegate->clientTaskForSessionTask(idleTask), second);
  delegate->setClientTask(nullptr, idleTask);
  EXPECT_EQ(delegate->clientTaskForSessionTask(idleTask), nullptr);

  const auto orphan = ZELNetworkingClientTask::initWithURLSessionTask(nullptr);
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(reports.messages(),
            (std::vector<std::string>{"Invalid parameter not satisfying: sessionTask",
                                      "Invalid parameter not satisfying: task"}));
  orphan->start();
  orphan->cancel();
  EXPECT_FALSE(orphan->request().url().has_value());
  EXPECT_EQ(orphan->response(), nullptr);
  orphan->receiveFullResponse(nullptr, Error(NSURLErrorDomain, NSURLErrorCancelled));
  const auto record = resultOf(*orphan);
  EXPECT_FALSE(record.data.has_value());
  EXPECT_EQ(record.error.value().code(), NSURLErrorCancelled);
}

// Bodies in pieces, empty bodies, Link heads, upload progress that reaches only the registered
// task's block, and cancellation.
TEST_F(ZELNetworkingSessionDelegateTest, StreamingCompletesEachRegisteredTaskWithItsBody) {
  server.route("/items/", MockResponse{.headers = {{"Link", "</items/?page=2>; rel=\"next\""},
                                                   {"Content-Type", "application/json"}},
                                       .bodyPieces = {"[1,", "2,", "3]"},
                                       .delayBetweenPieces = 20ms,
                                       .chunked = true});
  server.route("/empty/", MockResponse{.status = 204, .headers = {{"Link", "<n>; rel=next"}}});
  server.route("/up/", MockResponse{.body = "done"});
  server.route("/slow/", MockResponse{.body = "late", .delayBeforeHead = 30s});
  auto loose = session->dataTaskWithRequest(post(server.url("/up/"), std::string(5000, 'u')));
  loose->resume();
  const auto items = start(requestFor(server.url("/items/")));
  const auto empty = start(requestFor(server.url("/empty/")));
  const auto upload = start(post(server.url("/up/"), std::string(3000, 'r')));

  const auto result = resultOf(*items);
  ASSERT_FALSE(result.error.has_value()) << result.error->description();
  EXPECT_EQ(result.data->stringView(), "[1,2,3]");
  const auto emptyResult = resultOf(*empty);
  EXPECT_FALSE(emptyResult.data.has_value());
  EXPECT_FALSE(emptyResult.error.has_value());
  EXPECT_EQ(resultOf(*upload).data->stringView(), "done");
  ASSERT_TRUE(eventually([&] { return loose->state() == URLSessionTaskState::Completed; }));
  EXPECT_EQ(loose->countOfBytesSent(), 5000);

  // Cancelled while running, the result carries the cancellation error, and the metrics the
  // transaction it had begun.
  const auto cancelled = start(requestFor(server.url("/slow/")));
  ASSERT_TRUE(server.waitForRequests(5, kWait));
  cancelled->cancel();
  const auto cancelledResult = resultOf(*cancelled);
  EXPECT_EQ(cancelledResult.error.value().code(), NSURLErrorCancelled);
  EXPECT_FALSE(cancelledResult.data.has_value());
  EXPECT_EQ(cancelled->metricsFuture().wait(kWait).value().transactionMetrics.size(), 1u);
  EXPECT_EQ(reports.count(), 0u);

  std::lock_guard lock(calls->mutex);
  // From /items/ and /empty/.
  EXPECT_EQ(calls->nextURIs.size(), 2u);
  EXPECT_EQ(
      std::count(calls->nextURIs.begin(), calls->nextURIs.end(), std::string("/items/?page=2")), 1);
  // Progress is reported only when it grows, and its pieces add up to each total.
  std::int64_t sum = 0;
  for (const auto& [sent, total, expected] : calls->uploads) {
    EXPECT_GT(sent, 0u);
    sum += static_cast<std::int64_t>(sent);
    EXPECT_EQ(total, sum);
    EXPECT_EQ(expected, 3000);
  }
  EXPECT_EQ(sum, 3000);
}

// Without streaming only progress and metrics reach the client task (the client's tests run
// completion-handler tasks so); streamed events are reported, and a head is still allowed.
TEST_F(ZELNetworkingSessionDelegateTest, WithoutStreamingOnlyProgressAndMetricsReachTheTask) {
  server.route("/stream/", MockResponse{.headers = {{"Link", "<n>; rel=next"}},
                                        .bodyPieces = {"ab", "cd"},
                                        .delayBetweenPieces = 20ms,
                                        .chunked = true});
  delegate->setStreamingEnabled(false);
  const auto streamed = start(requestFor(server.url("/stream/")));
  // The task only ends if its response head was allowed; its end is reported last.
  ASSERT_TRUE(eventually([&] {
    const auto all = reports.reports();
    return !all.empty() && all.back().method.find("didCompleteWithError") != std::string::npos;
  }));
  EXPECT_TRUE(streamed->metricsFuture().wait(kWait).ok());
  EXPECT_FALSE(streamed->resultFuture().isCompleted());
  EXPECT_FALSE(streamed->responseBodyData().has_value());
  const auto messages = reports.messages();
  EXPECT_GE(messages.size(), 3u);  // head, at least one data event, end
  EXPECT_EQ(reports.count(kStreamingRequired), messages.size());

  // A head that comes without a completion handler still reaches the header block (the
  // session's head did not).
  const auto head =
      std::make_shared<const HTTPURLResponse>(*URL::URLWithString(server.url("/stream/")), 200,
                                              "HTTP/1.1", HTTPHeaders{{"Link", "<n>; rel=next"}});
  delegate->didReceiveResponse(
      *session, std::static_pointer_cast<URLSessionDataTask>(streamed->task()), head, nullptr);
  EXPECT_EQ(calls->nextURIs.size(), 1u);
  EXPECT_EQ(reports.count(kStreamingRequired), messages.size() + 1);
}

// Each redirect is reported, and followed with the request as it was made; credentials stay
// with their origin.
TEST_F(ZELNetworkingSessionDelegateTest, RedirectsAreReportedAndFollowedWithTheRequestAsMade) {
  MockServer other;
  other.route("/new/", MockResponse{.body = "moved"});
  server.route("/new/", MockResponse{.body = "moved"});
  server.route("/old", MockResponse{.status = 303, .headers = {{"Location", "/new/"}}});
  server.route("/away/",
               MockResponse{.status = 307, .headers = {{"Location", other.url("/new/")}}});
  // From, where it lands, whether that is the same origin.
  const std::vector<std::tuple<std::string, MockServer*, bool>> cases = {{"/old", &server, true},
                                                                         {"/away/", &other, false}};
  for (const auto& [from, target, sameOrigin] : cases) {
    SCOPED_TRACE(from);
    reports.clear();
    EXPECT_EQ(resultOf(*start(post(server.url(from), "a=1"))).data->stringView(), "moved");
    const auto received = target->requests().back();
    EXPECT_EQ(received.target, "/new/");
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(received.body, "a=1");
    EXPECT_EQ(received.headers.value("X-Trace"), "7");
    EXPECT_EQ(received.headers.value("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(received.headers.contains("Authorization"), sameOrigin);
    std::vector<std::string> expected;
    if (!from.ends_with('/')) {
      expected.push_back(kRedirectPrefix +
                         "Make sure that the requested URL has a trailing slash. Original "
                         "request: " +
                         server.url(from));
    }
    expected.push_back(kRedirectPrefix + "Original request: " + server.url(from) +
                       ", new request: " + target->url("/new/"));
    EXPECT_EQ(reports.messages(), expected);
  }

  // Without a redirect response the new request passes, unreported.
  reports.clear();
  const auto task = session->dataTaskWithRequest(post(server.url("/old"), "a=1"));
  const URLRequest proposed = requestFor(server.url("/elsewhere/"));
  auto followed = std::make_shared<std::optional<URLRequest>>();
  delegate->willPerformHTTPRedirection(*session, task, nullptr, proposed,
                                       [followed](std::optional<URLRequest> r) { *followed = r; });
  EXPECT_EQ(*followed, proposed);
  EXPECT_EQ(reports.count(), 0u);
}

}  // namespace
}  // namespace zel
