#pragma once
// How a failed hop becomes an NSURLErrorDomain error: the platform code, its description, the
// failing URL, and libcurl's own account underneath (CURLErrorDomain).

#include <curl/curl.h>

#include <optional>
#include <string>

#include "zel/platform/Error.h"

namespace zel::detail {

/// libcurl's multi interface refused something (adding a handle, performing, polling): the task
/// fails with NSURLErrorUnknown instead of waiting for a transfer that will never run.
[[nodiscard]] Error multiFailure(const std::optional<std::string>& url, CURLMcode code,
                                 const char* call);

/// The code for a TLS verification failure, from OpenSSL's verify result
/// (X509_V_ERR_CERT_HAS_EXPIRED → -1201, X509_V_ERR_CERT_NOT_YET_VALID → -1204, else -1202).
[[nodiscard]] std::int64_t certificateErrorCode(long verifyResult) noexcept;

}  // namespace zel::detail
