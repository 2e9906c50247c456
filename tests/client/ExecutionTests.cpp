// Requests run end to end through the client, over a real session against the loopback server,
// in both modes (streaming and completion handler): parameter placement, the status and body
// rules, the provider calls for authorization failures, priorities, cancellation, refused paths,
// the side channels (notifications, the recorder, the reports), and many requests at once.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include <boost/json/serialize.hpp>

#include "client/ClientTestSupport.h"
#include "support/AssertionCapture.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/platform/NotificationCenter.h"
#include "zel/reporting/ZELNetworkingReporting.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"
#include "zel/testing/MockServer.h"
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

// Waits (ten seconds at most) for a condition that other threads make true.
bool eventually(const std::function<bool()>& condition) {
  for (int spins = 0; spins < 1000 && !condition(); ++spins) std::this_thread::sleep_for(10ms);
  return condition();
}

class Execution : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    delegate = ZELNetworkingSessionDelegate::initWithStreamingEnabled(GetParam());
    auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
    config.HTTPMaximumConnectionsPerHost = 64;
    session = URLSession::sessionWithConfiguration(config, delegate);
    client = ZELNetworkingClient::initWithBaseURL(URL::URLWithString(server.url("/v3/")), provider,
                                                  nullptr, session, false, false, {}, nullptr);
    server.route("/v3/ok/", MockResponse{.body = envelope(0)});
    server.route("/v3/missing/", MockResponse{.status = 404});
    server.route("/v3/slow/", MockResponse{.body = envelope(0), .delayBeforeHead = 3s});
  }

  static Result<std::shared_ptr<ZELAPIResponse>> outcomeOf(
      const ZELAPIResponseFutureAndCancelToken& r) {
    return r.future.wait(kWait);
  }
  static std::int64_t errorCode(const ZELAPIResponseFutureAndCancelToken& r) {
    const auto outcome = outcomeOf(r);
    return outcome.ok() ? 0 : outcome.error().code();
  }

  MockServer server;
  test::AssertionCapture reports;
  std::shared_ptr<test::TestAuthenticationProvider> provider =
      std::make_shared<test::TestAuthenticationProvider>();
  std::shared_ptr<ZELNetworkingSessionDelegate> delegate;
  std::shared_ptr<URLSession> session;
  std::shared_ptr<ZELNetworkingClient> client;
};

// Signed requests, gzipped uploads and redirects end to end: see the zelnet tests.
TEST_P(Execution, VerbsBaseURLsAndUploadProgress) {
  server.route("/v3/items/", MockResponse{.body = envelope(0, R"({"n":1})")});
  // Each verb places its parameters (and the token: see the client tests); the envelope's data is
  // parsed.
  using Verb = ZELAPIResponseFutureAndCancelToken (ZELNetworkingClient::*)(
      std::string_view, const ParameterDictionary&);
  const std::tuple<Verb, const char*, bool> verbs[] = {
      {&ZELNetworkingClient::getPath, "GET", true},
      {&ZELNetworkingClient::deletePath, "DELETE", true},
      {&ZELNetworkingClient::postPath, "POST", false},
      {&ZELNetworkingClient::putPath, "PUT", false},
      {&ZELNetworkingClient::patchPath, "PATCH", false}};
  for (const auto& [call, method, inQuery] : verbs) {
    const auto got = outcomeOf((client.get()->*call)("items", {{"p", 1}}));
    ASSERT_TRUE(got.ok()) << method << " " << got.error().description();
    EXPECT_EQ(boost::json::serialize(*got.value()->dataObject), R"({"n":1})");
    const auto request = server.requests().back();
    EXPECT_EQ(request.method, method);
    EXPECT_EQ(request.query + " | " + request.body, inQuery ? "p=1 | " : " | p=1") << method;
  }

  // Another base URL, taken as given: no trailing "/" is added.
  server.route("/other/users/me", MockResponse{.body = envelope(0)});
  ASSERT_TRUE(outcomeOf(client->getBaseURL(*URL::URLWithString(server.url("/other/")), "users/me",
                                           {}, ZELAPIClientRequestPriority::Default))
                  .ok());
  EXPECT_EQ(server.requests().back().path, "/other/users/me");

  // Upload progress of a multipart body reaches the block.
  const std::string file(64 * 1024, 'f');
  auto chunks = [file] {
    return std::vector<std::shared_ptr<const ZELMultipartFormChunk>>{
        std::make_shared<ZELMultipartFormChunkFile>(Data::copy(std::string_view(file)), "file",
                                                    "f.bin", "application/octet-stream")};
  };
  std::atomic<std::int64_t> uploaded{0};
  const ZELUploadProgressBlock progress = [&](std::uint64_t, std::int64_t total, std::int64_t) {
    uploaded = total;
  };
  ASSERT_TRUE(outcomeOf(client->postPath("items", {}, chunks, progress)).ok());
  EXPECT_GT(uploaded.load(), 64 * 1024);
}

TEST_P(Execution, StatusBodyAuthorizationPriorityCancellationAndRefusedPaths) {
  server.route("/v3/auth/", MockResponse{.status = 401, .body = envelope(2)});
  server.route("/v3/denied/", MockResponse{.status = 403, .body = envelope(3)});
  server.route("/v3/no-content/", MockResponse{.status = 204});
  server.route("/v3/bad/", MockResponse{.status = 400});
  server.route("/v3/custom/", MockResponse{.status = 500, .body = "raw"});

  // Codes 2 and 3 reach the provider on the main queue (a call off it says so); code 2 without a
  // token is reported.
  provider->setToken("");
  EXPECT_EQ(errorCode(client->getPath("auth", {})), 2);
  provider->setToken("tok");
  EXPECT_EQ(errorCode(client->getPath("auth", {})), 2);
  EXPECT_EQ(provider->waitForCalls(2), std::vector<std::string>(2, "invalid 2 task"));
  EXPECT_EQ(errorCode(client->getPath("denied", {})), 3);
  EXPECT_EQ(provider->waitForCalls(1), std::vector<std::string>{"failed"});
  std::size_t authReports = 0;
  for (const auto& message : reports.messages()) {
    authReports += message.starts_with(
        "Authorization error response and no access token.  Probably called an auth-only "
        "endpoint when unauth.  Request: ");
  }
  EXPECT_EQ(authReports, 1u) << "only the request without a token is reported";

  // An empty body is a success below 400 and the HTTP error from 400.
  auto empty = outcomeOf(client->getPath("no-content", {}));
  ASSERT_TRUE(empty.ok());
  EXPECT_FALSE(empty.value()->dataObject.has_value());
  EXPECT_EQ(empty.value()->serviceCode, 0);
  EXPECT_EQ(errorCode(client->getPath("bad", {})), 400);
  EXPECT_EQ(errorCode(client->getPath("missing", {})), 404);

  auto custom = outcomeOf(client->executeDataTaskWithCustomResponseCreationBlock(
      client->requestForPath("custom", ZELHTTPMethod::GET, {}),
      ZELAPIClientRequestPriority::Default,
      [&](std::shared_ptr<const HTTPURLResponse> response, const Data& body) {
        EXPECT_EQ(response->statusCode(), 500);
        return ZELAPIResponse::responseWithDataObject(
            boost::json::value(std::string(body.stringView())));
      }));
  ASSERT_TRUE(custom.ok());
  EXPECT_EQ(boost::json::serialize(*custom.value()->dataObject), R"("raw")");

  // Priority High reaches the session task as its high priority. Cancelling all requests cancels
  // it, and the session's upload tasks too. (A cancel token while the task runs: see
  // NotificationsAndTheRecorderSeeEveryRequestReportsFollowTheSwitches.)
  const auto sent = server.requests().size();
  auto high = client->getPath("slow", {}, ZELAPIClientRequestPriority::High);
  URLRequest post(*URL::URLWithString(server.url("/v3/slow/")));
  post.setHTTPMethod("POST");
  const auto upload = session->uploadTaskWithRequest(post, Data::copy(std::string_view("x")));
  upload->resume();
  ASSERT_TRUE(server.waitForRequests(sent + 2, kWait));
  ZELPromise<float> listed;
  session->getTasksWithCompletionHandler([listed](auto dataTasks, auto, auto) {
    listed.resolve(dataTasks.empty() ? -1.0f : dataTasks.front()->priority());
  });
  EXPECT_EQ(listed.future().wait(kWait).value(), URLSessionTaskPriorityHigh);
  client->cancelAllRequests();
  EXPECT_EQ(errorCode(high), NSURLErrorCancelled);
  EXPECT_TRUE(eventually([&] { return upload->error().has_value(); }));
  EXPECT_EQ(upload->error().value_or(Error("none", 0)).code(), NSURLErrorCancelled);

  // Cancelled before the request future completes: the task is made, started, then cancelled.
  ZELPromise<URLRequest> pending;
  auto early = client->executeDataTaskWithRequest(pending.future(),
                                                  ZELAPIClientRequestPriority::Default, nullptr);
  early.cancelToken->cancel();
  pending.resolve(*client->requestPathForBaseURL(client->baseURL(), "slow", ZELHTTPMethod::GET, {},
                                                 true, NetworkServiceType::Default, nullptr));
  EXPECT_EQ(errorCode(early), NSURLErrorCancelled);

  // A refused path: its report and the empty response.
  auto refused = outcomeOf(client->getPath("../etc", {}));
  ASSERT_TRUE(refused.ok());
  EXPECT_EQ(reports.count("URL should not contain ../ since this could be malicious. ../etc/"), 1u);
  EXPECT_EQ(delegate->clientTaskCount(), 0u);
}

// The side channels: notifications and the recorder see every request; the hub's reports follow
// the switches read when the request started.
TEST_P(Execution, NotificationsAndTheRecorderSeeEveryRequestReportsFollowTheSwitches) {
  auto recorder = ZELNetworkRecorder::create();
  recorder->setCapturing(true);
  auto recorded =
      ZELNetworkingClient::initWithBaseURL(URL::URLWithString(server.url("/v3/")), provider,
                                           nullptr, session, false, false, {}, recorder);
  // Shared with the hub's reports and the notifications, which arrive on other threads.
  struct Sink {
    std::mutex mutex;
    std::map<std::string, int> notes;
    std::vector<boost::json::object> metrics, errors;
  };
  auto sink = std::make_shared<Sink>();
  // Counted by name; "!" is appended to a name whose user info lacks what it must hold.
  std::vector<ScopedObserver> observers;
  for (const char* name : {ZELNetworkingClientRequestWillStartNotification,
                           ZELNetworkingClientRequestDidFinishNotification,
                           ZELNetworkingClientRequestDidCollectMetricsNotification,
                           ZELNetworkingClientUploadProgressChangedNotification}) {
    observers.emplace_back(NotificationCenter::defaultCenter().addObserverForName(
        name, recorded.get(), [sink](const Notification& note) {
          const auto has = [&](const char* key) { return note.userInfo.contains(key); };
          const bool ok =
              has(ZELNetworkingClientNotificationRequestKey) &&
              (note.name == ZELNetworkingClientRequestDidFinishNotification
                   ? std::any_cast<std::shared_ptr<const URLResponse>>(
                         note.userInfo.at(ZELNetworkingClientNotificationResponseKey)) != nullptr
                   : note.name != ZELNetworkingClientRequestDidCollectMetricsNotification ||
                         has(ZELNetworkingClientNotificationMetricsKey));
          std::lock_guard lock(sink->mutex);
          ++sink->notes[note.name + (ok ? "" : "!")];
        }));
  }
  ZELNetworkingReporting::configureNetworkingReportingBlock(
      [sink](const auto&, const auto&, const auto&, const auto& additional) {
        std::lock_guard lock(sink->mutex);
        sink->metrics.push_back(*additional);
      });
  ZELNetworkingReporting::configureErrorReportingBlock([sink](const boost::json::object& error) {
    std::lock_guard lock(sink->mutex);
    sink->errors.push_back(error);
  });
  const auto notes = [](int each) {
    return std::map<std::string, int>{
        {ZELNetworkingClientRequestWillStartNotification, each},
        {ZELNetworkingClientRequestDidFinishNotification, each},
        {ZELNetworkingClientRequestDidCollectMetricsNotification, each}};
  };
  const auto settled = [&](int each) {
    std::lock_guard lock(sink->mutex);
    return sink->notes == notes(each) && sink->metrics.size() == 2 && sink->errors.size() == 1;
  };

  ZELNetworkingClient::setShouldLogNetworkMetrics(true);
  ZELNetworkingClient::setShouldLogNetworkErrors(true);
  EXPECT_TRUE(outcomeOf(recorded->getPath("ok", {})).ok());
  EXPECT_EQ(errorCode(recorded->getPath("missing", {})), 404);
  eventually([&] { return settled(2); });
  // Off again: none of the requests below is reported.
  ZELNetworkingClient::setShouldLogNetworkMetrics(false);
  ZELNetworkingClient::setShouldLogNetworkErrors(false);
  EXPECT_TRUE(outcomeOf(recorded->getPath("ok", {})).ok());
  const auto sent = server.requests().size();
  auto slow = recorded->getPath("slow", {});
  ASSERT_TRUE(server.waitForRequests(sent + 1, kWait));
  slow.cancelToken->cancel();
  EXPECT_EQ(errorCode(slow), NSURLErrorCancelled);
  // A transport error: the task has no response, so did-finish carries an empty one.
  recorded->setBaseURL(URL::URLWithString("http://127.0.0.1:1/"));
  EXPECT_EQ(errorCode(recorded->getPath("x", {})), NSURLErrorCannotConnectToHost);
  // No request future: nothing is posted.
  (void)outcomeOf(recorded->getPath("../refused", {}));

  eventually([&] { return settled(5) && recorder->acceptedCount() >= 5; });
  std::this_thread::sleep_for(100ms);  // a report would arrive now
  EXPECT_EQ(recorder->acceptedCount(), 5u);
  std::lock_guard lock(sink->mutex);
  EXPECT_EQ(sink->notes, notes(5)) << "no upload progress either";
  ASSERT_EQ(sink->metrics.size(), 2u);
  ASSERT_EQ(sink->errors.size(), 1u);
  // The failure's record carries its error code, the success's none.
  for (const auto& record : sink->metrics) {
    const auto& dimensions = record.at("dimensions").as_object();
    const bool failed = dimensions.at("status_code") == 404;
    EXPECT_EQ(record.at("metrics").as_object().at("raw_path"), failed ? "/v3/missing/" : "/v3/ok/");
    EXPECT_EQ(dimensions.contains("error_code") ? dimensions.at("error_code").as_int64() : 0,
              failed ? 404 : 0);
  }
  const auto& error = sink->errors[0];
  EXPECT_EQ(error.at("errors").as_object().at("domain"), ZELNetworkingHTTPErrorDomainString);
  EXPECT_EQ(error.at("errors").as_object().at("status_code"), 404);
  EXPECT_EQ(error.at("dimensions").as_object().at("path"), "/v3/missing/");
  EXPECT_EQ(error.at("dimensions").as_object().at("remote_ip"), "127.0.0.1");
  ZELNetworkingReporting::reset();
  ZELNetworkingReporting::configureErrorReportingBlock(nullptr);
}

TEST_P(Execution, ThousandsOfRequestsWithRandomCancelsCompleteOnce) {
  server.route("/v3/r/", [](const MockRequest& r) {
    return MockResponse{.body = envelope(0),
                        .delayBeforeHead = std::chrono::milliseconds(r.connectionId % 3)};
  });
  constexpr int kRequests = 1500;
  std::atomic<int> completions{0};
  std::vector<ZELAPIResponseFutureAndCancelToken> requests;
  requests.reserve(kRequests);
  // Base URL writes race the requests' reads (the same URL: the requests stay as they are).
  std::thread rebase([&] {
    for (int i = 0; i < 2000; ++i) client->setBaseURL(URL::URLWithString(server.url("/v3/")));
  });
  for (int i = 0; i < kRequests; ++i) {
    requests.push_back(client->getPath("r", {{"i", i}}));
    requests.back().future.onComplete([&](const auto&) { ++completions; });
    // Keep about 64 in flight.
    if (i >= 64) (void)requests[static_cast<std::size_t>(i - 64)].future.wait(kWait);
  }
  rebase.join();
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
  eventually([&] { return completions.load() == kRequests; });
  EXPECT_EQ(completions.load(), kRequests);
  EXPECT_EQ(delegate->clientTaskCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothModes, Execution, ::testing::Values(true, false),
                         [](const auto& info) {
                           return info.param ? "Streaming" : "CompletionHandler";
                         });

}  // namespace
}  // namespace zel
