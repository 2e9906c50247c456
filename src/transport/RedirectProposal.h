#pragma once
// The request a session proposes to follow a 3xx response with: a pure function, so every rule
// of it can be tested without a server.

#include <cstddef>
#include <variant>

#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"

namespace zel::detail {

/// Hops a task may follow; the next redirect fails with NSURLErrorHTTPTooManyRedirects.
inline constexpr std::size_t kMaxRedirects = 16;

/// Whether the status is one the session follows (301, 302, 303, 307, 308).
[[nodiscard]] bool isRedirectStatus(int status) noexcept;

/// The request to follow `response` (a redirect status with a Location) with, after `hops`
/// redirects already followed, or the error that ends the task:
/// - the Location resolves against the request's URL; it must be a valid http(s) URL
///   (NSURLErrorRedirectToNonExistentLocation, NSURLErrorUnsupportedURL otherwise);
/// - 303 (except after HEAD), and 301/302 after POST, become GET without a body or the fields
///   that describe one;
/// - to another origin (scheme, host or port), "Authorization", "Cookie" and
///   "Proxy-Authorization" are dropped, so every delegate starts from a safe request;
/// - after kMaxRedirects hops, NSURLErrorHTTPTooManyRedirects.
[[nodiscard]] std::variant<URLRequest, Error> proposeRedirect(const URLRequest& request,
                                                              const HTTPURLResponse& response,
                                                              std::size_t hops);

/// Same scheme, host and port (default ports filled in); hosts compare case-insensitively.
[[nodiscard]] bool isSameOrigin(const URL& a, const URL& b) noexcept;

}  // namespace zel::detail
