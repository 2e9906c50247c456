#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"

#include <gtest/gtest.h>

#include <memory>

namespace zel {
namespace {

URL testURL() {
  return *URL::URLWithString("http://127.0.0.1:8080/v1/items");
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

}  // namespace
}  // namespace zel
