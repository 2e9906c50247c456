#pragma once
// When a failed attempt is sent again, once, on a fresh connection: only when the server cannot
// have processed the request.
//
// - The connection died before any byte of a response arrived, and the method is idempotent
//   (GET, HEAD, PUT, DELETE, OPTIONS, TRACE), so sending it again is safe whatever the server
//   did: over HTTP/1.1 when the connection was a reused one (a server or load balancer closed
//   it while idle); over HTTP/2 whenever the stream ended without a response (a GOAWAY racing
//   the request reaches libcurl 7.88 as a bare CURLE_HTTP2).
// - The server proved the request unprocessed, for any method: an HTTP/2 stream refused with
//   REFUSED_STREAM, or a stream above the last one a GOAWAY accepted.

#include <curl/curl.h>

#include <string_view>

namespace zel::detail {

struct FailedAttempt {
  CURLcode code = CURLE_OK;
  std::string_view errorText;  // libcurl's error buffer
  std::string_view method;
  bool reusedConnection = false;
  bool responseStarted = false;  // a byte of a response head arrived
};

[[nodiscard]] bool isIdempotentMethod(std::string_view method) noexcept;
/// The attempt's failure says the server never processed the request.
[[nodiscard]] bool provedUnprocessed(const FailedAttempt& attempt) noexcept;
/// Whether to send the request again on a fresh connection (at most once per task).
[[nodiscard]] bool shouldRetry(const FailedAttempt& attempt) noexcept;

}  // namespace zel::detail
