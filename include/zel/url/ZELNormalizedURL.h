#pragma once
// zel::ZELNormalizedURL — a URL reduced to the parts by which URLs are compared or matched: host,
// a slash-trimmed encoded path and the decoded query parameters, beside its complete text.
//
//   ZELNormalizedURL u(*URL::URLWithString("https://h/api/users/me/?b=2&a=1"));
//   u.path();        // "api/users/me"
//   *u.parameters(); // {a: "1", b: "2"}
//
// Immutable; safe to share between threads.

#include <optional>
#include <string>

#include "zel/platform/URL.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {

class ZELNormalizedURL {
 public:
  /// Always makes a value. A URL without host is reported ("All URLs must have a valid host:
  /// <url>") and gets an absent host; its other parts are filled as usual.
  explicit ZELNormalizedURL(const URL& url);

  /// The host as the URL gives it; absent when it has none.
  [[nodiscard]] const std::optional<std::string>& host() const noexcept { return host_; }
  /// The decoded path encoded again (letters, digits and !$&'()*+,-./:=@_~ stay, everything
  /// else becomes "%XX"), without leading or trailing "/": "/a%20b/" gives "a%20b", "/" and ""
  /// give "". An escaped "/" ("%2F") comes back as a plain "/".
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  /// The query parsed by zel_parametersFromQueryString; absent when the URL has no query or an
  /// empty one.
  [[nodiscard]] const std::optional<URLQueryParameters>& parameters() const noexcept {
    return parameters_;
  }
  /// The URL's complete text.
  [[nodiscard]] const std::string& absoluteString() const noexcept { return absoluteString_; }

  /// Equal when every part is equal.
  friend bool operator==(const ZELNormalizedURL&, const ZELNormalizedURL&) = default;

 private:
  std::optional<std::string> host_;
  std::string path_;
  std::optional<URLQueryParameters> parameters_;
  std::string absoluteString_;
};

}  // namespace zel
