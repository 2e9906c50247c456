// The client without a server: construction and configuration, built requests (URL, method,
// headers, body), the signing rules, how a response body is judged, and the session settings.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <future>
#include <regex>
#include <thread>

#include <boost/json/parse.hpp>

#include "client/ClientTestSupport.h"
#include "support/AssertionCapture.h"
#include "zel/client/URLSessionConfiguration+ZELNetworking.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/platform/ErrorKeys.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using enum ZELHTTPMethod;

// Read before any test can set them.
const bool kSwitchesOffAtStart = !ZELNetworkingClient::shouldLogNetworkMetrics() &&
                                 !ZELNetworkingClient::shouldLogNetworkErrors();

const std::string kBase = "https://api.zelvo.test/v3/";
const std::string kSignedBase = "GET&https%3A%2F%2Fapi.zelvo.test%2Fv3%2F";  // a signed GET's
const std::string kSlashReport = "URL should have a trailing slash otherwise it will redirect. ";

URLRequest built(const std::optional<ZELFuture<URLRequest>>& future) {
  const auto result = future ? future->wait(5s) : Result<URLRequest>(Error("no request", 0));
  EXPECT_TRUE(result.ok());
  return result.ok() ? result.value() : URLRequest();
}

std::string urlOf(const URLRequest& request) {
  return request.url() ? request.url()->absoluteString() : "<no url>";
}

std::string bodyOf(const URLRequest& request) {
  return request.httpBody() ? std::string(request.httpBody()->stringView()) : "<none>";
}

std::string header(const URLRequest& request, std::string_view field) {
  return request.valueForHTTPHeaderField(field).value_or("<none>");
}

// Checks each named part: "url", "method", "body" or a header field ("<none>": absent).
void expectRequest(const URLRequest& request, const std::map<std::string, std::string>& expected) {
  for (const auto& [part, value] : expected) {
    EXPECT_EQ(part == "url"      ? urlOf(request)
              : part == "method" ? request.httpMethod()
              : part == "body"   ? bodyOf(request)
                                 : header(request, part),
              value)
        << part;
  }
}

// One form part named "f".
ZELBodyChunksBlock formChunk(std::string bytes) {
  return [bytes = std::move(bytes)] {
    return std::vector<std::shared_ptr<const ZELMultipartFormChunk>>{
        std::make_shared<ZELMultipartFormChunkForm>(Data::copy(std::string_view(bytes)), "f")};
  };
}

// The HMAC-SHA256 in lower-case hex.
std::string hmacHex(std::string_view key, std::string_view message) {
  std::uint8_t digest[32];
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, nullptr);
  return zel_hexString(Data::copy(std::span<const std::uint8_t>(digest)));
}

// Parsing never waits: every future comes back completed.
Result<std::shared_ptr<ZELAPIResponse>> outcome(const ZELAPIResponseFuture& future) {
  auto done = future.peek();
  EXPECT_TRUE(done.has_value()) << "the parser returned a pending future";
  return done ? std::move(*done) : Result<std::shared_ptr<ZELAPIResponse>>(Error("pending", 0));
}

// Counts the work it is given and runs it on the shared pool.
struct CountingExecutor : ZELExecutor {
  void execute(Work work) override {
    ++count;
    ZELExecutor::background()->execute(std::move(work));
  }
  std::atomic<int> count{0};
};

struct SettableRequestStateProvider : ZELNetworkRequestStateProvider {
  std::optional<std::string> applicationState() override { return state; }
  std::optional<HTTPHeaders> additionalHeadersForURL(const URL& url) override {
    lastURL = url.absoluteString();
    return headers;
  }

  std::optional<std::string> state;
  std::optional<HTTPHeaders> headers;
  std::string lastURL;
};

class ClientTests : public ::testing::Test {
 protected:
  std::shared_ptr<ZELNetworkingClient> makeClient(bool metrics = false, HTTPHeaders headers = {},
                                                  std::shared_ptr<URLSession> other = nullptr) {
    return ZELNetworkingClient::initWithBaseURL(URL::URLWithString(kBase), auth, requestProvider,
                                                other ? other : session, metrics, true,
                                                std::move(headers), nullptr);
  }
  // Builds with the fixture's client unless another is given.
  URLRequest build(std::string_view path, ZELHTTPMethod method,
                   const ParameterDictionary& parameters = {}, ZELBodyChunksBlock chunks = nullptr,
                   bool gzip = false, std::shared_ptr<ZELNetworkingClient> by = nullptr) {
    return built(
        (by ? by : client)->requestForPath(path, method, parameters, std::move(chunks), gzip));
  }
  ZELSignedParameters sign(const ParameterDictionary& parameters, std::string_view path,
                           ZELHTTPMethod method, std::string_view token = "") {
    return client->signParameters(parameters, client->baseURL(), path, method, token);
  }
  static std::string timestampOf(const ZELSignedParameters& s) {
    return s.parameters.find("timestamp")->description();
  }

  test::AssertionCapture capture;
  std::shared_ptr<test::TestAuthenticationProvider> auth =
      std::make_shared<test::TestAuthenticationProvider>();
  std::shared_ptr<SettableRequestStateProvider> requestProvider =
      std::make_shared<SettableRequestStateProvider>();
  std::shared_ptr<URLSession> session =
      URLSession::sessionWithConfiguration(zelnetworking_defaultSessionConfiguration());
  std::shared_ptr<ZELNetworkingClient> client = makeClient();
};

// ---- construction and configuration ----------------------------------------------------------

// Base URL writes racing reads: Execution.ThousandsOfRequestsWithRandomCancelsCompleteOnce.
TEST_F(ClientTests, ConstructionConfigurationSessionSettingsAndPriorities) {
  // Missing arguments are reported and the client is still made; it has nothing to cancel.
  auto bare = ZELNetworkingClient::initWithBaseURL(std::nullopt, nullptr, nullptr, nullptr, false,
                                                   false, {}, nullptr);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(capture.messages(),
            (std::vector<std::string>{"Invalid parameter not satisfying: baseURL",
                                      "Invalid parameter not satisfying: session"}));
  bare->cancelAllRequests();

  // The session's delegate is kept only when it conforms (as in the execution tests); a session
  // without one (the fixture's) is no report.
  capture.clear();
  const auto plain =
      URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration(),
                                           std::make_shared<URLSessionDelegate>());
  EXPECT_EQ(makeClient(false, {}, plain)->sessionDelegate(), nullptr);
  EXPECT_EQ(capture.messages(),
            std::vector<std::string>{"If not nil, session.delegate must conform to "
                                     "ZELNetworkingSessionDelegate protocol"});

  // An absent base URL restores the original; the provider is held weakly (the executor: see
  // MultipartBodies).
  client->setBaseURL(URL::URLWithString("https://b.test/"));
  EXPECT_EQ(client->baseURL()->absoluteString(), "https://b.test/");
  client->setBaseURL(std::nullopt);
  EXPECT_EQ(client->baseURL()->absoluteString(), kBase);
  client->setAuthenticationProvider(std::make_shared<test::TestAuthenticationProvider>());
  EXPECT_EQ(client->authenticationProvider(), nullptr);

  // The logging switches are off at start (the execution tests turn them on and off).
  EXPECT_TRUE(kSwitchesOffAtStart);

  const auto standard = zelnetworking_defaultSessionConfiguration();
  EXPECT_FALSE(standard.urlCache.has_value());
  EXPECT_TRUE(standard.HTTPShouldSetCookies);
  const auto image = zelnetworking_remoteImageSessionConfiguration();
  EXPECT_FALSE(image.urlCache.has_value());
  EXPECT_EQ(image.requestCachePolicy, URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
  // At least eight connections per host, more when given.
  auto given = URLSessionConfiguration::ephemeralSessionConfiguration();
  for (const int connections : {4, 16}) {
    given.HTTPMaximumConnectionsPerHost = connections;
    EXPECT_EQ(zelnetworking_remoteImageSessionConfiguration(given).HTTPMaximumConnectionsPerHost,
              std::max(connections, 8));
  }
  const auto vanilla = zelnetworking_vanillaSessionConfiguration();
  EXPECT_EQ(vanilla.urlCache, URLSessionConfiguration::defaultSessionConfiguration().urlCache);
  EXPECT_TRUE(vanilla.urlCache.has_value());

  using P = ZELAPIClientRequestPriority;
  for (const auto& [priority, task] :
       {std::pair{P::High, 0.75f}, std::pair{P::Default, 0.5f}, std::pair{P::Low, 0.25f}}) {
    EXPECT_EQ(ZELNetworkingClient::mapAPIClientRequestPriorityToNSURLSessionTaskPriority(priority),
              task);
  }
}

// ---- request building ------------------------------------------------------------------------

TEST_F(ClientTests, UrlMethodAndBodyFollowTheMethodAndThePath) {
  // Without a base URL a path is a complete URL by itself; the missing base is reported here.
  auto bare = ZELNetworkingClient::initWithBaseURL(std::nullopt, auth, nullptr, session, false,
                                                   false, {}, nullptr);
  capture.clear();
  const ParameterDictionary params{{"q", "a b"}, {"n", 5}};
  const std::string form = "q=a%20b&n=5";
  const char* texts[] = {"OPTIONS", "GET",    "HEAD",  "POST",   "PUT",
                         "PATCH",   "DELETE", "TRACE", "CONNECT"};
  // Parameters go to the query (GET, HEAD, DELETE), to a form body (POST, PUT, PATCH) or nowhere.
  for (std::uint32_t value = 0; value < 9; ++value) {
    SCOPED_TRACE(texts[value]);
    const bool query = value == 1 || value == 2 || value == 6;
    const bool body = value >= 3 && value <= 5;
    const auto request = build("s/", static_cast<ZELHTTPMethod>(value), params);
    EXPECT_TRUE(request.assumesHTTP3Capable());
    expectRequest(request, {{"method", texts[value]},
                            {"url", kBase + (query ? "s/?" + form : "s/")},
                            {"body", body ? form : "<none>"},
                            {"Content-Type",
                             body ? "application/x-www-form-urlencoded; charset=utf-8" : "<none>"},
                            {"Authorization", "Bearer tok"}});
  }

  const std::pair<std::optional<ZELFuture<URLRequest>>, std::string> paths[] = {
      {client->requestForPath("users/me", GET, {}), kBase + "users/me/?"},
      {client->requestForPath("s/?x=1", GET, params, false, NetworkServiceType::Default, nullptr,
                              false),
       kBase + "s/?x=1&" + form},
      // The sanity check appends its slash to the whole path, query included.
      {client->requestForPath("s/?x=1", GET, params), kBase + "s/?x=1/&" + form},
      {client->requestForPath("", GET, {}), kBase + "?"},
      {bare->requestForPath("https://other.test/x/", GET, {}), "https://other.test/x/?"},
  };
  for (const auto& [request, url] : paths) EXPECT_EQ(urlOf(built(request)), url);
  EXPECT_EQ(capture.messages(),
            (std::vector<std::string>{kSlashReport + "users/me", kSlashReport + "s/?x=1"}));

  // A value outside the enumeration has no text.
  EXPECT_FALSE(ZELStringForHTTPMethod(static_cast<ZELHTTPMethod>(9)).has_value());
  EXPECT_EQ(capture.count("Unhandled HTTP method"), 1u);
  EXPECT_EQ(capture.count(), 3u);

  // Unsafe paths ("../": see the execution tests) are refused with one report.
  EXPECT_FALSE(client->requestForPath("a/b#c/", GET, {}).has_value());
  EXPECT_EQ(capture.count("URL should not contain ../ since this could be malicious. a/b#c/"), 1u);
  EXPECT_FALSE(client->requestForPath("a b/", GET, {}).has_value());
  EXPECT_EQ(capture.count("Invalid url created by appending path: a b/"), 1u);
}

TEST_F(ClientTests, HeadersAndFormAndJsonBodies) {
  // Only a token refresh POST with both credentials uses Basic.
  const std::tuple<ZELHTTPMethod, std::string, std::string> refreshes[] = {
      {POST, "s3cret", "Basic YXBwOnMzY3JldA=="},  // app:s3cret
      {POST, "", "Bearer tok"},
      {PUT, "s3cret", "Bearer tok"}};
  for (const auto& [method, secret, authorization] : refreshes) {
    auth->secret_ = secret;
    EXPECT_EQ(header(build("tokens/refresh/", method), "Authorization"), authorization);
  }

  // Configured headers, then the request provider's for the final URL; later ones win.
  const HTTPHeaders configured{
      {"X-Configured", "1"}, {"X-Zelvo-AppState", "configured"}, {"Content-Type", "text/plain"}};
  requestProvider->state = "foreground";
  requestProvider->headers = HTTPHeaders{{"Authorization", "Custom x"}};
  expectRequest(
      build("s/", GET, {{"a", 1}}, nullptr, false, makeClient(false, configured)),
      {{"X-Configured", "1"}, {"X-Zelvo-AppState", "configured"}, {"Authorization", "Custom x"}});
  EXPECT_EQ(requestProvider->lastURL, kBase + "s/?a=1");
  requestProvider->headers.reset();
  for (const std::string state : {"foreground", ""}) {  // present but empty is sent as it is
    requestProvider->state = state;
    EXPECT_EQ(header(build("s/", GET), "X-Zelvo-AppState"), state);
  }

  // A form body keeps a configured content type and is never compressed.
  EXPECT_EQ(header(build("s/", POST, {{"a", 1}}, nullptr, false, makeClient(false, configured)),
                   "Content-Type"),
            "text/plain");
  const std::string big(400, 'v');
  expectRequest(build("u/", POST, {{"big", big}}, nullptr, true),
                {{"body", "big=" + big}, {"Content-Encoding", "<none>"}});

  // A metrics client sends JSON, without the bytes it cannot carry; POST signs in the URL.
  const auto json =
      build("m/", POST, {{"a", 1}, {"b", "x"}, {"blob", Data::copy(std::string_view("b"))}},
            nullptr, false, makeClient(true, configured));
  expectRequest(json, {{"Content-Type", "application/json"}, {"Content-Encoding", "<none>"}});
  auto body = boost::json::parse(bodyOf(json)).as_object();
  EXPECT_EQ(body.erase("client_id") + body.erase("timestamp"), 2u);
  EXPECT_EQ(body, boost::json::parse(R"({"a":1,"b":"x"})").as_object());
  EXPECT_EQ(capture.count("A JSON body cannot carry the bytes of parameter blob"), 1u);
  EXPECT_NE(urlOf(json).find("&oauth_signature="), std::string::npos);

  // No token: a PATCH form carries the signature, after the given parameters in their order;
  // without a refresh there is no authorization, and without a request provider no app state.
  auth->setToken("");
  const auto patch = build("s/", PATCH, {{"b", 1}, {"A", 2}});
  EXPECT_EQ(urlOf(patch), kBase + "s/");
  EXPECT_TRUE(std::regex_match(
      bodyOf(patch),
      std::regex("b=1&A=2&client_id=app&timestamp=[0-9]+&oauth_signature=[0-9a-f]{64}")))
      << bodyOf(patch);
  auto plain = ZELNetworkingClient::initWithBaseURL(URL::URLWithString(kBase), auth, nullptr,
                                                    session, false, false, {}, nullptr);
  const auto video =
      built(plain->requestForPath("s/", GET, {}, NetworkServiceType::Video, nullptr, false));
  EXPECT_EQ(video.networkServiceType(), NetworkServiceType::Video);
  EXPECT_FALSE(video.assumesHTTP3Capable());
  expectRequest(video, {{"Authorization", "<none>"}, {"X-Zelvo-AppState", "<none>"}});
}

TEST_F(ClientTests, MultipartBodies) {
  // The layout overhead of one empty part, to hit 149 and 150 bytes exactly.
  const std::size_t overhead =
      bodyOf(*client->requestPathForBaseURL(client->baseURL(), "u/", POST, {}, true,
                                            NetworkServiceType::Default, formChunk("")))
          .size();
  ASSERT_LT(overhead, 149u);
  const auto small = build("u/", POST, {}, formChunk(std::string(149 - overhead, 'x')), true);
  EXPECT_EQ(small.httpBody()->size(), 149u);
  EXPECT_FALSE(small.valueForHTTPHeaderField("Content-Encoding").has_value());
  const auto large = build("u/", POST, {}, formChunk(std::string(150 - overhead, 'x')), true);
  EXPECT_EQ(header(large, "Content-Encoding"), "gzip");
  const auto plain = zel_gunzippedData(*large.httpBody());
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(plain->size(), 150u);
  EXPECT_TRUE(
      header(large, "Content-Type").starts_with("multipart/form-data; boundary=ZELBoundary+"));

  // Headers that already say gzip are never compressed again.
  const auto again = build("u/", POST, {}, formChunk(std::string(400, 'x')), true,
                           makeClient(false, {{"Content-Encoding", "gzip"}}));
  EXPECT_EQ(again.httpBody()->size(), overhead + 400);

  // The chunks block runs off the caller; the body is finished on the client's executor.
  auto ranOn = std::make_shared<std::promise<std::thread::id>>();
  auto finisher = std::make_shared<CountingExecutor>();
  client->setBackgroundExecutor(finisher);
  const auto parts = bodyOf(
      build("u/", PUT, {{"a", 1}, {"z", nullptr}, {"raw", Data::copy(std::string_view("\x01"))}},
            [ranOn] {
              ranOn->set_value(std::this_thread::get_id());
              return formChunk("F")();
            }));
  EXPECT_NE(ranOn->get_future().get(), std::this_thread::get_id());
  EXPECT_EQ(finisher->count, 1);
  for (const std::string part : {"name=\"a\"\r\n\r\n1\r\n", "name=\"z\"\r\n\r\n\r\n",
                                 "name=\"raw\"\r\n\r\n\x01\r\n", "name=\"f\"\r\n\r\nF\r\n"}) {
    EXPECT_NE(parts.find(part), std::string::npos) << part;
  }
  // An executor nobody keeps is not kept: the shared one takes over.
  client->setBackgroundExecutor(std::make_shared<CountingExecutor>());
  EXPECT_EQ(client->backgroundExecutor(), nullptr);
  EXPECT_TRUE(
      header(build("u/", POST, {}, formChunk("x")), "Content-Type").starts_with("multipart/"));
  // A metrics client's multipart body holds only the chunks.
  const auto metrics =
      bodyOf(build("u/", POST, {{"a", 1}}, formChunk("F"), false, makeClient(true)));
  EXPECT_EQ(metrics.find("name=\"a\""), std::string::npos);
  EXPECT_EQ(metrics.find("client_id"), std::string::npos);

  // The synchronous PUT runs the block on the caller and never compresses.
  std::thread::id syncRanOn;
  const auto put = client->requestPutPath("u", {{"a", 1}}, [&syncRanOn] {
    syncRanOn = std::this_thread::get_id();
    return formChunk(std::string(500, 'x'))();
  });
  ASSERT_TRUE(put.has_value());
  EXPECT_EQ(syncRanOn, std::this_thread::get_id());
  expectRequest(*put, {{"url", kBase + "u/"}, {"method", "PUT"}, {"Content-Encoding", "<none>"}});
  EXPECT_TRUE(header(*put, "Content-Type").starts_with("multipart/form-data; boundary="));
}

// ---- signing ---------------------------------------------------------------------------------

// The order of the signed parameters: see the PATCH form in HeadersAndFormAndJsonBodies.
TEST_F(ClientTests, SignatureCoversMethodUrlAndTheCaselesslySortedEncodedParameters) {
  auth->id_ = "app id";
  // GET: the signature joins the parameters, over all of them.
  const auto get = sign({{"b", 2}, {"A", "x y"}}, "users/me/", GET);
  EXPECT_EQ(get.path, "users/me/");
  const std::string ts = timestampOf(get);
  EXPECT_NEAR(std::stoll(ts), std::time(nullptr), 5);  // whole seconds, in decimal
  EXPECT_EQ(get.parameters.find("oauth_signature")->description(),
            hmacHex("s3cret",
                    kSignedBase + "users%2Fme%2F&A=x%20y&b=2&client_id=app%20id&timestamp=" + ts));

  // POST and PUT: in a query on the path, the ID as it is; after a query the path holds, "&".
  for (const auto method : {POST, PUT}) {
    const auto result = sign({{"q", 1}}, "items/", method);
    const std::string at = timestampOf(result);
    EXPECT_EQ(
        result.path,
        "items/?client_id=app id&timestamp=" + at + "&oauth_signature=" +
            hmacHex("s3cret", std::string(*ZELStringForHTTPMethod(method)) + kSignedBase.substr(3) +
                                  "items%2F&client_id=app%20id&q=1&timestamp=" + at));
    // The timestamp stays too (timestampOf read it).
    EXPECT_TRUE(result.parameters.contains("client_id") &&
                !result.parameters.contains("oauth_signature"));
    const auto joined = sign({}, "p/?x=1", method).path;
    EXPECT_TRUE(joined.starts_with("p/?x=1&client_id=") && joined.rfind('?') == 2) << joined;
  }

  // With a token nothing is signed, unless by a metrics client, over client_id and timestamp.
  const ParameterDictionary given{{"a", 1}};
  const auto untouched = sign(given, "p/", GET, "tok");
  EXPECT_EQ(untouched.parameters, given);
  EXPECT_EQ(untouched.path, "p/");
  auto metrics = makeClient(true);
  const auto one = metrics->signParameters(given, metrics->baseURL(), "p/", GET, "tok");
  EXPECT_EQ(
      one.parameters.find("oauth_signature")->description(),
      hmacHex("s3cret", kSignedBase + "p%2F&client_id=app%20id&timestamp=" + timestampOf(one)));
  EXPECT_EQ(one.parameters.find("a")->description(), "1");
  // Caller values for the signing names are replaced.
  const auto replaced = sign({{"client_id", "forged"}, {"timestamp", 1}}, "", DELETE);
  EXPECT_EQ(replaced.parameters.find("client_id")->description(), "app id");
  EXPECT_NE(replaced.parameters.find("timestamp")->description(), "1");
  EXPECT_EQ(replaced.parameters.size(), 3u);

  // "A" and "a" are equal ignoring case; the tie goes to the byte order, whatever the insertion.
  const ParameterDictionary set{{"c", 3}, {"B", 2}, {"a", 1}, {"a_b", 5}, {"ab", 4}, {"A", 0}};
  EXPECT_EQ(ZELNetworkingClient::signatureForURL("u", set, "k", GET),
            hmacHex("k", "GET&u&A=0&a=1&a_b=5&ab=4&B=2&c=3"));
  // Capitals beyond A-Z lower as Unicode says: "Éb" sorts after "éa". Values that are not
  // UTF-8 are signed as the query sends them, byte for byte.
  const ParameterDictionary accented{{"\u00C9b", 2}, {"\u00E9a", 1}, {"v", "\xFF"}};
  EXPECT_EQ(ZELNetworkingClient::signatureForURL("u", accented, "k", GET),
            hmacHex("k", "GET&u&v=%FF&%C3%A9a=1&%C3%89b=2"));
  // The secret ends at its first NUL.
  EXPECT_EQ(ZELNetworkingClient::signatureForURL("u", {}, std::string_view("key\0tail", 8), GET),
            ZELNetworkingClient::signatureForURL("u", {}, "key", GET));
}

// ---- judging a response body -----------------------------------------------------------------

TEST_F(ClientTests, AcceptedEnvelopesKeepBodyAndStatusRefusedOnesBecomeErrors) {
  // The envelope decides, not the HTTP status.
  const std::string body =
      R"({"status":"success","code":0,"data":{"items":[1,2]},"bookmark":"b7","extra":true})";
  auto result = outcome(client->parseData(Data::copy(body), 500));
  ASSERT_TRUE(result.ok()) << result.error().description();
  EXPECT_EQ(result.value()->statusCode, 500);
  EXPECT_EQ(result.value()->data->stringView(), body);
  EXPECT_EQ(*result.value()->dataObject, boost::json::parse(R"({"items":[1,2]})"));
  EXPECT_EQ(result.value()->bookmark, "b7");
  EXPECT_EQ(result.value()->envelopeData->at("extra"), true);
  EXPECT_EQ(capture.count(), 0u);
  // A decoded value.
  const auto decoded = boost::json::parse(R"({"status":"success","code":0})");
  EXPECT_TRUE(outcome(client->parseResponse(&decoded)).ok());

  // The acceptance rule of an ordinary and of a metrics client.
  const std::tuple<const char*, bool, bool, std::int64_t> cases[] = {
      // body, an ordinary client accepts, a metrics client accepts, the refusal's code
      {R"({"status":"success","code":0})", true, true, 0},
      {R"({"status":"success","code":399})", false, true, 399},
      {R"({"status":"success","code":400})", false, false, 400},
      {R"({"status":"success","code":-1})", false, true, -1},
      {R"({"status":"failure","code":0})", false, false, 0},
      {"[1,2]", false, false, 0},  // not an envelope
  };
  auto metrics = makeClient(true);
  for (const auto& [body, ordinaryAccepts, metricsAccepts, code] : cases) {
    SCOPED_TRACE(body);
    for (const auto& [judge, accepts] :
         {std::pair{client, ordinaryAccepts}, std::pair{metrics, metricsAccepts}}) {
      const auto result = outcome(judge->parseData(Data::copy(std::string_view(body)), 200));
      ASSERT_EQ(result.ok(), accepts) << (judge == metrics ? "metrics" : "ordinary");
      if (accepts) continue;
      EXPECT_EQ(result.error().code(), code);
    }
  }

  // A refusal carries the envelope's message, detail and data.
  const auto refused = outcome(client->parseData(
      Data::copy(std::string_view(
          R"({"status":"failure","code":1234,"message":"No such user","message_detail":"id 7","data":{"id":7}})")),
      404));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().domain(), ZELNetworkingErrorDomain);
  EXPECT_EQ(refused.error().code(), 1234);
  EXPECT_EQ(refused.error().localizedDescription(), "No such user");
  EXPECT_EQ(refused.error().localizedFailureReason(), "id 7");
  const auto* data = refused.error().userInfo()->find(ZELNetworkingDataObjectkey);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::get<boost::json::value>(*data), boost::json::parse(R"({"id":7})"));

  // No body, or one the JSON reader refuses.
  const auto missing = outcome(client->parseData(std::nullopt, 200));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().domain(), NSURLErrorDomain);
  EXPECT_EQ(missing.error().code(), 2006);
  EXPECT_EQ(missing.error().localizedDescription(), "nil payload");
  const auto html = outcome(client->parseData(Data::copy(std::string_view("<html>")), 502));
  ASSERT_FALSE(html.ok());
  EXPECT_EQ(html.error().domain(), NSCocoaErrorDomain);
  EXPECT_EQ(html.error().code(), 3840);
  ASSERT_TRUE(html.error().userInfo().has_value());
  EXPECT_EQ(html.error().userInfo()->string(ZELNetworkingClientErrorUserInfoHttpStatusCodeKey),
            "502");
  EXPECT_TRUE(html.error().userInfo()->contains(NSDebugDescriptionErrorKey));
}

}  // namespace
}  // namespace zel
