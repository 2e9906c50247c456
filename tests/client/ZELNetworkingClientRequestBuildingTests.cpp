#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <boost/json/parse.hpp>

#include "client/ClientTestSupport.h"
#include "support/AssertionCapture.h"
#include "zel/testing/MockServer.h"
#include "zel/client/URLSessionConfiguration+ZELNetworking.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/futures/ZELSerialQueue.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBase = "https://api.zelvo.test/v3/";

URLRequest built(const std::optional<ZELFuture<URLRequest>>& future) {
  EXPECT_TRUE(future.has_value());
  if (!future) return URLRequest();
  auto result = future->wait(5s);
  EXPECT_TRUE(result.ok());
  return result.ok() ? result.value() : URLRequest();
}

std::string urlOf(const URLRequest& request) {
  return request.url() ? request.url()->absoluteString() : "<no url>";
}

std::string header(const URLRequest& request, std::string_view field) {
  return request.valueForHTTPHeaderField(field).value_or("<none>");
}

std::string bodyOf(const URLRequest& request) {
  return request.httpBody() ? std::string(request.httpBody()->stringView()) : "<none>";
}

ZELBodyChunksBlock formChunk(std::string bytes) {
  return [bytes = std::move(bytes)] {
    return std::vector<std::shared_ptr<const ZELMultipartFormChunk>>{
        std::make_shared<ZELMultipartFormChunkForm>(Data::copy(std::string_view(bytes)), "f")};
  };
}

ZELBodyChunksBlock fileChunk(std::string bytes) {
  return [bytes = std::move(bytes)] {
    return std::vector<std::shared_ptr<const ZELMultipartFormChunk>>{
        std::make_shared<ZELMultipartFormChunkFile>(Data::copy(std::string_view(bytes)), "file",
                                                    "f.bin", "application/octet-stream")};
  };
}

// Counts the work it is given and runs it on the shared pool.
class CountingExecutor : public ZELExecutor {
 public:
  void execute(Work work) override {
    ++count;
    ZELExecutor::background()->execute(std::move(work));
  }
  std::atomic<int> count{0};
};

class RequestBuildingTests : public ::testing::Test {
 protected:
  std::shared_ptr<ZELNetworkingClient> makeClient(bool metrics = false, HTTPHeaders headers = {}) {
    return ZELNetworkingClient::initWithBaseURL(URL::URLWithString(kBase), auth, requestProvider,
                                                session, metrics, true, std::move(headers),
                                                nullptr);
  }

  std::shared_ptr<test::SettableAuthenticationProvider> auth =
      std::make_shared<test::SettableAuthenticationProvider>("tok", "app", "s3cret");
  std::shared_ptr<test::SettableRequestStateProvider> requestProvider =
      std::make_shared<test::SettableRequestStateProvider>();
  std::shared_ptr<URLSession> session =
      URLSession::sessionWithConfiguration(zelnetworking_defaultSessionConfiguration());
  test::AssertionCapture capture;
};

TEST_F(RequestBuildingTests, GetGetsSlashQueryMarkerAndBearer) {
  auto client = makeClient();
  const auto request = built(client->requestForPath("users/me", ZELHTTPMethod::GET, {}));
  EXPECT_EQ(urlOf(request), "https://api.zelvo.test/v3/users/me/?");
  EXPECT_EQ(request.httpMethod(), "GET");
  EXPECT_EQ(header(request, "Authorization"), "Bearer tok");
  EXPECT_TRUE(request.assumesHTTP3Capable());
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{
                                    "URL should have a trailing slash otherwise it will redirect. "
                                    "users/me"}));
}

TEST_F(RequestBuildingTests, ParametersGoWhereTheMethodPutsThem) {
  auto client = makeClient();
  const ParameterDictionary params{{"q", "a b"}, {"n", 5}};
  EXPECT_EQ(urlOf(built(client->requestForPath("s/", ZELHTTPMethod::DELETE, params))),
            "https://api.zelvo.test/v3/s/?q=a%20b&n=5");
  EXPECT_EQ(urlOf(built(client->requestForPath("s/?x=1", ZELHTTPMethod::GET, params, false,
                                               NetworkServiceType::Default, nullptr, false))),
            "https://api.zelvo.test/v3/s/?x=1&q=a%20b&n=5");
  // The sanity check appends its slash to the whole path, query included.
  EXPECT_EQ(urlOf(built(client->requestForPath("s/?x=1", ZELHTTPMethod::GET, params))),
            "https://api.zelvo.test/v3/s/?x=1/&q=a%20b&n=5");

  const auto patch = built(client->requestForPath("s/", ZELHTTPMethod::PATCH, params));
  EXPECT_EQ(urlOf(patch), "https://api.zelvo.test/v3/s/");
  EXPECT_EQ(bodyOf(patch), "q=a%20b&n=5");
  EXPECT_EQ(header(patch, "Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");

  for (const auto method : {ZELHTTPMethod::OPTIONS, ZELHTTPMethod::TRACE, ZELHTTPMethod::CONNECT}) {
    const auto request = built(client->requestForPath("s/", method, params));
    EXPECT_EQ(urlOf(request), "https://api.zelvo.test/v3/s/");
    EXPECT_FALSE(request.httpBody().has_value());
    EXPECT_EQ(request.httpMethod(), *ZELStringForHTTPMethod(method));
  }
}

TEST_F(RequestBuildingTests, UnsafePathsAreRefusedWithOneReport) {
  auto client = makeClient();
  for (const std::string path : {"a/../b/", "a/b#c/"}) {
    capture.clear();
    EXPECT_FALSE(client->requestForPath(path, ZELHTTPMethod::GET, {}).has_value());
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{
                  "URL should not contain ../ since this could be malicious. " + path}));
  }
  capture.clear();
  EXPECT_FALSE(client->requestForPath("a b/", ZELHTTPMethod::GET, {}).has_value());
  EXPECT_EQ(capture.count("Invalid url created by appending path: a b/"), 1u);
}

TEST_F(RequestBuildingTests, EmptyPathIsTheBaseURLWithoutReport) {
  auto client = makeClient();
  EXPECT_EQ(urlOf(built(client->requestForPath("", ZELHTTPMethod::GET, {}))),
            std::string(kBase) + "?");
  EXPECT_EQ(capture.count(), 0u);
  // Without a base URL a path is a complete URL by itself.
  auto bare = ZELNetworkingClient::initWithBaseURL(std::nullopt, auth, nullptr, session, false,
                                                   false, {}, nullptr);
  EXPECT_EQ(urlOf(built(bare->requestForPath("https://other.test/x/", ZELHTTPMethod::GET, {}))),
            "https://other.test/x/?");
}

TEST_F(RequestBuildingTests, TokenRefreshUsesBasicCredentials) {
  auto client = makeClient();
  const auto refresh = built(client->requestForPath("tokens/refresh/", ZELHTTPMethod::POST, {}));
  EXPECT_EQ(header(refresh, "Authorization"), "Basic YXBwOnMzY3JldA==");  // app:s3cret
  auth->secret_.clear();
  const auto plain = built(client->requestForPath("tokens/refresh/", ZELHTTPMethod::POST, {}));
  EXPECT_EQ(header(plain, "Authorization"), "Bearer tok");
  // Only POST refreshes.
  auth->secret_ = "s3cret";
  EXPECT_EQ(header(built(client->requestForPath("tokens/refresh/", ZELHTTPMethod::PUT, {})),
                   "Authorization"),
            "Bearer tok");
}

TEST_F(RequestBuildingTests, HeadersComeInOrderAndLaterOnesWin) {
  HTTPHeaders configured;
  configured.set("X-Configured", "1");
  configured.set("X-Zelvo-AppState", "configured");
  auto client = makeClient(false, configured);
  requestProvider->state = "foreground";
  HTTPHeaders perURL;
  perURL.set("Authorization", "Custom x");
  requestProvider->headers = perURL;

  const auto request = built(client->requestForPath("s/", ZELHTTPMethod::GET, {{"a", 1}}));
  EXPECT_EQ(header(request, "X-Configured"), "1");
  EXPECT_EQ(header(request, "X-Zelvo-AppState"), "configured");
  EXPECT_EQ(header(request, "Authorization"), "Custom x");
  EXPECT_EQ(requestProvider->lastURL, "https://api.zelvo.test/v3/s/?a=1");  // the final URL

  requestProvider->headers.reset();
  EXPECT_EQ(
      header(built(makeClient()->requestForPath("s/", ZELHTTPMethod::GET, {})), "X-Zelvo-AppState"),
      "foreground");
}

TEST_F(RequestBuildingTests, FormAndJsonBodies) {
  HTTPHeaders configured;
  configured.set("Content-Type", "text/plain");
  auto keeps = makeClient(false, configured);
  EXPECT_EQ(
      header(built(keeps->requestForPath("s/", ZELHTTPMethod::POST, {{"a", 1}})), "Content-Type"),
      "text/plain");

  auto metrics = makeClient(true, configured);
  const auto json =
      built(metrics->requestForPath("m/", ZELHTTPMethod::POST, {{"a", 1}, {"b", "x"}}));
  EXPECT_EQ(header(json, "Content-Type"), "application/json");
  const auto body = boost::json::parse(bodyOf(json)).as_object();
  EXPECT_EQ(body.at("a"), 1);
  EXPECT_EQ(body.at("b"), "x");
  EXPECT_TRUE(body.contains("client_id") && body.contains("timestamp"));
  // The signature travels in the URL for POST.
  EXPECT_NE(urlOf(json).find("&oauth_signature="), std::string::npos);
  EXPECT_FALSE(json.valueForHTTPHeaderField("Content-Encoding").has_value());
}

TEST_F(RequestBuildingTests, MultipartIsAssembledOffTheCallerAndGzippedFrom150Bytes) {
  auto client = makeClient();
  // The layout overhead of one empty file part, to hit 149 and 150 bytes exactly.
  const auto empty =
      client->requestPathForBaseURL(client->baseURL(), "u/", ZELHTTPMethod::POST, {}, true,
                                    NetworkServiceType::Default, formChunk(""));
  const std::size_t overhead = empty->httpBody()->size();
  ASSERT_LT(overhead, 149u);

  const auto small = built(client->requestForPath(
      "u/", ZELHTTPMethod::POST, {}, formChunk(std::string(149 - overhead, 'x')), true));
  EXPECT_EQ(small.httpBody()->size(), 149u);
  EXPECT_FALSE(small.valueForHTTPHeaderField("Content-Encoding").has_value());

  const auto large = built(client->requestForPath(
      "u/", ZELHTTPMethod::POST, {}, formChunk(std::string(150 - overhead, 'x')), true));
  EXPECT_EQ(header(large, "Content-Encoding"), "gzip");
  const auto plain = zel_gunzippedData(*large.httpBody());
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(plain->size(), 150u);
  EXPECT_EQ(header(large, "Content-Type").rfind("multipart/form-data; boundary=ZELBoundary+", 0),
            0u);

  // Headers that already say gzip are never compressed again.
  HTTPHeaders gz;
  gz.set("Content-Encoding", "gzip");
  const auto again = built(makeClient(false, gz)->requestForPath(
      "u/", ZELHTTPMethod::POST, {}, formChunk(std::string(400, 'x')), true));
  EXPECT_EQ(again.httpBody()->size(), overhead + 400);
}

TEST_F(RequestBuildingTests, MultipartPartsFollowTheClientKind) {
  const auto caller = std::this_thread::get_id();
  auto ranOn = std::make_shared<std::promise<std::thread::id>>();
  ZELBodyChunksBlock block = [ranOn] {
    ranOn->set_value(std::this_thread::get_id());
    return fileChunk("F")();
  };
  auto ordinary = makeClient();
  auto finisher = std::make_shared<CountingExecutor>();
  ordinary->setBackgroundExecutor(finisher);
  const auto request = built(ordinary->requestForPath(
      "u/", ZELHTTPMethod::PUT,
      {{"a", 1}, {"z", nullptr}, {"raw", Data::copy(std::string_view("\x01"))}}, block, false));
  EXPECT_NE(ranOn->get_future().get(), caller);
  EXPECT_EQ(finisher->count, 1);  // the body is finished on the client's executor
  const std::string body = bodyOf(request);
  EXPECT_NE(body.find("name=\"a\"\r\n\r\n1\r\n"), std::string::npos);
  EXPECT_NE(body.find("name=\"z\"\r\n\r\n\r\n"), std::string::npos);
  EXPECT_NE(body.find("name=\"raw\"\r\n\r\n\x01\r\n"), std::string::npos);
  EXPECT_NE(body.find("filename=\"f.bin\""), std::string::npos);

  // A metrics client's multipart body holds only the chunks.
  const auto metrics = built(makeClient(true)->requestForPath("u/", ZELHTTPMethod::POST, {{"a", 1}},
                                                              fileChunk("F"), false));
  EXPECT_EQ(bodyOf(metrics).find("name=\"a\""), std::string::npos);
  EXPECT_EQ(bodyOf(metrics).find("client_id"), std::string::npos);
}

TEST_F(RequestBuildingTests, SynchronousPutBuildsTheMultipartBodyInPlace) {
  auto client = makeClient();
  const auto request = client->requestPutPath("u", {{"a", 1}}, fileChunk(std::string(500, 'x')));
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(urlOf(*request), "https://api.zelvo.test/v3/u/");
  EXPECT_EQ(request->httpMethod(), "PUT");
  EXPECT_EQ(header(*request, "Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
  EXPECT_FALSE(request->valueForHTTPHeaderField("Content-Encoding").has_value());
  EXPECT_GT(request->httpBody()->size(), 500u);
}

TEST_F(RequestBuildingTests, ReleasedFinisherFallsBackToTheSharedExecutor) {
  auto client = makeClient();
  client->setBackgroundExecutor(std::make_shared<CountingExecutor>());  // nobody keeps it
  const auto request =
      built(client->requestForPath("u/", ZELHTTPMethod::POST, {}, fileChunk("x"), false));
  EXPECT_EQ(header(request, "Content-Type").rfind("multipart/form-data", 0), 0u);
}

TEST_F(RequestBuildingTests, FormBodiesAreNeverCompressed) {
  const std::string big(400, 'v');
  const auto request =
      built(makeClient()->requestForPath("u/", ZELHTTPMethod::POST, {{"big", big}}, nullptr, true));
  EXPECT_EQ(bodyOf(request), "big=" + big);
  EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Encoding").has_value());
}

TEST_F(RequestBuildingTests, MetricsJsonBodyLeavesOutBytesWithAReport) {
  const auto request = built(makeClient(true)->requestForPath(
      "m/", ZELHTTPMethod::PATCH, {{"n", 1}, {"blob", Data::copy(std::string_view("b"))}}));
  const auto body = boost::json::parse(bodyOf(request)).as_object();
  EXPECT_FALSE(body.contains("blob"));
  EXPECT_EQ(body.at("n"), 1);
  EXPECT_EQ(capture.count("A JSON body cannot carry the bytes of parameter blob"), 1u);
}

TEST_F(RequestBuildingTests, ServiceTypeHintsAndMissingHeaders) {
  auto client = ZELNetworkingClient::initWithBaseURL(URL::URLWithString(kBase), auth, nullptr,
                                                     session, false, false, {}, nullptr);
  auth->token_.clear();
  const auto request = built(client->requestForPath("s/", ZELHTTPMethod::GET, {},
                                                    NetworkServiceType::Video, nullptr, false));
  EXPECT_EQ(request.networkServiceType(), NetworkServiceType::Video);
  EXPECT_FALSE(request.assumesHTTP3Capable());
  // No token and no refresh: no authorization; no request provider: no app state.
  EXPECT_FALSE(request.valueForHTTPHeaderField("Authorization").has_value());
  EXPECT_FALSE(request.valueForHTTPHeaderField("X-Zelvo-AppState").has_value());

  requestProvider->state = "";  // present but empty is sent as it is
  EXPECT_EQ(
      header(built(makeClient()->requestForPath("s/", ZELHTTPMethod::GET, {})), "X-Zelvo-AppState"),
      "");
}

TEST_F(RequestBuildingTests, SignedPatchCarriesTheSignatureInItsForm) {
  auth->token_.clear();
  const auto request = built(makeClient()->requestForPath("s/", ZELHTTPMethod::PATCH, {{"a", 1}}));
  const auto form = zel_parametersFromQueryString(bodyOf(request));
  ASSERT_TRUE(form.has_value());
  EXPECT_EQ(form->at("a"), "1");
  EXPECT_EQ(form->at("client_id"), "app");
  EXPECT_EQ(form->at("oauth_signature").size(), 64u);
  EXPECT_EQ(urlOf(request), "https://api.zelvo.test/v3/s/");
}

TEST_F(RequestBuildingTests, ExplicitBaseURLWithoutSanityCheck) {
  auto client = makeClient();
  const auto request = built(client->requestForBaseURL(
      URL::URLWithString("https://cdn.test/x/"), "users/me", ZELHTTPMethod::GET, {}, false,
      NetworkServiceType::Default, nullptr, false));
  EXPECT_EQ(urlOf(request), "https://cdn.test/x/users/me?");
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(RequestBuildingTests, SynchronousFormRunsTheChunksBlockOnTheCaller) {
  std::thread::id ranOn;
  const auto request = makeClient()->requestPutPath("u/", {}, [&ranOn] {
    ranOn = std::this_thread::get_id();
    return formChunk("x")();
  });
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(request.has_value());
}

// The built requests as a server receives them.
TEST_F(RequestBuildingTests, SignedAndGzippedRequestsReachTheServerIntact) {
  MockServer server;
  server.route("/v3/items/", MockResponse{.body = "{}"});
  auth->token_.clear();  // no user: requests are signed
  auto client = ZELNetworkingClient::initWithBaseURL(URL::URLWithString(server.url("/v3/")), auth,
                                                     nullptr, session, false, false, {}, nullptr);
  auto send = [&](const URLRequest& request) {
    auto done = std::make_shared<std::promise<void>>();
    session->dataTaskWithRequest(request, [done](auto, auto, auto) { done->set_value(); })
        ->resume();
    ASSERT_EQ(done->get_future().wait_for(5s), std::future_status::ready);
  };
  send(built(client->requestForPath("items/", ZELHTTPMethod::GET, {{"q", "a&b"}})));
  send(built(client->requestForPath("items/", ZELHTTPMethod::POST, {{"q", "a&b"}},
                                    fileChunk(std::string(1000, 'y')), true)));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);

  const auto query = zel_parametersFromQueryString(requests[0].query);
  ASSERT_TRUE(query.has_value());
  EXPECT_EQ(query->at("q"), "a&b");
  EXPECT_EQ(query->at("client_id"), "app");
  EXPECT_EQ(query->at("oauth_signature").size(), 64u);

  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(*requests[1].headers.find("Content-Encoding"), "gzip");
  const auto unzipped = zel_gunzippedData(Data::copy(std::string_view(requests[1].body)));
  ASSERT_TRUE(unzipped.has_value());
  EXPECT_NE(unzipped->stringView().find(std::string(1000, 'y')), std::string::npos);
  EXPECT_NE(unzipped->stringView().find("name=\"q\"\r\n\r\na&b\r\n"), std::string::npos);
  EXPECT_NE(requests[1].query.find("oauth_signature="), std::string::npos);
}

}  // namespace
}  // namespace zel
