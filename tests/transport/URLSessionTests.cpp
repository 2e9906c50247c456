#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "support/AssertionCapture.h"
#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/platform/Json.h"
#include "zel/transport/URLError.h"
#include "zel/transport/URLSessionZELFuture.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using test::OutcomeWaiter;
using test::RecordingDelegate;

using test::requestFor;

class URLSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<URLSession> makeSession(URLSessionConfiguration config = {}) {
    return URLSession::sessionWithConfiguration(std::move(config), delegate);
  }
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  MockServer server;
};

TEST_F(URLSessionTest, CompletionHandlerGetsBodyResponseAndTheDelegateOnlyMetrics) {
  server.route("/hello",
               MockResponse{.status = 201, .headers = {{"X-Id", "7"}}, .body = "hi there"});
  auto session = makeSession();
  OutcomeWaiter waiter;
  auto task = session->dataTaskWithRequest(requestFor(server.url("/hello?a=1")), waiter.handler());
  EXPECT_EQ(task->state(), URLSessionTaskState::Suspended);
  task->resume();
  auto outcome = waiter.wait();
  ASSERT_TRUE(outcome.has_value());
  ASSERT_FALSE(outcome->error.has_value()) << outcome->error->description();
  EXPECT_EQ(outcome->data->stringView(), "hi there");
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(outcome->response);
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->statusCode(), 201);
  EXPECT_EQ(http->valueForHTTPHeaderField("x-id"), "7");
  EXPECT_EQ(server.requests().at(0).target, "/hello?a=1");

  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "metrics"));
  const auto record = delegate->record(task->taskIdentifier());
  EXPECT_EQ(record.events, std::vector<std::string>{"metrics"});
  ASSERT_EQ(record.metrics->transactionMetrics.size(), 1u);
  const auto& m = record.metrics->transactionMetrics[0];
  EXPECT_EQ(m.networkProtocolName, "http/1.1");
  EXPECT_EQ(m.remoteAddress, "127.0.0.1");
  EXPECT_EQ(m.remotePort, server.port());
  EXPECT_EQ(m.resourceFetchTypeName(), "network");
  EXPECT_FALSE(m.isReusedConnection);
  EXPECT_EQ(m.countOfResponseBodyBytesAfterDecoding, 8);
  ASSERT_TRUE(m.requestStartDate && m.responseEndDate);
  EXPECT_LE(*m.requestStartDate, *m.responseEndDate);
  EXPECT_EQ(task->state(), URLSessionTaskState::Completed);
}

TEST_F(URLSessionTest, KeepAliveReusesTheConnectionAndMetricsSayIt) {
  server.route("/a", MockResponse{.body = "x"});
  auto session = makeSession();
  std::vector<std::uint64_t> ids;
  for (int i = 0; i < 2; ++i) {
    OutcomeWaiter waiter;
    auto task = session->dataTaskWithRequest(requestFor(server.url("/a")), waiter.handler());
    task->resume();
    ASSERT_TRUE(waiter.wait().has_value());
    ids.push_back(task->taskIdentifier());
  }
  EXPECT_EQ(server.connectionCount(), 1u);
  ASSERT_TRUE(delegate->waitFor(ids[1], "metrics"));
  EXPECT_FALSE(delegate->record(ids[0]).metrics->transactionMetrics[0].isReusedConnection);
  const auto second = delegate->record(ids[1]).metrics->transactionMetrics[0];
  EXPECT_TRUE(second.isReusedConnection);
  EXPECT_FALSE(second.connectStartDate.has_value());
}

TEST_F(URLSessionTest, StreamingDelegateSeesEventsInOrder) {
  server.route("/slow", MockResponse{.bodyPieces = {"one,", "two,", "three"},
                                         .delayBetweenPieces = 30ms,
                                         .chunked = true});
  auto session = makeSession();
  auto task = session->dataTaskWithRequest(requestFor(server.url("/slow")));
  task->resume();
  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "complete"));
  const auto record = delegate->record(task->taskIdentifier());
  EXPECT_EQ(record.events, (std::vector<std::string>{"response", "data", "metrics", "complete"}));
  EXPECT_EQ(record.body, "one,two,three");
  EXPECT_FALSE(record.error.has_value());
  EXPECT_EQ(task->countOfBytesReceived(), 13);
}

TEST_F(URLSessionTest, ResponseDispositionHoldsBodyBackUntilAnsweredFromAnotherThread) {
  server.route("/body", MockResponse{.body = "payload"});
  std::thread answerer;
  delegate->dispositionHook = [&](std::function<void(URLSessionResponseDisposition)> answer) {
    answerer = std::thread([answer] {
      std::this_thread::sleep_for(50ms);
      answer(URLSessionResponseDisposition::Allow);
    });
  };
  auto session = makeSession();
  auto task = session->dataTaskWithRequest(requestFor(server.url("/body")));
  task->resume();
  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "complete"));
  answerer.join();
  const auto record = delegate->record(task->taskIdentifier());
  EXPECT_EQ(record.events, (std::vector<std::string>{"response", "data", "metrics", "complete"}));
  EXPECT_EQ(record.body, "payload");

  // Cancel as the disposition: no body, and the task ends cancelled.
  delegate->dispositionHook = [](auto answer) { answer(URLSessionResponseDisposition::Cancel); };
  auto cancelled = session->dataTaskWithRequest(requestFor(server.url("/body")));
  cancelled->resume();
  ASSERT_TRUE(delegate->waitFor(cancelled->taskIdentifier(), "complete"));
  const auto cancelledRecord = delegate->record(cancelled->taskIdentifier());
  EXPECT_TRUE(cancelledRecord.body.empty());
  ASSERT_TRUE(cancelledRecord.error.has_value());
  EXPECT_EQ(cancelledRecord.error->code(), NSURLErrorCancelled);
}

TEST_F(URLSessionTest, RedirectsAreFollowedThroughTheDelegateAsTransactionsOfTheirOwn) {
  server.route("/old",
               MockResponse{.status = 302, .headers = {{"Location", "/new"}}, .body = "moved"});
  server.route("/new", MockResponse{.echoRequest = true});
  auto session = makeSession();
  auto request = requestFor(server.url("/old"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(Data::copy("a=1"));
  request.setValue(std::string("application/x-www-form-urlencoded"), "Content-Type");
  request.setValue(std::string("v"), "X-Keep");
  OutcomeWaiter waiter;
  auto task = session->dataTaskWithRequest(request, waiter.handler());
  task->resume();
  auto outcome = waiter.wait();
  ASSERT_TRUE(outcome && !outcome->error);
  // 302 after POST becomes a GET without body; other fields stay.
  const auto echo = jsonObjectWithData(*outcome->data).value().as_object();
  EXPECT_EQ(echo.at("method").as_string(), "GET");
  EXPECT_EQ(echo.at("path").as_string(), "/new");
  EXPECT_EQ(echo.at("body").as_string(), "");
  EXPECT_EQ(echo.at("headers").as_object().at("X-Keep").as_string(), "v");
  EXPECT_EQ(task->currentRequest().url()->path(), "/new");
  EXPECT_EQ(task->originalRequest().url()->path(), "/old");

  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "metrics"));
  const auto record = delegate->record(task->taskIdentifier());
  EXPECT_EQ(record.events, (std::vector<std::string>{"upload", "redirect", "metrics"}));
  EXPECT_EQ(record.metrics->redirectCount, 1u);
  ASSERT_EQ(record.metrics->transactionMetrics.size(), 2u);
  EXPECT_EQ(std::dynamic_pointer_cast<const HTTPURLResponse>(
                record.metrics->transactionMetrics[0].response)
                ->statusCode(),
            302);
}

TEST_F(URLSessionTest, RefusedRedirectDeliversTheRedirectResponse) {
  server.route("/old",
               MockResponse{.status = 301, .headers = {{"Location", "/new"}}, .body = "moved"});
  delegate->redirectPolicy = [](const URLRequest&) { return std::nullopt; };
  auto session = makeSession();
  auto task = session->dataTaskWithRequest(requestFor(server.url("/old")));
  task->resume();
  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "complete"));
  const auto record = delegate->record(task->taskIdentifier());
  EXPECT_EQ(record.events,
            (std::vector<std::string>{"redirect", "response", "data", "metrics", "complete"}));
  EXPECT_EQ(std::dynamic_pointer_cast<const HTTPURLResponse>(record.response)->statusCode(), 301);
  EXPECT_EQ(record.body, "moved");
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(URLSessionTest, RedirectLoopStopsAfterSixteenHops) {
  server.route("/loop", MockResponse{.status = 307, .headers = {{"Location", "/loop"}}});
  auto session = makeSession();
  OutcomeWaiter waiter;
  session->dataTaskWithRequest(requestFor(server.url("/loop")), waiter.handler())->resume();
  auto outcome = waiter.wait();
  ASSERT_TRUE(outcome && outcome->error);
  EXPECT_EQ(outcome->error->code(), NSURLErrorHTTPTooManyRedirects);
  EXPECT_EQ(server.requests().size(), 17u);
}

TEST_F(URLSessionTest, CancelBeforeResumeMidBodyAndAfterCompletion) {
  server.route("/slow",
               MockResponse{.bodyPieces = {"a", "b", "c", "d"}, .delayBetweenPieces = 300ms});
  server.route("/fast", MockResponse{.body = "done"});
  auto session = makeSession();

  OutcomeWaiter before;
  auto unstarted = session->dataTaskWithRequest(requestFor(server.url("/fast")), before.handler());
  unstarted->cancel();
  auto beforeOutcome = before.wait();
  ASSERT_TRUE(beforeOutcome && beforeOutcome->error);
  EXPECT_EQ(beforeOutcome->error->code(), NSURLErrorCancelled);
  EXPECT_EQ(beforeOutcome->error->domain(), NSURLErrorDomain);
  unstarted->resume();  // a completed task stays completed

  auto midBody = session->dataTaskWithRequest(requestFor(server.url("/slow")));
  midBody->resume();
  ASSERT_TRUE(delegate->waitFor(midBody->taskIdentifier(), "response"));
  midBody->cancel();
  ASSERT_TRUE(delegate->waitFor(midBody->taskIdentifier(), "complete"));
  const auto record = delegate->record(midBody->taskIdentifier());
  ASSERT_TRUE(record.error.has_value());
  EXPECT_EQ(record.error->code(), NSURLErrorCancelled);
  ASSERT_TRUE(record.metrics.has_value());  // cancelled tasks report metrics too
  EXPECT_EQ(record.metrics->transactionMetrics.size(), 1u);

  OutcomeWaiter after;
  auto finished = session->dataTaskWithRequest(requestFor(server.url("/fast")), after.handler());
  finished->resume();
  ASSERT_TRUE(after.wait().has_value());
  finished->cancel();
  EXPECT_EQ(finished->state(), URLSessionTaskState::Completed);
  EXPECT_FALSE(finished->error().has_value());
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(URLSessionTest, IdleTimeoutEndsWithTimedOut) {
  server.route("/stall", MockResponse{.body = "late", .delayBeforeHead = 3000ms});
  auto session = makeSession();
  auto request = requestFor(server.url("/stall"));
  request.setTimeoutInterval(0.3);
  OutcomeWaiter waiter;
  const auto start = std::chrono::steady_clock::now();
  session->dataTaskWithRequest(request, waiter.handler())->resume();
  auto outcome = waiter.wait();
  ASSERT_TRUE(outcome && outcome->error);
  EXPECT_EQ(outcome->error->code(), NSURLErrorTimedOut);
  EXPECT_EQ(outcome->error->localizedDescription(), "The request timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
}

TEST_F(URLSessionTest, UploadProgressAddsUpToTheBody) {
  server.route("/upload", MockResponse{.echoRequest = true});
  auto session = makeSession();
  const std::string body(3 << 20, 'u');
  auto request = requestFor(server.url("/upload"));
  request.setHTTPMethod("PUT");
  auto task = session->uploadTaskWithRequest(request, Data::copy(body));
  task->resume();
  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "complete"));
  const auto record = delegate->record(task->taskIdentifier());
  ASSERT_FALSE(record.uploads.empty());
  std::int64_t sum = 0;
  std::int64_t lastTotal = 0;
  for (const auto& [sent, total, expected] : record.uploads) {
    sum += sent;
    EXPECT_GT(total, lastTotal);
    lastTotal = total;
    EXPECT_EQ(expected, static_cast<std::int64_t>(body.size()));
  }
  EXPECT_EQ(sum, static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(lastTotal, static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(server.requests().at(0).body.size(), body.size());
  EXPECT_EQ(server.requests().at(0).method, "PUT");
  EXPECT_EQ(record.metrics->transactionMetrics[0].countOfRequestBodyBytesSent,
            static_cast<std::int64_t>(body.size()));
}

TEST_F(URLSessionTest, PrioritiesOrderTransfersWaitingForAConnection) {
  server.route("/block", MockResponse{.body = "b", .delayBeforeHead = 300ms});
  server.route("/p", MockResponse{.body = "p"});
  URLSessionConfiguration config;
  config.HTTPMaximumConnectionsPerHost = 1;
  auto session = makeSession(config);
  OutcomeWaiter blocker;
  session->dataTaskWithRequest(requestFor(server.url("/block")), blocker.handler())->resume();
  ASSERT_TRUE(server.waitForRequests(1, 5s));
  std::vector<OutcomeWaiter> waiters(3);
  const std::pair<const char*, float> queued[] = {{"/p?low", URLSessionTaskPriorityLow},
                                                  {"/p?default", URLSessionTaskPriorityDefault},
                                                  {"/p?high", URLSessionTaskPriorityHigh}};
  for (std::size_t i = 0; i < 3; ++i) {
    auto task =
        session->dataTaskWithRequest(requestFor(server.url(queued[i].first)), waiters[i].handler());
    task->setPriority(queued[i].second);
    task->resume();
  }
  for (auto& w : waiters) ASSERT_TRUE(w.wait().has_value());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].query, "high");
  EXPECT_EQ(requests[2].query, "default");
  EXPECT_EQ(requests[3].query, "low");
}

TEST_F(URLSessionTest, ContentEncodingIsDecodedAndCookiesComeBack) {
  const std::string text(5000, 'z');
  const auto gz = *zel_gzippedData(Data::copy(text));
  server.route("/gz", MockResponse{.headers = {{"Content-Encoding", "gzip"},
                                                   {"Set-Cookie", "sid=abc; Path=/"}},
                                       .body = std::string(gz.stringView())});
  server.route("/echo", MockResponse{.echoRequest = true});
  auto session = makeSession();
  OutcomeWaiter first;
  auto task = session->dataTaskWithRequest(requestFor(server.url("/gz")), first.handler());
  task->resume();
  auto outcome = first.wait();
  ASSERT_TRUE(outcome && !outcome->error);
  EXPECT_EQ(outcome->data->stringView(), text);
  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "metrics"));
  const auto m = delegate->record(task->taskIdentifier()).metrics->transactionMetrics[0];
  EXPECT_EQ(m.countOfResponseBodyBytesAfterDecoding, static_cast<std::int64_t>(text.size()));

  OutcomeWaiter second;
  session->dataTaskWithRequest(requestFor(server.url("/echo")), second.handler())->resume();
  auto echoed = second.wait();
  ASSERT_TRUE(echoed && !echoed->error);
  const auto echo = jsonObjectWithData(*echoed->data).value().as_object();
  EXPECT_EQ(echo.at("headers").as_object().at("Cookie").as_string(), "sid=abc");
  EXPECT_EQ(echo.at("headers").as_object().at("User-Agent").as_string(), "ZELNetworking/1.0");
  EXPECT_FALSE(echo.at("headers").as_object().contains("Expect"));
  EXPECT_NE(echo.at("headers").as_object().at("Accept-Encoding").as_string().find("gzip"),
            std::string::npos);
}

TEST_F(URLSessionTest, FutureDataTaskResolvesWithTheResultRecord) {
  server.route("/f", MockResponse{.body = "future body"});
  auto session = makeSession();
  auto [task, future] = zelfuture_dataTaskWithRequest(session, requestFor(server.url("/f")),
                                                      URLSessionTaskPriorityHigh);
  EXPECT_FLOAT_EQ(task->priority(), URLSessionTaskPriorityHigh);
  auto result = future.wait(10s);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value().data->stringView(), "future body");
  EXPECT_FALSE(result.value().error.has_value());

  // A transport error travels inside the record; the future itself succeeds.
  auto refused = zelfuture_dataTaskWithRequest(session, requestFor("ftp://127.0.0.1/x"), 0.5f);
  auto refusedResult = refused.resultFuture.wait(10s);
  ASSERT_TRUE(refusedResult.ok());
  ASSERT_TRUE(refusedResult.value().error.has_value());
  EXPECT_EQ(refusedResult.value().error->code(), NSURLErrorUnsupportedURL);
}

TEST_F(URLSessionTest, TasksAreListedAndInvalidationCancelsThem) {
  server.route("/hang", MockResponse{.delayBeforeHead = 5000ms});
  auto session = makeSession();
  auto running = session->dataTaskWithRequest(requestFor(server.url("/hang")));
  running->resume();
  OutcomeWaiter uploadWaiter;
  auto upload = session->uploadTaskWithRequest(requestFor(server.url("/hang")), Data::copy("x"),
                                               uploadWaiter.handler());
  std::promise<std::pair<std::size_t, std::size_t>> listed;
  session->getTasksWithCompletionHandler([&](auto data, auto uploads, auto downloads) {
    listed.set_value({data.size() + downloads.size() * 100, uploads.size()});
  });
  auto counts = listed.get_future();
  ASSERT_EQ(counts.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(counts.get(), (std::pair<std::size_t, std::size_t>{1, 1}));

  session->invalidateAndCancel();
  ASSERT_TRUE(delegate->waitFor(running->taskIdentifier(), "complete"));
  EXPECT_EQ(delegate->record(running->taskIdentifier()).error->code(), NSURLErrorCancelled);
  auto uploadOutcome = uploadWaiter.wait();
  ASSERT_TRUE(uploadOutcome && uploadOutcome->error);
  EXPECT_EQ(uploadOutcome->error->code(), NSURLErrorCancelled);
  EXPECT_TRUE(delegate->waitForInvalid());
  // The delegate is released right after its last callback returns.
  for (int i = 0; i < 500 && session->delegate() != nullptr; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(session->delegate(), nullptr);
}

TEST_F(URLSessionTest, DestroyingTheSessionCancelsWhatRuns) {
  server.route("/hang", MockResponse{.delayBeforeHead = 5000ms});
  OutcomeWaiter waiter;
  {
    auto session = makeSession();
    session->dataTaskWithRequest(requestFor(server.url("/hang")), waiter.handler())->resume();
    ASSERT_TRUE(server.waitForRequests(1, 5s));
  }
  auto outcome = waiter.wait(5s);
  ASSERT_TRUE(outcome && outcome->error);
  EXPECT_EQ(outcome->error->code(), NSURLErrorCancelled);
}

// The delegate hears of the session's end only after every outcome, even one held back for a
// response disposition answered late.
TEST_F(URLSessionTest, InvalidationWaitsForOutcomesHeldForADisposition) {
  server.route("/body", MockResponse{.body = "late"});
  std::promise<std::function<void(URLSessionResponseDisposition)>> held;
  delegate->dispositionHook = [&](auto answer) { held.set_value(std::move(answer)); };
  auto session = makeSession();
  auto task = session->dataTaskWithRequest(requestFor(server.url("/body")));
  task->resume();
  auto answer = held.get_future();
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  session->finishTasksAndInvalidate();
  std::this_thread::sleep_for(100ms);  // the transfer ends meanwhile; its outcome waits
  EXPECT_FALSE(delegate->becameInvalid());
  answer.get()(URLSessionResponseDisposition::Allow);
  ASSERT_TRUE(delegate->waitForInvalid());
  const auto record = delegate->record(task->taskIdentifier());
  EXPECT_EQ(record.events, (std::vector<std::string>{"response", "data", "metrics", "complete"}));
  EXPECT_EQ(record.body, "late");
}

// A completion handler may drop the last reference to its session: the other running task
// still ends, once, through its own handler.
TEST_F(URLSessionTest, SessionReleasedInsideACompletionHandler) {
  server.route("/fast", MockResponse{.body = "f"});
  server.route("/hang", MockResponse{.body = "h", .delayBeforeHead = 5000ms});
  auto session = makeSession();
  std::atomic<int> hangOutcomes{0};
  std::promise<std::int64_t> hangCode;
  auto hang = session->dataTaskWithRequest(requestFor(server.url("/hang")),
                                           [&](auto, auto, std::optional<Error> error) {
                                             if (hangOutcomes.fetch_add(1) == 0) {
                                               hangCode.set_value(error ? error->code() : 0);
                                             }
                                           });
  hang->resume();
  ASSERT_TRUE(server.waitForRequests(1, 5s));
  std::shared_ptr<URLSession> holder = session;
  session.reset();
  std::promise<void> released;
  holder
      ->dataTaskWithRequest(requestFor(server.url("/fast")),
                            [&](auto, auto, auto) {
                              holder.reset();
                              released.set_value();
                            })
      ->resume();
  ASSERT_EQ(released.get_future().wait_for(10s), std::future_status::ready);
  auto code = hangCode.get_future();
  ASSERT_EQ(code.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(code.get(), NSURLErrorCancelled);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(hangOutcomes.load(), 1);
}

// A task made on an invalidated session, resumed after the session is gone, still ends.
TEST_F(URLSessionTest, TasksOutlivingTheirSessionStillEnd) {
  OutcomeWaiter waiter;
  std::shared_ptr<URLSessionDataTask> task;
  {
    test::AssertionCapture capture;
    auto session = makeSession();
    session->finishTasksAndInvalidate();
    task = session->dataTaskWithRequest(requestFor(server.url("/x")), waiter.handler());
    EXPECT_EQ(capture.count(), 1u);
  }
  task->resume();
  auto outcome = waiter.wait();
  ASSERT_TRUE(outcome && outcome->error);
  EXPECT_EQ(outcome->error->code(), NSURLErrorCancelled);
  EXPECT_EQ(task->state(), URLSessionTaskState::Completed);
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace zel
