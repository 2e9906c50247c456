#include "DemoTour.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <boost/json/serialize.hpp>

#include "ClientKit.h"
#include "DemoApi.h"
#include "ProgressBar.h"
#include "ReportCapture.h"
#include "Waterfall.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/platform/URLResponse.h"
#include "zel/testing/MockServer.h"

namespace zelnet {
namespace {

using namespace std::chrono_literals;
using Outcome = zel::Result<std::shared_ptr<zel::ZELAPIResponse>>;
using boost::json::object;

/// A step's verdict: empty when it behaved, else what went wrong.
using Verdict = std::string;

struct Tour {
  std::FILE* out;
  zel::MockServer& server;
  DemoApiCredentials credentials;
  ClientKit kit;  // the application's client: starts without a user token
  ReportCapture& capture;
  int requestsStarted = 0;

  void say(const std::string& line) const { std::fprintf(out, "  %s\n", line.c_str()); }

  Outcome run(zel::ZELAPIResponseFutureAndCancelToken request) {
    ++requestsStarted;
    return request.future.wait(10s);
  }
};

const boost::json::value* member(const Outcome& outcome, std::initializer_list<const char*> path) {
  if (!outcome.ok() || !outcome.value() || !outcome.value()->dataObject) return nullptr;
  const boost::json::value* at = &*outcome.value()->dataObject;
  for (const char* key : path) {
    if (!at->is_object()) return nullptr;
    at = at->as_object().if_contains(key);
    if (!at) return nullptr;
  }
  return at;
}

std::string describe(const Outcome& outcome) {
  if (outcome.ok()) return "success";
  return outcome.error().domain() + " " + std::to_string(outcome.error().code()) + " (" +
         outcome.error().localizedDescription() + ")";
}

Verdict signedRequest(Tour& tour) {
  tour.say("No user is signed in, so the client signs the request: client_id, timestamp and an");
  tour.say("HMAC-SHA256 oauth_signature go into the query.");
  const auto outcome = tour.run(tour.kit.client->getPath("echo", {{"greeting", "hello"}}));
  tour.say("GET /v3/echo/?greeting=hello  ->  " + describe(outcome));
  const auto* valid = member(outcome, {"signature", "valid"});
  if (!valid || !valid->is_bool() || !valid->as_bool()) {
    return "the server could not verify the signature";
  }
  tour.say("the server recomputed the signature with the client secret: it verifies");
  return {};
}

Verdict tokenRefresh(Tour& tour) {
  tour.say(
      "POST /v3/tokens/refresh/ carries \"Authorization: Basic\" with the client credentials.");
  const auto outcome = tour.run(tour.kit.client->postPath("tokens/refresh", {}));
  const auto* token = member(outcome, {"access_token"});
  if (!token || !token->is_string()) return "no token came back: " + describe(outcome);
  tour.kit.credentials->setAccessToken(std::string(token->as_string()));
  tour.say("the API handed out \"" + std::string(token->as_string()) + "\"; the provider keeps it");
  return {};
}

Verdict authenticatedRequest(Tour& tour) {
  const auto outcome = tour.run(tour.kit.client->getPath("users/me", {}));
  tour.say("GET /v3/users/me/ with \"Authorization: Bearer <token>\"  ->  " + describe(outcome));
  const auto* name = member(outcome, {"name"});
  if (!name || *name != "Ada") return "the user did not come back: " + describe(outcome);
  tour.say("data.name = \"Ada\"  (the envelope was parsed into a ZELAPIResponse)");
  return {};
}

Verdict formPost(Tour& tour) {
  const auto outcome =
      tour.run(tour.kit.client->postPath("echo", {{"title", "Tea & cake"}, {"count", 2}}));
  tour.say("POST /v3/echo/ with title=\"Tea & cake\", count=2  ->  " + describe(outcome));
  const auto* title = member(outcome, {"form", "title"});
  const auto* count = member(outcome, {"form", "count"});
  if (!title || *title != "Tea & cake" || !count || *count != "2") {
    return "the form fields did not arrive intact";
  }
  tour.say("the server read both fields from the form body, percent-escapes undone");
  return {};
}

Verdict multipartUpload(Tour& tour) {
  std::string photo(192 * 1024, '\0');
  for (std::size_t i = 0; i < photo.size(); ++i)
    photo[i] = static_cast<char>((i * 7 + i / 97) % 64);
  const auto chunks = [photo] {
    return std::vector<std::shared_ptr<const zel::ZELMultipartFormChunk>>{
        std::make_shared<zel::ZELMultipartFormChunkFile>(zel::Data::copy(std::string_view(photo)),
                                                         "photo", "photo.raw",
                                                         "application/octet-stream")};
  };
  ProgressBar bar(tour.out, /*force=*/true);
  std::atomic<std::int64_t> lastSent{0};
  auto request = tour.kit.client->executeDataTaskWithRequest(
      tour.kit.client->requestForPath("upload", zel::ZELHTTPMethod::POST, {{"album", "demo"}},
                                      chunks, /*compressRequestBody=*/true),
      zel::ZELAPIClientRequestPriority::Default,
      [&](std::uint64_t, std::int64_t sent, std::int64_t total) {
        lastSent = sent;
        bar.update(sent, total);
      });
  const auto outcome = tour.run(std::move(request));
  bar.finish();
  tour.say("POST /v3/upload/ (multipart, gzip)  ->  " + describe(outcome));
  const auto* gzipped = member(outcome, {"gzipped"});
  const auto* bodyBytes = member(outcome, {"bodyBytes"});
  const auto* parts = member(outcome, {"parts"});
  if (!gzipped || *gzipped != true || !parts || !parts->is_array()) {
    return "the server did not receive a gzipped multipart body";
  }
  bool found = false;
  for (const auto& part : parts->as_array()) {
    found = found || (part.as_object().at("name") == "photo" &&
                      part.as_object().at("sha256") == sha256Hex(photo).c_str());
  }
  if (!found) return "the photo's SHA-256 on the server differs";
  tour.say(std::to_string(photo.size()) + " bytes of photo went over the wire as " +
           (bodyBytes ? boost::json::serialize(*bodyBytes) : std::string("?")) +
           " gzipped bytes; the server's SHA-256 matches");
  if (lastSent.load() <= 0) return "no upload progress was reported";
  return {};
}

Verdict authenticationFailure(Tour& tour) {
  ClientKit stale = makeClient({.baseURL = tour.server.url("/v3/"), .token = "expired-token"});
  const auto outcome = tour.run(stale.client->getPath("users/me", {}));
  tour.say("GET /v3/users/me/ with a token the API never issued  ->  " + describe(outcome));
  if (outcome.ok() || outcome.error().code() != 2) return "expected the service error code 2";
  // The provider hears of it on the main queue, which may run just after the caller saw the
  // failure.
  for (int i = 0; i < 200 && stale.credentials->accessTokenInvalidCalls() == 0; ++i) {
    std::this_thread::sleep_for(5ms);
  }
  if (stale.credentials->accessTokenInvalidCalls() != 1) {
    return "the authentication provider was not told the token is invalid";
  }
  tour.say("the authentication provider was told (accessTokenInvalidWithError, on the main queue)");
  return {};
}

Verdict redirect(Tour& tour) {
  const auto outcome = tour.run(tour.kit.client->getPath("redirect", {}));
  tour.say("GET /v3/redirect/ answers 302 -> /v3/echo/?redirected=1  ->  " + describe(outcome));
  const auto* redirected = member(outcome, {"query", "redirected"});
  const auto* authorization = member(outcome, {"headers", "Authorization"});
  if (!redirected || *redirected != "1") return "the redirect was not followed";
  if (!authorization) return "the same-origin redirect lost its Authorization header";
  tour.say("followed on the same origin, credentials kept (they are dropped across origins)");
  return {};
}

Verdict cancellation(Tour& tour) {
  auto request = tour.kit.client->getPath("slow", {});
  std::this_thread::sleep_for(150ms);
  request.cancelToken->cancel();
  const auto outcome = tour.run(std::move(request));
  tour.say("GET /v3/slow/, cancelled after 150 ms  ->  " + describe(outcome));
  if (outcome.ok() || outcome.error().code() != -999) return "expected the cancellation error -999";
  return {};
}

Verdict transportError(Tour& tour) {
  std::uint16_t closedPort = 0;
  {
    zel::MockServer gone;
    closedPort = gone.port();
  }
  ClientKit kit = makeClient(
      {.baseURL = "http://127.0.0.1:" + std::to_string(closedPort) + "/v3/", .token = "t"});
  const auto outcome = tour.run(kit.client->getPath("users/me", {}));
  tour.say("GET against a port nobody listens on  ->  " + describe(outcome));
  if (outcome.ok() || outcome.error().domain() != "NSURLErrorDomain" ||
      outcome.error().code() != -1004) {
    return "expected NSURLErrorDomain -1004 (cannot connect to host)";
  }
  return {};
}

Verdict metricsWaterfall(Tour& tour) {
  const auto outcome = tour.run(tour.kit.client->getPath("users/me", {}));
  if (!outcome.ok()) return "the request failed: " + describe(outcome);
  tour.capture.waitForReports(0, 5s);
  const auto reports = tour.capture.snapshot();
  if (reports.taskMetrics.empty() || reports.metrics.empty()) return "no metrics arrived";
  std::fprintf(tour.out, "%s", drawWaterfall(reports.taskMetrics.back()).c_str());
  const auto& record = reports.metrics.back();
  const auto* fields = record.if_contains("metrics");
  const auto* numbers = record.if_contains("dimensions");
  if (!fields || !fields->is_object() || !numbers || !numbers->is_object()) {
    return "the metrics report lacks its two dictionaries";
  }
  const auto text = [](const boost::json::value* value) {
    return value ? boost::json::serialize(*value) : std::string("-");
  };
  tour.say("the metrics report: host " + text(fields->as_object().if_contains("host")) + ", path " +
           text(fields->as_object().if_contains("path")) + ", protocol " +
           text(fields->as_object().if_contains("network_protocol")) + ", status " +
           text(numbers->as_object().if_contains("status_code")) + ", reused connection " +
           text(numbers->as_object().if_contains("reused_connection")));
  if (fields->as_object().if_contains("host") == nullptr ||
      fields->as_object().at("host") != "127.0.0.1") {
    return "the metrics report names the wrong host";
  }
  return {};
}

Verdict notificationsCounted(Tour& tour) {
  tour.capture.waitForReports(0, 5s);
  const auto reports = tour.capture.snapshot();
  int willStart = 0, didFinish = 0, didCollect = 0;
  for (const auto& name : reports.notifications) {
    willStart += name == zel::ZELNetworkingClientRequestWillStartNotification;
    didFinish += name == zel::ZELNetworkingClientRequestDidFinishNotification;
    didCollect += name == zel::ZELNetworkingClientRequestDidCollectMetricsNotification;
  }
  tour.say("requests " + std::to_string(tour.requestsStarted) + ": will-start " +
           std::to_string(willStart) + ", did-finish " + std::to_string(didFinish) +
           ", did-collect-metrics " + std::to_string(didCollect));
  if (willStart != tour.requestsStarted || didFinish != willStart || didCollect != willStart) {
    return "every request should post each notification exactly once";
  }
  return {};
}

}  // namespace

int runDemoTour(std::FILE* out) {
  zel::MockServer server;
  DemoApiCredentials credentials;
  installDemoApi(server, credentials);
  ReportCapture capture({.metrics = true, .networkErrors = true});
  Tour tour{out, server, credentials,
            makeClient({.baseURL = server.url("/v3/"),
                        .clientID = credentials.clientID,
                        .clientSecret = credentials.clientSecret}),
            capture};
  std::fprintf(out, "ZELNetworking demo: the demo API listens on %s\n\n",
               server.url("/v3/").c_str());

  const std::vector<std::pair<const char*, std::function<Verdict(Tour&)>>> steps = {
      {"A signed request", signedRequest},
      {"Token refresh", tokenRefresh},
      {"An authenticated request", authenticatedRequest},
      {"A form POST", formPost},
      {"A multipart upload with gzip and a progress bar", multipartUpload},
      {"An authentication failure reaches the provider", authenticationFailure},
      {"A redirect", redirect},
      {"Cancellation", cancellation},
      {"A transport error", transportError},
      {"The metrics of a request as a timing waterfall", metricsWaterfall},
      {"The notifications, counted", notificationsCounted},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    std::fprintf(out, "[%zu/%zu] %s\n", i + 1, steps.size(), steps[i].first);
    const Verdict verdict = steps[i].second(tour);
    if (!verdict.empty()) {
      std::fprintf(out, "  FAILED: %s\n\ndemo: step %zu (%s) failed\n", verdict.c_str(), i + 1,
                   steps[i].first);
      return 1;
    }
    std::fprintf(out, "  ok\n\n");
  }
  std::fprintf(out, "Every step behaved as the library promises.\n");
  return 0;
}

}  // namespace zelnet
