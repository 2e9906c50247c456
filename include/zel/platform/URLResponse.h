#pragma once
// zel::URLResponse and zel::HTTPURLResponse — what a server said about a response, apart from
// its body.
//
// Immutable once made and shared as std::shared_ptr<const URLResponse>; a reader that needs
// the HTTP details casts to HTTPURLResponse (dynamic_pointer_cast).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/URL.h"

namespace zel {

class URLResponse {
 public:
  /// The value of expectedContentLength() when the length is not known.
  static constexpr std::int64_t kUnknownLength = -1;

  URLResponse(std::optional<zel::URL> url, std::optional<std::string> mimeType,
              std::int64_t expectedContentLength, std::optional<std::string> textEncodingName);
  URLResponse(const URLResponse&) = default;
  URLResponse(URLResponse&&) = default;
  URLResponse& operator=(const URLResponse&) = default;
  URLResponse& operator=(URLResponse&&) = default;
  virtual ~URLResponse();

  [[nodiscard]] const std::optional<zel::URL>& url() const noexcept { return url_; }
  /// The media type, e.g. "application/json"; absent when not known.
  [[nodiscard]] const std::optional<std::string>& MIMEType() const noexcept { return mimeType_; }
  /// The body length announced by the server, or kUnknownLength.
  [[nodiscard]] std::int64_t expectedContentLength() const noexcept {
    return expectedContentLength_;
  }
  /// The character set of a text body, e.g. "utf-8"; absent when not announced.
  [[nodiscard]] const std::optional<std::string>& textEncodingName() const noexcept {
    return textEncodingName_;
  }

 private:
  std::optional<zel::URL> url_;
  std::optional<std::string> mimeType_;
  std::int64_t expectedContentLength_;
  std::optional<std::string> textEncodingName_;
};

class HTTPURLResponse : public URLResponse {
 public:
  /// MIMEType comes from Content-Type (lowercased, parameters dropped), textEncodingName from
  /// its charset parameter (quotes removed), and expectedContentLength from Content-Length when
  /// that is a plain non-negative decimal integer that fits, else kUnknownLength.
  HTTPURLResponse(zel::URL url, int statusCode, std::string httpVersion, HTTPHeaders headers);

  [[nodiscard]] int statusCode() const noexcept { return statusCode_; }
  /// The protocol version of the status line, e.g. "HTTP/1.1" or "HTTP/2".
  [[nodiscard]] const std::string& httpVersion() const noexcept { return httpVersion_; }
  [[nodiscard]] const HTTPHeaders& allHeaderFields() const noexcept { return headers_; }
  /// The value of the field, its name matched case-insensitively; absent when not sent.
  [[nodiscard]] std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;

  /// The platform's short lowercase reason text: "no error" for 200, "not found" for 404, …;
  /// codes without their own text get their class: "informational" (below 200), "success",
  /// "redirected", "client error", "server error" (500 and above).
  [[nodiscard]] static std::string localizedStringForStatusCode(int statusCode);

 private:
  int statusCode_;
  std::string httpVersion_;
  HTTPHeaders headers_;

  struct HeadFacts;
  HTTPURLResponse(zel::URL url, int statusCode, std::string httpVersion, HTTPHeaders&& headers,
                  HeadFacts facts);
};

}  // namespace zel
