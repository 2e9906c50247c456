#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "support/AssertionCapture.h"
#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/transport/URLError.h"
#include "zel/transport/ZELNetworkingSessionDelegate.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;
const std::string kStreamingRequired = "Invalid parameter not satisfying: self.streamingEnabled";
const std::string kRedirectPrefix =
    "The API served an HTTP redirect response. This is a bad performance pattern. ";

// Signals each task's end after the delegate under test handled it, so a test can wait for the
// end of a task whose end completes no future.
class ObservedDelegate : public ZELNetworkingSessionDelegate {
 public:
  struct Ends {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::uint64_t> ids;
  };

  using ZELNetworkingSessionDelegate::ZELNetworkingSessionDelegate;

  void didCompleteWithError(URLSession& session, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<Error>& error) override {
    ZELNetworkingSessionDelegate::didCompleteWithError(session, task, error);
    {
      std::lock_guard lock(ends->mutex);
      ends->ids.insert(task->taskIdentifier());
    }
    ends->changed.notify_all();
  }

  bool waitForEnd(const std::shared_ptr<URLSessionTask>& task) const {
    std::unique_lock lock(ends->mutex);
    return ends->changed.wait_for(lock, kWait,
                                  [&] { return ends->ids.contains(task->taskIdentifier()); });
  }

  const std::shared_ptr<Ends> ends = std::make_shared<Ends>();
};

// Calls of the blocks, shared with the blocks so they may outlive a failed wait.
struct Calls {
  std::mutex mutex;
  std::vector<std::optional<std::string>> nextURIs;
  std::vector<std::tuple<std::uint64_t, std::int64_t, std::int64_t>> uploads;
};

class ZELNetworkingSessionDelegateTest : public ::testing::Test {
 protected:
  void makeSession(bool streaming) {
    delegate = std::make_shared<ObservedDelegate>(streaming);
    session = URLSession::sessionWithConfiguration(
        URLSessionConfiguration::defaultSessionConfiguration(), delegate);
  }

  static URLRequest requestFor(const std::string& url) {
    return URLRequest(*URL::URLWithString(url));
  }

  // Registers a client task with blocks that record into calls, then starts it.
  std::shared_ptr<ZELNetworkingClientTask> start(const URLRequest& request,
                                                 bool withBlocks = true) {
    auto sessionTask = session->dataTaskWithRequest(request);
    auto clientTask = ZELNetworkingClientTask::initWithURLSessionTask(sessionTask);
    if (withBlocks) {
      clientTask->setHeaderBlock([calls = calls](const ZELAPIResponseLinkHeader& links) {
        std::lock_guard lock(calls->mutex);
        calls->nextURIs.push_back(links.nextURI());
      });
      recordUploads(*clientTask);
    }
    delegate->setClientTask(clientTask, sessionTask);
    clientTask->start();
    return clientTask;
  }

  static ZELNSURLSessionDataTaskResult resultOf(const ZELNetworkingClientTask& clientTask) {
    auto outcome = clientTask.resultFuture().wait(kWait);
    EXPECT_TRUE(outcome.ok()) << "no result";
    return outcome.ok() ? outcome.value() : ZELNSURLSessionDataTaskResult{};
  }

  std::size_t nextURICalls() {
    std::lock_guard lock(calls->mutex);
    return calls->nextURIs.size();
  }

  // The task's upload progress events go to calls->uploads.
  void recordUploads(ZELNetworkingClientTask& clientTask) {
    clientTask.setUploadProgressBlock(
        [calls = calls](std::uint64_t sent, std::int64_t total, std::int64_t expected) {
          std::lock_guard lock(calls->mutex);
          calls->uploads.emplace_back(sent, total, expected);
        });
  }

  MockServer server;
  test::AssertionCapture reports;
  std::shared_ptr<Calls> calls = std::make_shared<Calls>();
  std::shared_ptr<ObservedDelegate> delegate;
  std::shared_ptr<URLSession> session;
};

// ---- the map -----------------------------------------------------------------------------------

TEST_F(ZELNetworkingSessionDelegateTest, MapRegistersReplacesAndRemovesEntries) {
  makeSession(true);
  const std::shared_ptr<URLSessionTask> a =
      session->dataTaskWithRequest(requestFor(server.url("/a")));
  const std::shared_ptr<URLSessionTask> b =
      session->dataTaskWithRequest(requestFor(server.url("/b")));
  const auto first = ZELNetworkingClientTask::initWithURLSessionTask(a);
  const auto second = ZELNetworkingClientTask::initWithURLSessionTask(a);

  delegate->setClientTask(first, a);
  EXPECT_EQ(delegate->clientTaskForSessionTask(a), first);
  EXPECT_EQ(delegate->clientTaskForSessionTask(b), nullptr);
  delegate->setClientTask(second, a);
  EXPECT_EQ(delegate->clientTaskForSessionTask(a), second);

  delegate->setClientTask(first, nullptr);
  EXPECT_EQ(reports.messages(),
            std::vector<std::string>{"Invalid parameter not satisfying: sessionTask"});
  EXPECT_EQ(delegate->clientTaskForSessionTask(a), second);

  delegate->setClientTask(nullptr, a);
  EXPECT_EQ(delegate->clientTaskForSessionTask(a), nullptr);
  delegate->setClientTask(nullptr, b);  // removing nothing is fine
  EXPECT_EQ(reports.count(), 1u);
}

TEST_F(ZELNetworkingSessionDelegateTest, MapIsSafeToUseFromManyThreads) {
  makeSession(true);
  constexpr int kThreads = 4;
  constexpr int kTasks = 100;
  auto mismatches = std::make_shared<std::atomic<int>>(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    std::vector<std::shared_ptr<URLSessionTask>> tasks;
    for (int i = 0; i < kTasks; ++i)
      tasks.push_back(session->dataTaskWithRequest(requestFor(server.url("/m"))));
    threads.emplace_back([delegate = delegate, tasks = std::move(tasks), mismatches] {
      for (const auto& task : tasks) {
        auto clientTask = ZELNetworkingClientTask::initWithURLSessionTask(task);
        delegate->setClientTask(clientTask, task);
        if (delegate->clientTaskForSessionTask(task) != clientTask) ++*mismatches;
      }
      for (const auto& task : tasks) {
        delegate->setClientTask(nullptr, task);
        if (delegate->clientTaskForSessionTask(task) != nullptr) ++*mismatches;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches->load(), 0);
}

// ---- streaming mode
// ------------------------------------------------------------------------------

TEST_F(ZELNetworkingSessionDelegateTest, StreamingCollectsPiecesCallsHeaderBlockAndCompletes) {
  server.route("/items/", MockResponse{.headers = {{"Link", "</items/?page=2>; rel=\"next\""},
                                                       {"Content-Type", "application/json"}},
                                           .bodyPieces = {"[1,", "2,", "3]"},
                                           .delayBetweenPieces = 20ms,
                                           .chunked = true});
  makeSession(true);
  const auto clientTask = start(requestFor(server.url("/items/")));

  const auto result = resultOf(*clientTask);
  ASSERT_FALSE(result.error.has_value()) << result.error->description();
  ASSERT_TRUE(result.data.has_value());
  EXPECT_EQ(result.data->stringView(), "[1,2,3]");
  const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->statusCode(), 200);
  EXPECT_EQ(clientTask->response(), http);
  {
    std::lock_guard lock(calls->mutex);
    EXPECT_EQ(calls->nextURIs, std::vector<std::optional<std::string>>{"/items/?page=2"});
  }
  const auto metrics = clientTask->metricsFuture().wait(kWait);
  ASSERT_TRUE(metrics.ok());
  EXPECT_EQ(metrics.value().transactionMetrics.size(), 1u);
  EXPECT_EQ(reports.count(), 0u);
}

TEST_F(ZELNetworkingSessionDelegateTest, ResponseWithoutLinkOrWithoutHeaderBlockIsAllowed) {
  server.route("/plain/", MockResponse{.body = "ok"});
  server.route("/linked/",
               MockResponse{.headers = {{"Link", "<next>; rel=\"next\""}}, .body = "ok"});
  makeSession(true);
  const auto withoutLink = start(requestFor(server.url("/plain/")));
  const auto withoutBlock = start(requestFor(server.url("/linked/")), /*withBlocks=*/false);
  EXPECT_EQ(resultOf(*withoutLink).data->stringView(), "ok");
  EXPECT_EQ(resultOf(*withoutBlock).data->stringView(), "ok");
  EXPECT_EQ(nextURICalls(), 0u);
  EXPECT_EQ(reports.count(), 0u);
}

TEST_F(ZELNetworkingSessionDelegateTest, EmptyBodyGivesAbsentDataAndTheHeaderBlockStillRuns) {
  server.route("/empty/", MockResponse{.status = 204, .headers = {{"Link", "<n>; rel=next"}}});
  makeSession(true);
  const auto clientTask = start(requestFor(server.url("/empty/")));
  const auto result = resultOf(*clientTask);
  EXPECT_FALSE(result.data.has_value());
  EXPECT_FALSE(result.error.has_value());
  EXPECT_EQ(nextURICalls(), 1u);
}

TEST_F(ZELNetworkingSessionDelegateTest, CancelEndsTheResultWithTheCancellationError) {
  server.route("/slow/", MockResponse{.body = "late", .delayBeforeHead = 30s});
  makeSession(true);
  const auto clientTask = start(requestFor(server.url("/slow/")));
  ASSERT_TRUE(server.waitForRequests(1, kWait));
  clientTask->cancel();
  const auto result = resultOf(*clientTask);
  ASSERT_TRUE(result.error.has_value());
  EXPECT_EQ(result.error->domain(), NSURLErrorDomain);
  EXPECT_EQ(result.error->code(), NSURLErrorCancelled);
  EXPECT_FALSE(result.data.has_value());
  EXPECT_TRUE(clientTask->metricsFuture().wait(kWait).ok());
}

TEST_F(ZELNetworkingSessionDelegateTest, UploadProgressReachesOnlyTheRegisteredTasksBlock) {
  server.route("/up/", MockResponse{.body = "done"});
  makeSession(true);
  URLRequest registered = requestFor(server.url("/up/"));
  registered.setHTTPMethod("POST");
  registered.setHTTPBody(Data::copy(std::string(3000, 'r')));
  URLRequest unregistered = registered;
  unregistered.setHTTPBody(Data::copy(std::string(5000, 'u')));

  auto loose = session->dataTaskWithRequest(unregistered);
  loose->resume();
  const auto clientTask = start(registered);
  EXPECT_EQ(resultOf(*clientTask).data->stringView(), "done");
  ASSERT_TRUE(delegate->waitForEnd(loose));
  EXPECT_EQ(loose->countOfBytesSent(), 5000);

  std::lock_guard lock(calls->mutex);
  ASSERT_FALSE(calls->uploads.empty());
  std::uint64_t sum = 0;
  for (const auto& [sent, total, expected] : calls->uploads) {
    sum += sent;
    EXPECT_EQ(expected, 3000);
    EXPECT_LE(total, 3000);
  }
  EXPECT_EQ(sum, 3000u);
  EXPECT_EQ(std::get<1>(calls->uploads.back()), 3000);
}

// ---- completion-handler mode
// ---------------------------------------------------------------------

TEST_F(ZELNetworkingSessionDelegateTest, WithoutStreamingOnlyProgressAndMetricsReachTheClientTask) {
  server.route("/form/", MockResponse{.headers = {{"Link", "<n>; rel=next"}}, .body = "body"});
  makeSession(false);
  URLRequest request = requestFor(server.url("/form/"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(Data::copy("a=1&b=2"));
  test::OutcomeWaiter waiter;
  auto sessionTask = session->dataTaskWithRequest(request, waiter.handler());
  auto clientTask = ZELNetworkingClientTask::initWithURLSessionTask(sessionTask);
  recordUploads(*clientTask);
  delegate->setClientTask(clientTask, sessionTask);
  sessionTask->resume();

  const auto outcome = waiter.wait();
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(outcome->data->stringView(), "body");
  EXPECT_TRUE(clientTask->metricsFuture().wait(kWait).ok());
  EXPECT_FALSE(clientTask->resultFuture().isCompleted());
  {
    std::lock_guard lock(calls->mutex);
    ASSERT_FALSE(calls->uploads.empty());
    EXPECT_EQ(std::get<1>(calls->uploads.back()), 7);
  }
  EXPECT_EQ(reports.count(), 0u);
}

TEST_F(ZELNetworkingSessionDelegateTest, WithoutStreamingStreamedEventsAreReportedAndHeadAllowed) {
  server.route("/stream/", MockResponse{.headers = {{"Link", "<n>; rel=next"}},
                                            .bodyPieces = {"ab", "cd"},
                                            .delayBetweenPieces = 20ms,
                                            .chunked = true});
  makeSession(true);
  delegate->setStreamingEnabled(false);
  EXPECT_FALSE(delegate->streamingEnabled());
  const auto clientTask = start(requestFor(server.url("/stream/")));
  // The task only ends if its response head was allowed.
  ASSERT_TRUE(delegate->waitForEnd(clientTask->task()));
  EXPECT_TRUE(clientTask->metricsFuture().wait(kWait).ok());

  EXPECT_EQ(nextURICalls(), 0u);
  EXPECT_FALSE(clientTask->resultFuture().isCompleted());
  EXPECT_FALSE(clientTask->responseBodyData().has_value());
  const auto messages = reports.messages();
  EXPECT_GE(messages.size(), 3u);  // head, at least one data event, end
  EXPECT_EQ(reports.count(kStreamingRequired), messages.size());

  // A head that comes without a completion handler still reaches the header block.
  const auto head =
      std::make_shared<const HTTPURLResponse>(*URL::URLWithString(server.url("/stream/")), 200,
                                              "HTTP/1.1", HTTPHeaders{{"Link", "<n>; rel=next"}});
  delegate->didReceiveResponse(
      *session, std::static_pointer_cast<URLSessionDataTask>(clientTask->task()), head, nullptr);
  EXPECT_EQ(nextURICalls(), 1u);
  EXPECT_EQ(reports.count(kStreamingRequired), messages.size() + 1);
}

// ---- redirects
// -----------------------------------------------------------------------------------

class ZELNetworkingSessionDelegateRedirectTest : public ZELNetworkingSessionDelegateTest {
 protected:
  URLRequest postTo(const std::string& url) {
    URLRequest request = requestFor(url);
    request.setHTTPMethod("POST");
    request.setValue(std::string("7"), "X-Trace");
    request.setValue(std::string("Bearer token"), "Authorization");
    request.setValue(std::string("application/x-www-form-urlencoded"), "Content-Type");
    request.setHTTPBody(Data::copy("a=1"));
    return request;
  }

  static void expectSameRequest(const MockRequest& received, bool withAuthorization) {
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(received.body, "a=1");
    EXPECT_EQ(received.headers.value("X-Trace"), "7");
    EXPECT_EQ(received.headers.value("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(received.headers.contains("Authorization"), withAuthorization);
  }
};

TEST_F(ZELNetworkingSessionDelegateRedirectTest, WithoutTrailingSlashReportsTwiceAndKeepsRequest) {
  server.route("/old", MockResponse{.status = 303, .headers = {{"Location", "/new/"}}});
  server.route("/new/", MockResponse{.body = "moved"});
  makeSession(true);
  const auto clientTask = start(postTo(server.url("/old")));
  EXPECT_EQ(resultOf(*clientTask).data->stringView(), "moved");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].path, "/new/");
  expectSameRequest(requests[1], /*withAuthorization=*/true);
  EXPECT_EQ(reports.messages(),
            (std::vector<std::string>{
                kRedirectPrefix +
                    "Make sure that the requested URL has a trailing slash. Original request: " +
                    server.url("/old"),
                kRedirectPrefix + "Original request: " + server.url("/old") +
                    ", new request: " + server.url("/new/")}));
}

TEST_F(ZELNetworkingSessionDelegateRedirectTest, WithTrailingSlashReportsOnce) {
  server.route("/old/", MockResponse{.status = 302, .headers = {{"Location", "/new/?x=1"}}});
  server.route("/new/", MockResponse{.body = "moved"});
  makeSession(true);
  const auto clientTask = start(postTo(server.url("/old/")));
  EXPECT_EQ(resultOf(*clientTask).data->stringView(), "moved");
  expectSameRequest(server.requests().at(1), /*withAuthorization=*/true);
  EXPECT_EQ(reports.messages(),
            std::vector<std::string>{kRedirectPrefix + "Original request: " + server.url("/old/") +
                                     ", new request: " + server.url("/new/?x=1")});
}

TEST_F(ZELNetworkingSessionDelegateRedirectTest, ToAnotherOriginKeepsTheRequestButNotCredentials) {
  MockServer other;
  other.route("/new/", MockResponse{.body = "elsewhere"});
  server.route("/old/",
               MockResponse{.status = 307, .headers = {{"Location", other.url("/new/")}}});
  makeSession(true);
  const auto clientTask = start(postTo(server.url("/old/")));
  EXPECT_EQ(resultOf(*clientTask).data->stringView(), "elsewhere");
  const auto requests = other.requests();
  ASSERT_EQ(requests.size(), 1u);
  expectSameRequest(requests[0], /*withAuthorization=*/false);
}

TEST_F(ZELNetworkingSessionDelegateRedirectTest, WithoutRedirectResponseTheNewRequestPasses) {
  makeSession(true);
  const auto task = session->dataTaskWithRequest(postTo(server.url("/old")));
  const URLRequest proposed = requestFor(server.url("/elsewhere/"));
  auto followed = std::make_shared<std::optional<URLRequest>>();
  delegate->willPerformHTTPRedirection(*session, task, nullptr, proposed,
                                       [followed](std::optional<URLRequest> r) { *followed = r; });
  ASSERT_TRUE(followed->has_value());
  EXPECT_EQ(**followed, proposed);
  EXPECT_EQ(reports.count(), 0u);
}

}  // namespace
}  // namespace zel
