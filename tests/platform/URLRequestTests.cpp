#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"

#include <gtest/gtest.h>

#include <memory>

namespace zel {
namespace {

URL testURL() {
  return *URL::URLWithString("http://127.0.0.1:8080/v1/items");
}

TEST(URLRequest, Defaults) {
  const URLRequest request;
  EXPECT_FALSE(request.url().has_value());
  EXPECT_EQ(request.httpMethod(), "GET");
  EXPECT_TRUE(request.allHTTPHeaderFields().empty());
  EXPECT_FALSE(request.httpBody().has_value());
  EXPECT_EQ(request.networkServiceType(), NetworkServiceType::Default);
  EXPECT_FALSE(request.assumesHTTP3Capable());
  EXPECT_EQ(request.timeoutInterval(), 60.0);
  EXPECT_EQ(request.cachePolicy(), URLRequestCachePolicy::UseProtocolCachePolicy);
  EXPECT_TRUE(request.HTTPShouldHandleCookies());
  EXPECT_EQ(URLRequest(testURL()).url(), testURL());
}

TEST(URLRequest, EmptyMethodRestoresGET) {
  URLRequest request(testURL());
  request.setHTTPMethod("PATCH");
  EXPECT_EQ(request.httpMethod(), "PATCH");
  request.setHTTPMethod("");
  EXPECT_EQ(request.httpMethod(), "GET");
}

TEST(URLRequest, SetValueReplacesCaseInsensitivelyAndAbsentRemoves) {
  URLRequest request;
  request.setValue("text/plain", "Content-Type");
  request.setValue("application/json", "content-type");
  EXPECT_EQ(request.allHTTPHeaderFields().size(), 1u);
  EXPECT_EQ(request.valueForHTTPHeaderField("CONTENT-TYPE"), "application/json");

  request.setValue(std::nullopt, "CONTENT-type");
  EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Type").has_value());
  EXPECT_TRUE(request.allHTTPHeaderFields().empty());
}

TEST(URLRequest, AddValueJoinsWithComma) {
  URLRequest request;
  request.addValue("gzip", "Accept-Encoding");
  request.addValue("br", "accept-encoding");
  EXPECT_EQ(request.valueForHTTPHeaderField("Accept-Encoding"), "gzip, br");
}

TEST(URLRequest, CopiesAreIndependentAndCompareBySettings) {
  URLRequest original(testURL());
  original.setHTTPBody(Data::copy(std::string_view("{}")));
  URLRequest copy = original;
  EXPECT_EQ(copy, original);

  copy.setValue("1", "X-Trace");
  copy.setTimeoutInterval(5);
  copy.setNetworkServiceType(NetworkServiceType::Background);
  EXPECT_NE(copy, original);
  EXPECT_FALSE(original.valueForHTTPHeaderField("X-Trace").has_value());
  EXPECT_EQ(original.timeoutInterval(), 60.0);

  URLRequest emptyBody = original;
  emptyBody.setHTTPBody(Data());
  EXPECT_NE(emptyBody, original);
  emptyBody.setHTTPBody(std::nullopt);
  EXPECT_FALSE(emptyBody.httpBody().has_value());
}

HTTPURLResponse responseWith(HTTPHeaders headers, int status = 200) {
  return HTTPURLResponse(testURL(), status, "HTTP/1.1", std::move(headers));
}

TEST(HTTPURLResponse, KeepsStatusVersionAndHeaders) {
  const auto response = responseWith({{"X-Request-Id", "abc"}}, 404);
  EXPECT_EQ(response.statusCode(), 404);
  EXPECT_EQ(response.httpVersion(), "HTTP/1.1");
  EXPECT_EQ(response.url(), testURL());
  EXPECT_EQ(response.valueForHTTPHeaderField("x-request-id"), "abc");
  EXPECT_EQ(response.allHeaderFields().size(), 1u);
  EXPECT_FALSE(response.valueForHTTPHeaderField("X-Other").has_value());
}

TEST(HTTPURLResponse, ContentTypeGivesMIMETypeAndCharset) {
  const auto json = responseWith({{"content-type", " Application/JSON ; Charset=\"UTF-8\""}});
  EXPECT_EQ(json.MIMEType(), "application/json");
  EXPECT_EQ(json.textEncodingName(), "UTF-8");

  const auto later = responseWith({{"Content-Type", "text/html; q=1; charset=iso-8859-1"}});
  EXPECT_EQ(later.MIMEType(), "text/html");
  EXPECT_EQ(later.textEncodingName(), "iso-8859-1");

  const auto plain = responseWith({{"Content-Type", "image/png"}});
  EXPECT_EQ(plain.MIMEType(), "image/png");
  EXPECT_FALSE(plain.textEncodingName().has_value());

  const auto none = responseWith({});
  EXPECT_FALSE(none.MIMEType().has_value());
  EXPECT_FALSE(none.textEncodingName().has_value());
}

TEST(HTTPURLResponse, ContentLengthOnlyWhenAValidNonNegativeInteger) {
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"0", 0},
      {"1234", 1234},
      {" 42 ", 42},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", -1},
      {"99999999999999999999999", -1},
      {"abc", -1},
      {"-5", -1},
      {"+5", -1},
      {"12abc", -1},
      {"1.5", -1},
      {"", -1},
      {"5, 5", -1}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(responseWith({{"Content-Length", text}}).expectedContentLength(), expected) << text;
  }
  EXPECT_EQ(responseWith({}).expectedContentLength(), URLResponse::kUnknownLength);
}

TEST(HTTPURLResponse, SharedAsBaseResponse) {
  std::shared_ptr<const URLResponse> shared = std::make_shared<const HTTPURLResponse>(
      responseWith({{"Content-Type", "application/json"}, {"Content-Length", "2"}}, 201));
  EXPECT_EQ(shared->MIMEType(), "application/json");
  EXPECT_EQ(shared->expectedContentLength(), 2);
  const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(shared);
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->statusCode(), 201);

  const auto plain = std::make_shared<const URLResponse>(testURL(), "text/plain", 10,
                                                         std::optional<std::string>());
  EXPECT_EQ(
      std::dynamic_pointer_cast<const HTTPURLResponse>(std::shared_ptr<const URLResponse>(plain)),
      nullptr);
}

TEST(HTTPURLResponse, LocalizedStringForStatusCode) {
  const std::vector<std::pair<int, const char*>> cases = {{200, "no error"},
                                                          {201, "created"},
                                                          {204, "no content"},
                                                          {301, "moved permanently"},
                                                          {302, "found"},
                                                          {304, "not modified"},
                                                          {400, "bad request"},
                                                          {401, "unauthorized"},
                                                          {403, "forbidden"},
                                                          {404, "not found"},
                                                          {408, "request timed out"},
                                                          {429, "too many requests"},
                                                          {500, "internal server error"},
                                                          {502, "bad gateway"},
                                                          {503, "service unavailable"},
                                                          {504, "gateway timed out"},
                                                          {101, "informational"},
                                                          {299, "success"},
                                                          {399, "redirected"},
                                                          {418, "client error"},
                                                          {599, "server error"}};
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(code), text) << code;
  }
}

}  // namespace
}  // namespace zel
