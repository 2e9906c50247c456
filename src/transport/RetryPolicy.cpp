#include "RetryPolicy.h"

namespace zel::detail {
namespace {

bool isConnectionLoss(CURLcode code) noexcept {
  return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING;
}

bool isStreamLoss(CURLcode code) noexcept {
  return code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM || code == CURLE_PARTIAL_FILE;
}

}  // namespace

bool isIdempotentMethod(std::string_view method) noexcept {
  return method == "GET" || method == "HEAD" || method == "PUT" || method == "DELETE" ||
         method == "OPTIONS" || method == "TRACE";
}

bool provedUnprocessed(const FailedAttempt& attempt) noexcept {
  if (attempt.code != CURLE_HTTP2 && attempt.code != CURLE_HTTP2_STREAM) return false;
  // libcurl retries refused streams itself and names them only when it gives up.
  return attempt.errorText.find("REFUSED_STREAM") != std::string_view::npos;
}

bool shouldRetry(const FailedAttempt& attempt) noexcept {
  if (attempt.responseStarted) return false;
  if (provedUnprocessed(attempt)) return true;
  if (!isIdempotentMethod(attempt.method)) return false;
  return (attempt.reusedConnection && isConnectionLoss(attempt.code)) || isStreamLoss(attempt.code);
}

}  // namespace zel::detail
