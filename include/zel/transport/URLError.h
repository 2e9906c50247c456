#pragma once
// The URL-loading error codes of "NSURLErrorDomain" and how the session reports them.
//
// Every transport failure reaches callers as an Error in NSURLErrorDomain with one of these
// codes, the platform's localized description, the failing URL under
// NSURLErrorFailingURLStringErrorKey / NSURLErrorFailingURLErrorKey, and, when libcurl gave a
// reason, an underlying error in CURLErrorDomain (code = the CURLcode, description = its text).

#include <cstdint>
#include <optional>
#include <string>

#include "zel/platform/Error.h"

namespace zel {

inline constexpr const char* CURLErrorDomain = "CURLErrorDomain";

enum NSURLErrorCode : std::int64_t {
  NSURLErrorUnknown = -1,
  NSURLErrorCancelled = -999,
  NSURLErrorBadURL = -1000,
  NSURLErrorTimedOut = -1001,
  NSURLErrorUnsupportedURL = -1002,
  NSURLErrorCannotFindHost = -1003,
  NSURLErrorCannotConnectToHost = -1004,
  NSURLErrorNetworkConnectionLost = -1005,
  NSURLErrorDNSLookupFailed = -1006,
  NSURLErrorHTTPTooManyRedirects = -1007,
  NSURLErrorResourceUnavailable = -1008,
  NSURLErrorNotConnectedToInternet = -1009,
  NSURLErrorRedirectToNonExistentLocation = -1010,
  NSURLErrorBadServerResponse = -1011,
  NSURLErrorZeroByteResource = -1014,
  NSURLErrorCannotDecodeRawData = -1015,
  NSURLErrorCannotDecodeContentData = -1016,
  NSURLErrorCannotParseResponse = -1017,
  NSURLErrorDataLengthExceedsMaximum = -1103,
  NSURLErrorSecureConnectionFailed = -1200,
  NSURLErrorServerCertificateHasBadDate = -1201,
  NSURLErrorServerCertificateUntrusted = -1202,
  NSURLErrorServerCertificateHasUnknownRoot = -1203,
  NSURLErrorServerCertificateNotYetValid = -1204,
  NSURLErrorClientCertificateRejected = -1205,
  NSURLErrorClientCertificateRequired = -1206,
  NSURLErrorCannotLoadFromNetwork = -2000,
};

/// The platform's localized description for a code ("The request timed out." for -1001).
[[nodiscard]] std::string NSURLErrorLocalizedDescription(std::int64_t code,
                                                         const std::string& host = {});

/// An NSURLErrorDomain error for the URL, with an optional underlying error.
[[nodiscard]] Error makeURLError(std::int64_t code, const std::optional<std::string>& failingURL,
                                 std::optional<Error> underlying = std::nullopt,
                                 std::optional<std::string> description = std::nullopt);

/// The NSURLErrorDomain code for a libcurl result; osErrno is CURLINFO_OS_ERRNO (0 if unknown).
[[nodiscard]] std::int64_t NSURLErrorCodeForCurlCode(int curlCode, long osErrno = 0) noexcept;

}  // namespace zel
