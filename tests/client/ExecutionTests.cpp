// Requests run end to end through the client, over a real session against the loopback server,
// in both modes (streaming and completion handler): parameter placement and signing, the
// status and body rules, the provider calls for authorization failures, redirects, priorities,
// cancellation and transport errors.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <random>

#include <boost/json/serialize.hpp>
#include <boost/json/serializer.hpp>
#include <thread>

#include "support/AssertionCapture.h"
#include "zel/testing/MockServer.h"
#include "zel/client/ZELNetworkingClient.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/platform/NotificationCenter.h"
#include "zel/reporting/ZELNetworkingReporting.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"
#include "zel/transport/URLError.h"
#include "zel/transport/ZELNetworkingSessionDelegate.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;

std::string envelope(int code, const std::string& data = "{}") {
  return R"({"status":")" + std::string(code == 0 ? "success" : "error") + R"(","code":)" +
         std::to_string(code) + R"(,"message":"m","data":)" + data + "}";
}

// Records the provider calls, which arrive on the main queue.
class RecordingProvider : public ZELNetworkingAPIAuthenticationProvider {
 public:
  std::string accessToken() override {
    std::lock_guard lock(mutex_);
    return token_;
  }
  std::string clientID() override { return "app"; }
  std::string clientSecret() override { return "secret"; }
  void accessTokenInvalidWithError(const Error& error,
                                   std::shared_ptr<ZELHTTPRequest> request) override {
    std::lock_guard lock(mutex_);
    calls_.push_back("invalid " + std::to_string(error.code()) + (request ? " task" : " none"));
    changed_.notify_all();
  }
  void authorizationFailed() override {
    std::lock_guard lock(mutex_);
    calls_.push_back("failed");
    changed_.notify_all();
  }
  void setToken(std::string token) {
    std::lock_guard lock(mutex_);
    token_ = std::move(token);
  }
  std::vector<std::string> waitForCalls(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kWait, [&] { return calls_.size() >= count; });
    return std::exchange(calls_, {});
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string token_;
  std::vector<std::string> calls_;
};

class Execution : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    delegate = ZELNetworkingSessionDelegate::initWithStreamingEnabled(GetParam());
    session = URLSession::sessionWithConfiguration(
        URLSessionConfiguration::ephemeralSessionConfiguration(), delegate);
    client = ZELNetworkingClient::initWithBaseURL(URL::URLWithString(server.url("/v3/")), provider,
                                                  nullptr, session, false, false, {}, nullptr);
  }

  static Result<std::shared_ptr<ZELAPIResponse>> outcomeOf(
      const ZELAPIResponseFutureAndCancelToken& r) {
    return r.future.wait(kWait);
  }
  static std::int64_t errorCode(const Result<std::shared_ptr<ZELAPIResponse>>& outcome) {
    return outcome.ok() ? 0 : outcome.error().code();
  }

  MockServer server;
  test::AssertionCapture reports;
  std::shared_ptr<RecordingProvider> provider = std::make_shared<RecordingProvider>();
  std::shared_ptr<ZELNetworkingSessionDelegate> delegate;
  std::shared_ptr<URLSession> session;
  std::shared_ptr<ZELNetworkingClient> client;
};

TEST_P(Execution, VerbsPlaceParametersSignAndParse) {
  server.route("/v3/items/", [](const MockRequest&) {
    return MockResponse{.body = envelope(0, R"({"n":1})")};
  });
  // Without a token: signed, parameters in the query.
  auto got = outcomeOf(client->getPath("items", {{"q", "a b"}}));
  ASSERT_TRUE(got.ok()) << got.error().description();
  EXPECT_EQ(boost::json::serialize(*got.value()->dataObject), R"({"n":1})");
  auto request = server.requests().back();
  EXPECT_EQ(request.method, "GET");
  EXPECT_NE(request.query.find("q=a%20b"), std::string::npos);
  EXPECT_NE(request.query.find("oauth_signature="), std::string::npos);
  EXPECT_FALSE(request.headers.contains("Authorization"));

  // With a token: Bearer, no signature; each verb places its parameters.
  provider->setToken("tok");
  struct Case {
    std::function<ZELAPIResponseFutureAndCancelToken()> call;
    const char* method;
    bool inQuery;
  };
  const std::vector<Case> cases = {
      {[&] {
         return client->getPath("items", {{"p", 1}});
       },
       "GET", true},
      {[&] {
         return client->deletePath("items", {{"p", 1}});
       },
       "DELETE", true},
      {[&] {
         return client->postPath("items", {{"p", 1}});
       },
       "POST", false},
      {[&] {
         return client->putPath("items", {{"p", 1}});
       },
       "PUT", false},
      {[&] {
         return client->patchPath("items", {{"p", 1}});
       },
       "PATCH", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(outcomeOf(c.call()).ok()) << c.method;
    request = server.requests().back();
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.headers.value("Authorization"), "Bearer tok") << c.method;
    EXPECT_EQ(request.query == "p=1", c.inQuery) << c.method << " query " << request.query;
    EXPECT_EQ(request.body == "p=1", !c.inQuery) << c.method << " body " << request.body;
  }

  // Another base URL, taken as given: no trailing "/" is added.
  server.route("/other/users/me", MockResponse{.body = envelope(0)});
  ASSERT_TRUE(outcomeOf(client->getBaseURL(*URL::URLWithString(server.url("/other/")), "users/me",
                                           {}, ZELAPIClientRequestPriority::Default))
                  .ok());
  EXPECT_EQ(server.requests().back().path, "/other/users/me");

  // A multipart POST, gzipped, with upload progress.
  std::atomic<std::int64_t> uploaded{0};
  const std::string file(64 * 1024, 'f');
  auto chunks = [file] {
    return std::vector<std::shared_ptr<const ZELMultipartFormChunk>>{
        std::make_shared<ZELMultipartFormChunkFile>(Data::copy(std::string_view(file)), "file",
                                                    "f.bin", "application/octet-stream")};
  };
  ASSERT_TRUE(outcomeOf(client->postPath("items", {{"p", 1}}, chunks, true)).ok());
  request = server.requests().back();
  EXPECT_EQ(request.headers.value("Content-Encoding"), "gzip");
  const auto unzipped = zel_gunzippedData(Data::copy(std::string_view(request.body)));
  ASSERT_TRUE(unzipped.has_value());
  EXPECT_NE(unzipped->stringView().find(file), std::string::npos);
  ASSERT_TRUE(
      outcomeOf(client->postPath("items", {}, chunks,
                                 ZELUploadProgressBlock([&](std::uint64_t, std::int64_t total,
                                                            std::int64_t) { uploaded = total; })))
          .ok());
  EXPECT_GT(uploaded.load(), 64 * 1024);
}

TEST_P(Execution, StatusAndBodyRules) {
  server.route("/v3/no-content/", MockResponse{.status = 204});
  server.route("/v3/missing/", MockResponse{.status = 404});
  server.route("/v3/broken/", MockResponse{.status = 500, .body = envelope(17)});
  server.route("/v3/html/", MockResponse{.body = "<html>"});
  server.route("/v3/custom/", MockResponse{.status = 500, .body = "raw"});
  provider->setToken("tok");

  auto empty = outcomeOf(client->getPath("no-content", {}));
  ASSERT_TRUE(empty.ok());
  EXPECT_FALSE(empty.value()->dataObject.has_value());
  EXPECT_EQ(empty.value()->serviceCode, 0);

  const auto missing = outcomeOf(client->getPath("missing", {}));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().domain(), ZELNetworkingHTTPErrorDomainString);
  EXPECT_EQ(missing.error().code(), 404);

  const auto broken = outcomeOf(client->getPath("broken", {}));
  EXPECT_EQ(errorCode(broken), 17);
  const auto html = outcomeOf(client->getPath("html", {}));
  EXPECT_EQ(errorCode(html), 3840);

  std::atomic<int> customCalls{0};
  auto custom = outcomeOf(client->executeDataTaskWithCustomResponseCreationBlock(
      client->requestForPath("custom", ZELHTTPMethod::GET, {}),
      ZELAPIClientRequestPriority::Default,
      [&](std::shared_ptr<const HTTPURLResponse> response, const Data& body) {
        ++customCalls;
        EXPECT_EQ(response->statusCode(), 500);
        return ZELAPIResponse::responseWithDataObject(
            boost::json::value(std::string(body.stringView())));
      }));
  ASSERT_TRUE(custom.ok());
  EXPECT_EQ(customCalls.load(), 1);
  EXPECT_EQ(boost::json::serialize(*custom.value()->dataObject), R"("raw")");
  EXPECT_EQ(delegate->clientTaskCount(), 0u);
}

TEST_P(Execution, AuthorizationFailuresReachTheProviderOnTheMainQueue) {
  server.route("/v3/auth/", MockResponse{.status = 401, .body = envelope(2)});
  server.route("/v3/denied/", MockResponse{.status = 403, .body = envelope(3)});
  const std::string reportText =
      "Authorization error response and no access token.  Probably called an auth-only endpoint "
      "when unauth.  Request: ";

  EXPECT_EQ(errorCode(outcomeOf(client->getPath("auth", {}))), 2);
  EXPECT_EQ(provider->waitForCalls(1), std::vector<std::string>{"invalid 2 task"});
  provider->setToken("tok");
  EXPECT_EQ(errorCode(outcomeOf(client->getPath("auth", {}))), 2);
  EXPECT_EQ(provider->waitForCalls(1), std::vector<std::string>{"invalid 2 task"});
  EXPECT_EQ(errorCode(outcomeOf(client->getPath("denied", {}))), 3);
  EXPECT_EQ(provider->waitForCalls(1), std::vector<std::string>{"failed"});

  std::size_t authReports = 0;
  for (const auto& message : reports.messages()) authReports += message.starts_with(reportText);
  EXPECT_EQ(authReports, 1u) << "only the request without a token is reported";
}

TEST_P(Execution, RedirectPriorityCancellationAndTransportErrors) {
  server.route("/v3/old/", MockResponse{.status = 301, .headers = {{"Location", "/v3/new/"}}});
  server.route("/v3/new/", MockResponse{.body = envelope(0)});
  server.route("/v3/slow/", MockResponse{.body = envelope(0), .delayBeforeHead = 3s});
  provider->setToken("tok");

  EXPECT_TRUE(outcomeOf(client->getPath("old", {})).ok());
  EXPECT_EQ(server.requests().back().path, "/v3/new/");

  // Priority High reaches the session task as its high priority.
  auto sent = server.requests().size();
  auto high = client->getPath("slow", {}, ZELAPIClientRequestPriority::High);
  ASSERT_TRUE(server.waitForRequests(sent + 1, kWait));
  ZELPromise<float> listed;
  session->getTasksWithCompletionHandler([listed](auto dataTasks, auto, auto) {
    listed.resolve(dataTasks.empty() ? -1.0f : dataTasks.front()->priority());
  });
  EXPECT_EQ(listed.future().wait(kWait).value(), URLSessionTaskPriorityHigh);
  high.cancelToken->cancel();
  EXPECT_EQ(errorCode(outcomeOf(high)), NSURLErrorCancelled);

  // Cancelled before the request future completes: the task is made, started, then cancelled.
  ZELPromise<URLRequest> pending;
  auto early = client->executeDataTaskWithRequest(pending.future(),
                                                  ZELAPIClientRequestPriority::Default, nullptr);
  early.cancelToken->cancel();
  pending.resolve(*client->requestPathForBaseURL(client->baseURL(), "slow", ZELHTTPMethod::GET, {},
                                                 true, NetworkServiceType::Default, nullptr));
  EXPECT_EQ(errorCode(outcomeOf(early)), NSURLErrorCancelled);

  // Cancelled while it runs.
  sent = server.requests().size();
  auto running = client->getPath("slow", {});
  ASSERT_TRUE(server.waitForRequests(sent + 1, kWait));
  running.cancelToken->cancel();
  EXPECT_EQ(errorCode(outcomeOf(running)), NSURLErrorCancelled);

  // A refused connection, refined to its platform code.
  auto nowhere =
      ZELNetworkingClient::initWithBaseURL(URL::URLWithString("http://127.0.0.1:1/"), provider,
                                           nullptr, session, false, false, {}, nullptr);
  EXPECT_EQ(errorCode(outcomeOf(nowhere->getPath("x", {}))), NSURLErrorCannotConnectToHost);
  // A refused path: one report and the empty response.
  const auto before = reports.count();
  auto refused = outcomeOf(client->getPath("../etc", {}));
  ASSERT_TRUE(refused.ok());
  EXPECT_GT(reports.count(), before);
  EXPECT_EQ(delegate->clientTaskCount(), 0u);
}

// Counts the client's notifications by name and checks the user info each one carries.
class NotificationCounter {
 public:
  explicit NotificationCounter(const void* client) {
    for (const char* name : {ZELNetworkingClientRequestWillStartNotification,
                             ZELNetworkingClientRequestDidFinishNotification,
                             ZELNetworkingClientRequestDidCollectMetricsNotification,
                             ZELNetworkingClientUploadProgressChangedNotification}) {
      observers_.emplace_back(NotificationCenter::defaultCenter().addObserverForName(
          name, client, [this](const Notification& note) { record(note); }));
    }
  }
  // Waits until every name has reached its count (or ten seconds), then gives the counts.
  std::map<std::string, int> waitFor(int willStart, int didFinish, int didCollect) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kWait, [&] {
      return counts_[ZELNetworkingClientRequestWillStartNotification] >= willStart &&
             counts_[ZELNetworkingClientRequestDidFinishNotification] >= didFinish &&
             counts_[ZELNetworkingClientRequestDidCollectMetricsNotification] >= didCollect;
    });
    return counts_;
  }
  std::vector<std::string> problems() {
    std::lock_guard lock(mutex_);
    return problems_;
  }

 private:
  void record(const Notification& note) {
    const auto has = [&](const char* key) { return note.userInfo.contains(key); };
    std::lock_guard lock(mutex_);
    ++counts_[note.name];
    const bool ok = note.name == ZELNetworkingClientRequestWillStartNotification
                        ? has(ZELNetworkingClientNotificationRequestKey)
                    : note.name == ZELNetworkingClientRequestDidFinishNotification
                        ? has(ZELNetworkingClientNotificationRequestKey) &&
                              std::any_cast<std::shared_ptr<const URLResponse>>(note.userInfo.at(
                                  ZELNetworkingClientNotificationResponseKey)) != nullptr
                        : has(ZELNetworkingClientNotificationRequestKey) &&
                              has(ZELNetworkingClientNotificationMetricsKey);
    if (!ok) problems_.push_back(note.name);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, int> counts_;
  std::vector<std::string> problems_;
  std::vector<ScopedObserver> observers_;
};

TEST_P(Execution, NotificationsAndTheRecorderSeeEveryRequest) {
  server.route("/v3/ok/", MockResponse{.body = envelope(0)});
  server.route("/v3/missing/", MockResponse{.status = 404});
  server.route("/v3/slow/", MockResponse{.body = envelope(0), .delayBeforeHead = 3s});
  provider->setToken("tok");
  auto recorder = ZELNetworkRecorder::create();
  recorder->setCapturing(true);
  auto recorded =
      ZELNetworkingClient::initWithBaseURL(URL::URLWithString(server.url("/v3/")), provider,
                                           nullptr, session, false, false, {}, recorder);
  NotificationCounter counter(recorded.get());

  EXPECT_TRUE(outcomeOf(recorded->getPath("ok", {})).ok());
  EXPECT_EQ(errorCode(outcomeOf(recorded->getPath("missing", {}))), 404);
  const auto sent = server.requests().size();
  auto slow = recorded->getPath("slow", {});
  ASSERT_TRUE(server.waitForRequests(sent + 1, kWait));
  slow.cancelToken->cancel();
  EXPECT_EQ(errorCode(outcomeOf(slow)), NSURLErrorCancelled);
  // A transport error: the task has no response, so did-finish carries an empty one.
  recorded->setBaseURL(URL::URLWithString("http://127.0.0.1:1/"));
  EXPECT_EQ(errorCode(outcomeOf(recorded->getPath("x", {}))), NSURLErrorCannotConnectToHost);
  // No request future: nothing is posted.
  (void)outcomeOf(recorded->getPath("../refused", {}));

  const auto counts = counter.waitFor(4, 4, 4);
  EXPECT_EQ(counts.at(ZELNetworkingClientRequestWillStartNotification), 4);
  EXPECT_EQ(counts.at(ZELNetworkingClientRequestDidFinishNotification), 4);
  EXPECT_EQ(counts.at(ZELNetworkingClientRequestDidCollectMetricsNotification), 4);
  EXPECT_FALSE(counts.contains(ZELNetworkingClientUploadProgressChangedNotification));
  EXPECT_TRUE(counter.problems().empty()) << counter.problems().front();
  for (int spins = 0; recorder->acceptedCount() < 4 && spins < 500; ++spins) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(recorder->acceptedCount(), 4u);
}

// Collects the hub's reports, which arrive on background threads.
struct ReportSink {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<boost::json::object> metrics, errors;

  void waitFor(std::size_t metricsCount, std::size_t errorCount) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, kWait,
                     [&] { return metrics.size() >= metricsCount && errors.size() >= errorCount; });
  }
};

TEST_P(Execution, ReportsFollowTheSwitchesReadWhenTheRequestStarted) {
  server.route("/v3/ok/", MockResponse{.body = envelope(0)});
  server.route("/v3/missing/", MockResponse{.status = 404});
  provider->setToken("tok");
  auto sink = std::make_shared<ReportSink>();
  ZELNetworkingReporting::configureNetworkingReportingBlock(
      [sink](const auto&, const auto&, const auto&, const auto& additional) {
        std::lock_guard lock(sink->mutex);
        sink->metrics.push_back(*additional);
        sink->changed.notify_all();
      });
  ZELNetworkingReporting::configureErrorReportingBlock([sink](const boost::json::object& error) {
    std::lock_guard lock(sink->mutex);
    sink->errors.push_back(error);
    sink->changed.notify_all();
  });
  ZELNetworkingClient::setShouldLogNetworkMetrics(true);
  ZELNetworkingClient::setShouldLogNetworkErrors(true);

  EXPECT_TRUE(outcomeOf(client->getPath("ok", {})).ok());
  EXPECT_EQ(errorCode(outcomeOf(client->getPath("missing", {}))), 404);
  sink->waitFor(2, 1);
  ZELNetworkingClient::setShouldLogNetworkMetrics(false);
  ZELNetworkingClient::setShouldLogNetworkErrors(false);
  EXPECT_TRUE(outcomeOf(client->getPath("ok", {})).ok());
  std::this_thread::sleep_for(100ms);  // a report would arrive now

  std::lock_guard lock(sink->mutex);
  ASSERT_EQ(sink->metrics.size(), 2u);
  ASSERT_EQ(sink->errors.size(), 1u);
  std::sort(sink->metrics.begin(), sink->metrics.end(), [](const auto& a, const auto& b) {
    return a.at("dimensions").as_object().at("status_code").as_int64() <
           b.at("dimensions").as_object().at("status_code").as_int64();
  });
  const auto& success = sink->metrics[0];
  EXPECT_EQ(success.at("metrics").as_object().at("raw_path"), "/v3/ok/");
  EXPECT_FALSE(success.at("dimensions").as_object().contains("error_code"));
  const auto& failure = sink->metrics[1].at("dimensions").as_object();
  EXPECT_EQ(failure.at("status_code"), 404);
  EXPECT_EQ(failure.at("error_code"), 404);
  const auto& error = sink->errors[0];
  EXPECT_EQ(error.at("errors").as_object().at("domain"), ZELNetworkingHTTPErrorDomainString);
  EXPECT_EQ(error.at("errors").as_object().at("status_code"), 404);
  EXPECT_EQ(error.at("dimensions").as_object().at("path"), "/v3/missing/");
  EXPECT_EQ(error.at("dimensions").as_object().at("remote_ip"), "127.0.0.1");
  ZELNetworkingReporting::reset();
  ZELNetworkingReporting::configureErrorReportingBlock(nullptr);
}

// Awaits one request, then another that uses its answer.
ZELFuture<std::int64_t> twoInSequence(std::shared_ptr<ZELNetworkingClient> client) {
  // Parameters are built before each co_await: GCC 12 cannot keep an initializer list alive
  // across a suspension.
  const ParameterDictionary none;
  const auto first = co_await client->getPath("count", none).future;
  if (!first.ok()) co_return first.error();
  ParameterDictionary next;
  next.set("n", first.value()->dataObject->as_object().at("n").as_int64());
  const auto second = co_await client->getPath("count", next).future.on(ZELExecutor::background());
  if (!second.ok()) co_return second.error();
  co_return second.value()->dataObject->as_object().at("n").as_int64();
}

TEST_P(Execution, CoroutinesAwaitRequestsInSequence) {
  server.route("/v3/count/", [](const MockRequest& r) {
    const int n = r.query.starts_with("n=") ? std::stoi(r.query.substr(2)) : 0;
    return MockResponse{.body = envelope(0, R"({"n":)" + std::to_string(n + 1) + "}")};
  });
  provider->setToken("tok");
  EXPECT_EQ(twoInSequence(client).wait(kWait).value(), 2);
  server.route("/v3/count/", MockResponse{.status = 404});
  const auto failed = twoInSequence(client).wait(kWait);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code(), 404);
}

INSTANTIATE_TEST_SUITE_P(BothModes, Execution, ::testing::Values(true, false),
                         [](const auto& info) {
                           return info.param ? "Streaming" : "CompletionHandler";
                         });

TEST(ExecutionStress, ThousandsOfRequestsWithRandomCancelsCompleteOnce) {
  MockServer server;
  server.route("/v3/r/", [](const MockRequest& r) {
    return MockResponse{.body = envelope(0),
                            .delayBeforeHead = std::chrono::milliseconds(r.connectionId % 3)};
  });
  test::AssertionCapture reports;
  auto provider = std::make_shared<RecordingProvider>();
  provider->setToken("tok");
  for (const bool streaming : {true, false}) {
    auto delegate = ZELNetworkingSessionDelegate::initWithStreamingEnabled(streaming);
    auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
    config.HTTPMaximumConnectionsPerHost = 64;
    auto session = URLSession::sessionWithConfiguration(config, delegate);
    auto client =
        ZELNetworkingClient::initWithBaseURL(URL::URLWithString(server.url("/v3/")), provider,
                                             nullptr, session, false, false, {}, nullptr);
    constexpr int kRequests = 1500;
    std::atomic<int> completions{0};
    std::vector<ZELAPIResponseFutureAndCancelToken> requests;
    requests.reserve(kRequests);
    for (int i = 0; i < kRequests; ++i) {
      requests.push_back(client->getPath("r", {{"i", i}}));
      requests.back().future.onComplete([&](const auto&) { ++completions; });
      // Keep about 64 in flight.
      if (i >= 64) (void)requests[static_cast<std::size_t>(i - 64)].future.wait(kWait);
    }
    std::vector<std::thread> cancellers;
    for (int t = 0; t < 3; ++t) {
      cancellers.emplace_back([&, t] {
        std::mt19937 random(static_cast<unsigned>(t));
        for (int k = 0; k < 300; ++k) requests[random() % requests.size()].cancelToken->cancel();
      });
    }
    for (auto& thread : cancellers) thread.join();
    for (auto& request : requests) {
      const auto outcome = request.future.wait(kWait);
      ASSERT_TRUE(outcome.ok() || outcome.error().code() == NSURLErrorCancelled)
          << outcome.error().description();
    }
    // A waiter wakes before the future's listeners have run.
    for (int spins = 0; completions.load() < kRequests && spins < 500; ++spins) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(completions.load(), kRequests);
    EXPECT_EQ(delegate->clientTaskCount(), 0u) << (streaming ? "streaming" : "completion handler");
  }
}

}  // namespace
}  // namespace zel
