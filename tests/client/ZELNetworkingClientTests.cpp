#include "zel/client/ZELNetworkingClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "client/ClientTestSupport.h"
#include "support/AssertionCapture.h"
#include "zel/testing/MockServer.h"
#include "zel/client/URLSessionConfiguration+ZELNetworking.h"
#include "zel/futures/ZELSerialQueue.h"
#include "zel/transport/URLError.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNonConformingDelegate =
    "If not nil, session.delegate must conform to ZELNetworkingSessionDelegate protocol";

class StubAuthenticationProvider : public test::SettableAuthenticationProvider {
 public:
  StubAuthenticationProvider() : SettableAuthenticationProvider("token", "id", "secret") {}
};

// The delegate interface a client looks for; routing itself is not exercised here.
class MinimalClientSessionDelegate : public ZELNetworkingSessionDelegateProtocol {
 public:
  void setClientTask(std::shared_ptr<ZELNetworkingClientTask>,
                     const std::shared_ptr<URLSessionTask>&) override {}
  std::shared_ptr<ZELNetworkingClientTask> clientTaskForSessionTask(
      const std::shared_ptr<URLSessionTask>&) const override {
    return nullptr;
  }
  bool streamingEnabled() const override { return true; }
};

URL url(std::string_view text) {
  return *URL::URLWithString(text);
}

// Read before any test can set them.
const bool kMetricsSwitchAtStart = ZELNetworkingClient::shouldLogNetworkMetrics();
const bool kErrorsSwitchAtStart = ZELNetworkingClient::shouldLogNetworkErrors();

std::shared_ptr<ZELNetworkingClient> clientWith(
    std::shared_ptr<URLSession> session, std::optional<URL> base = url("https://a.test/v3/")) {
  return ZELNetworkingClient::initWithBaseURL(std::move(base), nullptr, nullptr, std::move(session),
                                              false, false, {}, nullptr);
}

TEST(ZELNetworkingClientTests, ConstructionStoresEveryArgument) {
  auto auth = std::make_shared<StubAuthenticationProvider>();
  auto recorder = ZELNetworkRecorder::create();
  auto session = URLSession::sessionWithConfiguration(zelnetworking_defaultSessionConfiguration());
  HTTPHeaders headers;
  headers.set("X-One", "1");

  test::AssertionCapture capture;
  auto client = ZELNetworkingClient::initWithBaseURL(url("https://a.test/v3/"), auth, nullptr,
                                                     session, true, true, headers, recorder);
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(client->baseURL()->absoluteString(), "https://a.test/v3/");
  EXPECT_EQ(client->originalBaseURL()->absoluteString(), "https://a.test/v3/");
  EXPECT_EQ(client->authenticationProvider(), auth);
  EXPECT_EQ(client->session(), session);
  EXPECT_EQ(client->networkRecorder(), recorder);
  EXPECT_EQ(client->requestProvider(), nullptr);
  EXPECT_TRUE(client->signRequestsAsMetrics());
  EXPECT_TRUE(client->assumeRequestsHTTP3Capable());
  EXPECT_FALSE(client->encodesParametersIntoMultipart());
  ASSERT_NE(client->HTTPAdditionalHeaders().find("x-one"), nullptr);
  EXPECT_EQ(*client->HTTPAdditionalHeaders().find("x-one"), "1");
  EXPECT_EQ(client->backgroundExecutor(), ZELExecutor::background());
  EXPECT_EQ(client->propertyLock().name(), "com.zelvo.ZELNetworkingClient.propertyLock");
  EXPECT_EQ(client->sessionDelegate(), nullptr);  // the session has no delegate: no report
}

TEST(ZELNetworkingClientTests, MissingArgumentsAreReportedAndTheClientIsStillMade) {
  test::AssertionCapture capture;
  auto client = ZELNetworkingClient::initWithBaseURL(std::nullopt, nullptr, nullptr, nullptr, false,
                                                     false, {}, nullptr);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(capture.messages(),
            (std::vector<std::string>{"Invalid parameter not satisfying: baseURL",
                                      "Invalid parameter not satisfying: session"}));
  EXPECT_FALSE(client->baseURL().has_value());
  client->cancelAllRequests();  // no session: nothing to cancel, nothing breaks
}

TEST(ZELNetworkingClientTests, SessionDelegateIsKeptOnlyWhenItConforms) {
  auto conforming = std::make_shared<MinimalClientSessionDelegate>();
  auto plain = std::make_shared<URLSessionDelegate>();
  {
    test::AssertionCapture capture;
    auto client = clientWith(URLSession::sessionWithConfiguration(
        URLSessionConfiguration::defaultSessionConfiguration(), conforming));
    EXPECT_EQ(client->sessionDelegate(), conforming);
    EXPECT_EQ(capture.count(), 0u);
  }
  {
    test::AssertionCapture capture;
    auto client = clientWith(URLSession::sessionWithConfiguration(
        URLSessionConfiguration::defaultSessionConfiguration(), plain));
    EXPECT_EQ(client->sessionDelegate(), nullptr);
    EXPECT_EQ(capture.count(kNonConformingDelegate), 1u);
    EXPECT_EQ(capture.count(), 1u);
  }
}

TEST(ZELNetworkingClientTests, SetBaseURLAndAbsentRestoresTheOriginal) {
  auto client = clientWith(nullptr);
  client->setBaseURL(url("https://b.test/"));
  EXPECT_EQ(client->baseURL()->absoluteString(), "https://b.test/");
  EXPECT_EQ(client->originalBaseURL()->absoluteString(), "https://a.test/v3/");
  client->setBaseURL(std::nullopt);
  EXPECT_EQ(client->baseURL()->absoluteString(), "https://a.test/v3/");
}

TEST(ZELNetworkingClientTests, ProviderAndExecutorAreHeldWeakly) {
  auto auth = std::make_shared<StubAuthenticationProvider>();
  auto client = ZELNetworkingClient::initWithBaseURL(url("https://a.test/"), auth, nullptr, nullptr,
                                                     false, false, {}, nullptr);
  auto own = std::make_shared<ZELSerialQueue>();
  client->setBackgroundExecutor(own);
  EXPECT_EQ(client->backgroundExecutor(), own);
  own.reset();
  EXPECT_EQ(client->backgroundExecutor(), nullptr);

  auth.reset();
  EXPECT_EQ(client->authenticationProvider(), nullptr);
  auto replacement = std::make_shared<StubAuthenticationProvider>();
  client->setAuthenticationProvider(replacement);
  EXPECT_EQ(client->authenticationProvider(), replacement);
}

TEST(ZELNetworkingClientTests, BaseURLWritesRaceWithReadsSafely) {
  auto client = clientWith(nullptr);
  const auto other = url("https://other.test/path/");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i)
      client->setBaseURL(i % 2 ? std::optional<URL>(other) : std::nullopt);
    stop = true;
  });
  while (!stop) {
    const auto current = client->baseURL();
    ASSERT_TRUE(current.has_value());
    const auto& text = current->absoluteString();
    ASSERT_TRUE(text == "https://a.test/v3/" || text == "https://other.test/path/") << text;
  }
  writer.join();
}

TEST(ZELNetworkingClientTests, LoggingSwitchesAreProcessWide) {
  EXPECT_FALSE(kMetricsSwitchAtStart);
  EXPECT_FALSE(kErrorsSwitchAtStart);
  ZELNetworkingClient::setShouldLogNetworkMetrics(true);
  ZELNetworkingClient::setShouldLogNetworkErrors(true);
  auto one = clientWith(nullptr);
  auto two = clientWith(nullptr);
  EXPECT_TRUE(one->shouldLogNetworkMetrics() && two->shouldLogNetworkMetrics());
  EXPECT_TRUE(one->shouldLogNetworkErrors() && two->shouldLogNetworkErrors());
  ZELNetworkingClient::setShouldLogNetworkMetrics(false);
  ZELNetworkingClient::setShouldLogNetworkErrors(false);
  EXPECT_FALSE(two->shouldLogNetworkMetrics());
}

TEST(ZELNetworkingClientTests, CancelAllRequestsCancelsDataAndUploadTasks) {
  MockServer server;
  server.route("/hang", MockResponse{.delayBeforeHead = 10000ms});
  auto session = URLSession::sessionWithConfiguration(zelnetworking_defaultSessionConfiguration());
  auto client = clientWith(session);

  // Shared with the handlers, which may outlive a failed wait.
  auto dataOutcome = std::make_shared<std::promise<std::int64_t>>();
  auto uploadOutcome = std::make_shared<std::promise<std::int64_t>>();
  auto codeOf = [](std::shared_ptr<std::promise<std::int64_t>> promise) {
    return [promise](auto, auto, const std::optional<Error>& error) {
      promise->set_value(error ? error->code() : 0);
    };
  };
  URLRequest request(url(server.url("/hang")));
  session->dataTaskWithRequest(request, codeOf(dataOutcome))->resume();
  request.setHTTPMethod("POST");
  session->uploadTaskWithRequest(request, Data::copy(std::string_view("x")), codeOf(uploadOutcome))
      ->resume();
  ASSERT_TRUE(server.waitForRequests(2, 5s));

  client->cancelAllRequests();
  auto data = dataOutcome->get_future();
  auto upload = uploadOutcome->get_future();
  ASSERT_EQ(data.wait_for(5s), std::future_status::ready);
  ASSERT_EQ(upload.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(data.get(), NSURLErrorCancelled);
  EXPECT_EQ(upload.get(), NSURLErrorCancelled);
}

TEST(ZELNetworkingClientTests, SessionConfigurations) {
  const auto standard = zelnetworking_defaultSessionConfiguration();
  EXPECT_FALSE(standard.urlCache.has_value());
  EXPECT_TRUE(standard.HTTPShouldSetCookies);

  const auto image = zelnetworking_remoteImageSessionConfiguration();
  EXPECT_FALSE(image.urlCache.has_value());
  EXPECT_EQ(image.requestCachePolicy, URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
  EXPECT_GE(image.HTTPMaximumConnectionsPerHost, 8);

  auto narrow = URLSessionConfiguration::ephemeralSessionConfiguration();
  narrow.HTTPMaximumConnectionsPerHost = 4;
  EXPECT_EQ(zelnetworking_remoteImageSessionConfiguration(narrow).HTTPMaximumConnectionsPerHost, 8);
  auto wide = narrow;
  wide.HTTPMaximumConnectionsPerHost = 16;
  EXPECT_EQ(zelnetworking_remoteImageSessionConfiguration(wide).HTTPMaximumConnectionsPerHost, 16);

  const auto vanilla = zelnetworking_vanillaSessionConfiguration();
  EXPECT_EQ(vanilla.urlCache, URLSessionConfiguration::defaultSessionConfiguration().urlCache);
  EXPECT_TRUE(vanilla.urlCache.has_value());
}

TEST(ZELNetworkingClientTests, RequestPrioritiesMapToTaskPriorities) {
  using P = ZELAPIClientRequestPriority;
  EXPECT_EQ(ZELNetworkingClient::mapAPIClientRequestPriorityToNSURLSessionTaskPriority(P::High),
            0.75f);
  EXPECT_EQ(ZELNetworkingClient::mapAPIClientRequestPriorityToNSURLSessionTaskPriority(P::Default),
            0.5f);
  EXPECT_EQ(ZELNetworkingClient::mapAPIClientRequestPriorityToNSURLSessionTaskPriority(P::Low),
            0.25f);
}

}  // namespace
}  // namespace zel
