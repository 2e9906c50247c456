// The session engine's pure parts, without a server: the response head parser (fed every head
// split at every byte), the redirect proposal, per-host admission, the retry policy and the
// mapping of libcurl's results to error codes.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "HostAdmission.h"
#include "RedirectProposal.h"
#include "ResponseHeadParser.h"
#include "RetryPolicy.h"
#include "TransferErrors.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

using Outcome = ResponseHeadParser::Outcome;

// What the parser makes of the pieces: "malformed", or "complete 200 HTTP/1.1|Name=value|...".
std::string parse(const std::vector<std::string_view>& pieces) {
  ResponseHeadParser parser;
  Outcome outcome = Outcome::NeedMore;
  for (const auto piece : pieces) outcome = parser.feed(piece);
  if (outcome != Outcome::HeadComplete) {
    return std::array{"need more", "complete", "malformed", "too large"}[static_cast<int>(outcome)];
  }
  const auto head = parser.takeHead();
  std::string text = "complete " + std::to_string(head.statusCode) + " " + head.httpVersion;
  for (const auto& [name, value] : head.headers) text += "|" + name + "=" + value;
  return text;
}

TEST(ResponseHeadParser, EveryHeadReadsTheSameWhereverItIsSplit) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-A:  padded \t\r\n\r\n",
       "complete 200 HTTP/1.1|Content-Type=text/plain|X-A=padded"},
      {"HTTP/1.1 100 Continue\r\nX-Early: 1\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n",
       "complete 204 HTTP/1.1"},
      {"HTTP/2 404\nset-cookie: a=1\nSet-Cookie: b=2\n\n",
       "complete 404 HTTP/2|set-cookie=a=1, b=2"},
      {"HTTP/1.1 200 OK\r\nX-Folded: one\r\n  two\r\n\r\n",
       "complete 200 HTTP/1.1|X-Folded=one two"},
      {"HTTP/1.1 2000 OK\r\n\r\n", "malformed"},
      {"HTTP/1.1 20\r\n\r\n", "malformed"},
      {"HTTP/1.1 \r\n\r\n", "malformed"},
      {"SPDY/9 banana\r\n\r\n", "malformed"},
      {"HTTP/1.1 200 OK\r\nno colon here\r\n\r\n", "malformed"},
      {"HTTP/1.1 200 OK\r\n\rX-Smuggled: 1\r\n\r\n", "malformed"},
      {"HTTP/1.1 200 OK\r\nX-Value: a\rb\r\n\r\n", "malformed"},
      {"HTTP/1.1 200 OK\r\n  folded first\r\n\r\n", "malformed"},
      {"HTTP/1.1 200 OK\r\n" + std::string(ResponseHeadParser::kMaxHeadBytes, 'x'), "too large"},
      {"HTTP/1.1 200 OK\r\nX-Cut: before the end", "need more"},
  };
  for (const auto& [bytes, want] : cases) {
    EXPECT_EQ(parse({bytes}), want) << bytes.substr(0, 60);
    if (bytes.size() > 1000) continue;  // the size limit needs no split
    const std::string_view all = bytes;
    for (std::size_t at = 0; at <= all.size(); ++at) {
      ASSERT_EQ(parse({all.substr(0, at), all.substr(at)}), want) << "split at " << at;
    }
    std::vector<std::string_view> single;
    for (std::size_t i = 0; i < all.size(); ++i) single.push_back(all.substr(i, 1));
    EXPECT_EQ(parse(single), want) << "byte by byte";
  }

  // Past sixteen fields, names are found through an index: repeats still join in first-seen
  // order, ignoring case.
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 23000; ++i) head += "F" + std::to_string(i % 20000) + ":v\r\n";
  head += "f7: last\r\n\r\n";
  ResponseHeadParser parser;
  ASSERT_EQ(parser.feed(head), Outcome::HeadComplete);
  const auto parsed = parser.takeHead();
  EXPECT_EQ(parsed.headers.size(), 20000u);
  EXPECT_EQ(parsed.headers.value("F7"), "v, v, last");
  EXPECT_EQ(parsed.headers.value("f19999"), "v");
  EXPECT_EQ(parsed.headers.begin()->first, "F0");
}

URLRequest requestTo(const std::string& url, const std::string& method = "GET") {
  URLRequest request(*URL::URLWithString(url));
  request.setHTTPMethod(method);
  request.setValue("Bearer t", "Authorization");
  request.setValue("s=1", "Cookie");
  request.setValue("Basic p", "Proxy-Authorization");
  request.setValue("application/json", "Content-Type");
  request.setValue("v", "X-Kept");
  if (method != "GET" && method != "HEAD") request.setHTTPBody(Data::copy(std::string_view("{}")));
  return request;
}

TEST(RedirectProposal, MethodBodyCredentialsAndTargetsFollowTheRules) {
  const std::string from = "http://a.test/x";
  auto propose = [&](const std::string& method, int status, const std::string& location) {
    return proposeRedirect(requestTo(from, method),
                           HTTPURLResponse(*URL::URLWithString(from), status, "HTTP/1.1",
                                           HTTPHeaders{{"Location", location}}),
                           0);
  };
  // Method, status, Location; the method that follows, whether the body and credentials stay.
  const std::vector<std::tuple<std::string, int, std::string, std::string, bool, bool>> cases = {
      {"POST", 301, "/y", "GET", false, true},
      {"POST", 302, "y", "GET", false, true},
      {"PUT", 302, "/y", "PUT", true, true},
      {"PUT", 303, "/y", "GET", false, true},
      {"HEAD", 303, "/y", "HEAD", false, true},
      {"POST", 307, "/y", "POST", true, true},
      // Same origin with the default port spelled out; another origin by host, port, scheme.
      {"GET", 302, "http://A.test:80/y", "GET", false, true},
      {"GET", 302, "http://b.test/y", "GET", false, false},
      {"GET", 302, "http://a.test:8080/y", "GET", false, false},
      {"GET", 302, "https://a.test/y", "GET", false, false},
  };
  for (const auto& [method, status, location, method2, body, credentials] : cases) {
    SCOPED_TRACE(method + " " + std::to_string(status) + " " + location);
    const auto proposal = propose(method, status, location);
    ASSERT_TRUE(std::holds_alternative<URLRequest>(proposal));
    const auto& next = std::get<URLRequest>(proposal);
    EXPECT_EQ(next.url()->absoluteString(),
              location.starts_with("http") ? location : "http://a.test/y");
    EXPECT_EQ(next.httpMethod(), method2);
    EXPECT_EQ(next.httpBody().has_value(), body);
    // Turned into a GET, the request loses the fields that describe its body.
    EXPECT_EQ(next.valueForHTTPHeaderField("Content-Type").has_value(), method == method2);
    for (const char* field : {"Authorization", "Cookie", "Proxy-Authorization"}) {
      EXPECT_EQ(next.valueForHTTPHeaderField(field).has_value(), credentials) << field;
    }
    EXPECT_EQ(next.valueForHTTPHeaderField("X-Kept"), "v");
  }

  // Bad targets end the task (the hop limit is tested end to end, on the session).
  auto codeOf = [&](const std::string& location) {
    const auto proposal = propose("GET", 302, location);
    return std::holds_alternative<Error>(proposal) ? std::get<Error>(proposal).code() : 0;
  };
  EXPECT_EQ(codeOf("http://[bad"), NSURLErrorRedirectToNonExistentLocation);
  EXPECT_EQ(codeOf("ftp://a.test/f"), NSURLErrorUnsupportedURL);
}

TEST(HostAdmission, LimitsEachHostAndPromotesByPriorityThenArrival) {
  HostAdmission<int> admission(2);
  std::vector<int> started;
  auto start = [&](int item) { started.push_back(item); };
  admission.enqueue("h", 1, 0.5f);
  admission.enqueue("h", 2, 0.5f);
  admission.enqueue("h", 3, 0.25f);
  admission.enqueue("h", 4, 0.75f);
  admission.enqueue("h", 5, 0.5f);
  admission.enqueue("other", 9, 0.1f);
  admission.admit("h", start);
  admission.admit("other", start);
  EXPECT_EQ(started, (std::vector<int>{4, 1, 9}));
  EXPECT_TRUE(admission.remove("h", 5));
  EXPECT_FALSE(admission.remove("h", 5));
  admission.release("h");
  admission.admit("h", start);
  EXPECT_EQ(started.back(), 2);
  EXPECT_EQ(admission.runningCount("h"), 2u);
  EXPECT_EQ(admission.waitingCount("h"), 1u);

  // An HTTP/2 host admits many streams per connection.
  HostAdmission<int> multiplexed(1);
  multiplexed.markMultiplexed("h2");
  for (int i = 0; i < 150; ++i) multiplexed.enqueue("h2", i, 0.5f);
  int admitted = 0;
  multiplexed.admit("h2", [&](int) { ++admitted; });
  EXPECT_EQ(admitted, HostAdmission<int>::kStreamsPerConnection);
}

TEST(TransferErrors, OnlyUnprocessedRequestsAreRetriedAndResultsMapToPlatformCodes) {
  // libcurl's result and error text, the method, whether the connection was reused and the
  // response had begun; whether to retry.
  const std::vector<std::tuple<CURLcode, const char*, const char*, bool, bool, bool>> cases = {
      {CURLE_GOT_NOTHING, "", "GET", true, false, true},
      {CURLE_SEND_ERROR, "", "PUT", true, false, true},
      {CURLE_RECV_ERROR, "", "DELETE", true, false, true},
      {CURLE_RECV_ERROR, "", "POST", true, false, false},  // may have been processed
      {CURLE_RECV_ERROR, "", "GET", false, false, false},  // a fresh connection failed
      {CURLE_RECV_ERROR, "", "GET", true, true, false},    // the response had begun
      {CURLE_HTTP2, "", "GET", false, false, true},        // a GOAWAY raced the request
      {CURLE_HTTP2, "", "PATCH", false, false, false},
      {CURLE_HTTP2_STREAM, "stream 5 was reset: REFUSED_STREAM", "POST", false, false, true},
      {CURLE_OPERATION_TIMEDOUT, "", "GET", true, false, false},
  };
  for (const auto& [code, text, method, reused, started, retry] : cases) {
    EXPECT_EQ(shouldRetry({code, text, method, reused, started}), retry)
        << curl_easy_strerror(code) << " " << method;
  }

  // libcurl's results map to the platform's codes (a refused connection, an unknown host, a
  // timeout and the certificate checks are mapped end to end by the session's and zelnet's
  // tests).
  const std::vector<std::tuple<CURLcode, long, std::int64_t>> curlCases = {
      {CURLE_COULDNT_CONNECT, ENETUNREACH, NSURLErrorNotConnectedToInternet},
      {CURLE_SSL_CONNECT_ERROR, 0, NSURLErrorSecureConnectionFailed},
      {CURLE_RECV_ERROR, 0, NSURLErrorNetworkConnectionLost},
  };
  for (const auto& [curl, osErrno, code] : curlCases) {
    EXPECT_EQ(NSURLErrorCodeForCurlCode(curl, osErrno), code) << curl_easy_strerror(curl);
  }
  EXPECT_EQ(makeURLError(NSURLErrorCancelled, "http://a/").localizedDescription(), "cancelled");
}

}  // namespace
}  // namespace zel::detail
