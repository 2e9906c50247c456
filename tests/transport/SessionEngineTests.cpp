// The session engine's pure parts, without a server: the response head parser (fed every head
// split at every byte), the redirect proposal, per-host admission and the retry policy.
#include <gtest/gtest.h>

#include <openssl/x509_vfy.h>

#include "HostAdmission.h"
#include "RedirectProposal.h"
#include "ResponseHeadParser.h"
#include "RetryPolicy.h"
#include "TransferErrors.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

using Outcome = ResponseHeadParser::Outcome;

struct HeadCase {
  std::string bytes;
  Outcome outcome;
  int status = 0;
  std::vector<HTTPHeaders::Field> fields{};
};

std::string describe(Outcome outcome, const ResponseHead& head) {
  std::string text = std::to_string(static_cast<int>(outcome)) + " " +
                     std::to_string(head.statusCode) + " " + head.httpVersion;
  for (const auto& [name, value] : head.headers) text += "|" + name + "=" + value;
  return text;
}

std::string parse(const std::vector<std::string_view>& pieces) {
  ResponseHeadParser parser;
  Outcome outcome = Outcome::NeedMore;
  for (const auto piece : pieces) outcome = parser.feed(piece);
  return describe(outcome, outcome == Outcome::HeadComplete ? parser.takeHead() : ResponseHead{});
}

TEST(ResponseHeadParser, EveryHeadReadsTheSameWhereverItIsSplit) {
  const std::vector<HeadCase> cases = {
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-A:  padded \t\r\n\r\n",
       Outcome::HeadComplete,
       200,
       {{"Content-Type", "text/plain"}, {"X-A", "padded"}}},
      {"HTTP/1.1 100 Continue\r\nX-Early: 1\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n",
       Outcome::HeadComplete, 204},
      {"HTTP/2 404\nset-cookie: a=1\nSet-Cookie: b=2\n\n",
       Outcome::HeadComplete,
       404,
       {{"set-cookie", "a=1, b=2"}}},
      {"HTTP/1.1 200 OK\r\nX-Folded: one\r\n  two\r\n\r\n",
       Outcome::HeadComplete,
       200,
       {{"X-Folded", "one two"}}},
      {"HTTP/1.1 2000 OK\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 20\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 \r\n\r\n", Outcome::Malformed},
      {"SPDY/9 banana\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 200 OK\r\nno colon here\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 200 OK\r\n\rX-Smuggled: 1\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 200 OK\r\nX Space: 1\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 200 OK\r\nX-Value: a\rb\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 200 OK\r\n  folded first\r\n\r\n", Outcome::Malformed},
      {"HTTP/1.1 200 OK\r\n" + std::string(ResponseHeadParser::kMaxHeadBytes, 'x'),
       Outcome::TooLarge},
      {"HTTP/1.1 200 OK\r\nX-Cut: before the end", Outcome::NeedMore},
  };
  for (const auto& c : cases) {
    ResponseHead expected;
    expected.statusCode = c.status;
    if (c.outcome == Outcome::HeadComplete) {
      expected.httpVersion = c.bytes.substr(0, c.bytes.find(' '));
      if (c.status == 204) expected.httpVersion = "HTTP/1.1";
      expected.headers = HTTPHeaders::fromDistinctFields(c.fields);
    }
    const std::string want = describe(c.outcome, expected);
    EXPECT_EQ(parse({c.bytes}), want) << c.bytes.substr(0, 60);
    if (c.bytes.size() > 1000) continue;  // the size limit needs no split
    for (std::size_t at = 0; at <= c.bytes.size(); ++at) {
      const std::string_view all = c.bytes;
      ASSERT_EQ(parse({all.substr(0, at), all.substr(at)}), want) << "split at " << at;
    }
    std::vector<std::string_view> bytes;
    for (std::size_t i = 0; i < c.bytes.size(); ++i)
      bytes.push_back(std::string_view(c.bytes).substr(i, 1));
    EXPECT_EQ(parse(bytes), want) << "byte by byte";
  }
}

TEST(ResponseHeadParser, ManyFieldsJoinRepeatsInFirstSeenOrder) {
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

HTTPURLResponse redirect(const std::string& from, int status, const std::string& location) {
  return HTTPURLResponse(*URL::URLWithString(from), status, "HTTP/1.1",
                         HTTPHeaders{{"Location", location}});
}

TEST(RedirectProposal, MethodBodyAndCredentialsFollowTheRules) {
  struct Case {
    std::string from, method;
    int status;
    std::string location, url, method2;
    bool body, credentials;
  };
  const std::vector<Case> cases = {
      {"http://a.test/x", "POST", 301, "/y", "http://a.test/y", "GET", false, true},
      {"http://a.test/x", "POST", 302, "y", "http://a.test/y", "GET", false, true},
      {"http://a.test/x", "PUT", 302, "/y", "http://a.test/y", "PUT", true, true},
      {"http://a.test/x", "PUT", 303, "/y", "http://a.test/y", "GET", false, true},
      {"http://a.test/x", "HEAD", 303, "/y", "http://a.test/y", "HEAD", false, true},
      {"http://a.test/x", "POST", 307, "/y", "http://a.test/y", "POST", true, true},
      {"http://a.test/x", "POST", 308, "/y", "http://a.test/y", "POST", true, true},
      // Same origin with the default port spelled out; another origin by host, port, scheme.
      {"http://a.test/x", "GET", 302, "http://A.test:80/y", "http://A.test:80/y", "GET", false,
       true},
      {"http://a.test/x", "GET", 302, "http://b.test/y", "http://b.test/y", "GET", false, false},
      {"http://a.test/x", "GET", 302, "http://a.test:8080/y", "http://a.test:8080/y", "GET", false,
       false},
      {"http://a.test/x", "GET", 302, "https://a.test/y", "https://a.test/y", "GET", false, false},
  };
  for (const auto& c : cases) {
    const auto proposal =
        proposeRedirect(requestTo(c.from, c.method), redirect(c.from, c.status, c.location), 0);
    ASSERT_TRUE(std::holds_alternative<URLRequest>(proposal)) << c.location;
    const auto& next = std::get<URLRequest>(proposal);
    const std::string label = c.method + " " + std::to_string(c.status) + " " + c.location;
    EXPECT_EQ(next.url()->absoluteString(), c.url) << label;
    EXPECT_EQ(next.httpMethod(), c.method2) << label;
    EXPECT_EQ(next.httpBody().has_value(), c.body) << label;
    // Turned into a GET, the request loses the fields that describe its body.
    EXPECT_EQ(next.valueForHTTPHeaderField("Content-Type").has_value(), c.method == c.method2)
        << label;
    for (const char* field : {"Authorization", "Cookie", "Proxy-Authorization"}) {
      EXPECT_EQ(next.valueForHTTPHeaderField(field).has_value(), c.credentials)
          << label << " " << field;
    }
    EXPECT_EQ(next.valueForHTTPHeaderField("X-Kept"), "v") << label;
  }
}

TEST(RedirectProposal, BadTargetsAndTheHopLimitEndTheTask) {
  const auto request = requestTo("http://a.test/x");
  auto codeOf = [&](const std::string& location, std::size_t hops) {
    const auto proposal =
        proposeRedirect(request, redirect("http://a.test/x", 302, location), hops);
    return std::holds_alternative<Error>(proposal) ? std::get<Error>(proposal).code() : 0;
  };
  EXPECT_EQ(codeOf("http://[bad", 0), NSURLErrorRedirectToNonExistentLocation);
  EXPECT_EQ(codeOf("ftp://a.test/f", 0), NSURLErrorUnsupportedURL);
  EXPECT_EQ(codeOf("/y", kMaxRedirects - 1), 0);
  EXPECT_EQ(codeOf("/y", kMaxRedirects), NSURLErrorHTTPTooManyRedirects);
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

TEST(RetryPolicy, OnlyRequestsTheServerCannotHaveProcessedAreSentAgain) {
  struct Case {
    CURLcode code;
    const char* text;
    const char* method;
    bool reused, started, retry;
  };
  const std::vector<Case> cases = {
      {CURLE_GOT_NOTHING, "", "GET", true, false, true},
      {CURLE_SEND_ERROR, "Connection died, tried 5 times before giving up", "PUT", true, false,
       true},
      {CURLE_RECV_ERROR, "", "DELETE", true, false, true},
      {CURLE_RECV_ERROR, "", "POST", true, false, false},  // may have been processed
      {CURLE_RECV_ERROR, "", "GET", false, false, false},  // a fresh connection failed
      {CURLE_RECV_ERROR, "", "GET", true, true, false},    // the response had begun
      {CURLE_HTTP2, "", "GET", false, false, true},        // a GOAWAY raced the request
      {CURLE_HTTP2, "", "PATCH", false, false, false},
      {CURLE_HTTP2_STREAM, "stream 5 was reset: REFUSED_STREAM", "POST", false, false, true},
      {CURLE_COULDNT_CONNECT, "", "GET", false, false, false},
      {CURLE_OPERATION_TIMEDOUT, "", "GET", true, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shouldRetry({c.code, c.text, c.method, c.reused, c.started}), c.retry)
        << curl_easy_strerror(c.code) << " " << c.method;
  }
  EXPECT_EQ(certificateErrorCode(X509_V_ERR_CERT_HAS_EXPIRED),
            NSURLErrorServerCertificateHasBadDate);
  EXPECT_EQ(certificateErrorCode(X509_V_ERR_CERT_NOT_YET_VALID),
            NSURLErrorServerCertificateNotYetValid);
  EXPECT_EQ(certificateErrorCode(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY),
            NSURLErrorServerCertificateUntrusted);
}

}  // namespace
}  // namespace zel::detail
