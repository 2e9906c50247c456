#pragma once
// zel::URLRequest — a mutable description of one HTTP request: URL, method, header fields, body
// and the hints the session layer reads (service type, HTTP/3, timeout, cache, cookies).
//
// A plain value: copying a request copies its settings (the body shares its bytes).

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "zel/platform/Data.h"
#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/URL.h"

namespace zel {

/// The kind of traffic a request carries, a hint for scheduling on the network.
enum class NetworkServiceType {
  Default,
  VoIP,
  Video,
  Background,
  Voice,
  ResponsiveData,
  AVStreaming,
  ResponsiveAV,
  CallSignaling,
};

/// How a request may use cached responses.
enum class URLRequestCachePolicy {
  UseProtocolCachePolicy,
  ReloadIgnoringLocalCacheData,
  ReturnCacheDataElseLoad,
  ReturnCacheDataDontLoad,
};

class URLRequest {
 public:
  /// The default timeout, in seconds.
  static constexpr double kDefaultTimeoutInterval = 60.0;

  /// A request without a URL.
  URLRequest() = default;
  explicit URLRequest(zel::URL url);

  [[nodiscard]] const std::optional<zel::URL>& url() const noexcept { return url_; }
  void setURL(std::optional<zel::URL> url) { url_ = std::move(url); }

  /// "GET" unless set otherwise.
  [[nodiscard]] const std::string& httpMethod() const noexcept { return httpMethod_; }
  /// Sets the method as given; the empty string restores "GET".
  void setHTTPMethod(std::string method);

  [[nodiscard]] const HTTPHeaders& allHTTPHeaderFields() const noexcept { return headers_; }
  /// Replaces every header field.
  void setAllHTTPHeaderFields(HTTPHeaders headers) { headers_ = std::move(headers); }
  /// The value of the field, its name matched case-insensitively; absent when not set.
  [[nodiscard]] std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  /// Sets the field, replacing it whatever the case of its name; an absent value removes it.
  void setValue(std::optional<std::string> value, std::string_view field);
  /// Appends to the field's value with ", ", or adds the field.
  void addValue(std::string_view value, std::string_view field);

  /// The body; absent is distinct from a present empty body.
  [[nodiscard]] const std::optional<Data>& httpBody() const noexcept { return httpBody_; }
  void setHTTPBody(std::optional<Data> body) { httpBody_ = std::move(body); }

  [[nodiscard]] NetworkServiceType networkServiceType() const noexcept { return serviceType_; }
  void setNetworkServiceType(NetworkServiceType type) noexcept { serviceType_ = type; }

  /// Whether the transport may try HTTP/3 without first learning the server offers it.
  [[nodiscard]] bool assumesHTTP3Capable() const noexcept { return assumesHTTP3Capable_; }
  void setAssumesHTTP3Capable(bool capable) noexcept { assumesHTTP3Capable_ = capable; }

  /// Seconds without progress after which the request fails.
  [[nodiscard]] double timeoutInterval() const noexcept { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) noexcept { timeoutInterval_ = seconds; }

  [[nodiscard]] URLRequestCachePolicy cachePolicy() const noexcept { return cachePolicy_; }
  void setCachePolicy(URLRequestCachePolicy policy) noexcept { cachePolicy_ = policy; }

  /// Whether stored cookies are sent and received cookies stored; true by default.
  [[nodiscard]] bool HTTPShouldHandleCookies() const noexcept { return shouldHandleCookies_; }
  void setHTTPShouldHandleCookies(bool handle) noexcept { shouldHandleCookies_ = handle; }

  /// Equal when every setting is equal (header names compared case-insensitively).
  friend bool operator==(const URLRequest& a, const URLRequest& b) = default;

 private:
  std::optional<zel::URL> url_;
  std::string httpMethod_ = "GET";
  HTTPHeaders headers_;
  std::optional<Data> httpBody_;
  NetworkServiceType serviceType_ = NetworkServiceType::Default;
  bool assumesHTTP3Capable_ = false;
  double timeoutInterval_ = kDefaultTimeoutInterval;
  URLRequestCachePolicy cachePolicy_ = URLRequestCachePolicy::UseProtocolCachePolicy;
  bool shouldHandleCookies_ = true;
};

}  // namespace zel
