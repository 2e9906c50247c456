#pragma once
// The library's error vocabulary: domains, keys, constructors and refinements of zel::Error.
//
// Every failure that leaves the library is an Error in one of these domains. Constructors make
// new errors; refinements return a new error, or the receiver itself (isSameInstance) when they
// have nothing to change. User-facing texts are looked up when an error is made: service texts
// in the main bundle's default table (keyed by their English text), keyed texts in the
// "ZELLocalizable" table of zel_mainAppBundle(); without a translation the English text is used.

#include <cstdint>
#include <optional>
#include <string>

#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"

namespace zel {

/// The library's own domain: service codes, or codes chosen by the caller.
inline constexpr const char* ZELNetworkingErrorDomain = "com.emberfield.zelvo";
/// Errors of the Cronet network stack, seen as the underlying error of an NSURLErrorDomain error.
inline constexpr const char* ZELNetworkingCronetErrorDomain = "org.chromium.net.ErrorDomain";
/// The domain of HTTP-status errors (no exported name of its own).
inline constexpr const char* ZELNetworkingHTTPErrorDomainString = "ZelvoHTTPErrorDomain";

/// User-information keys. Note the two names that differ from their values.
inline constexpr const char* ZELNetworkingDataObjectkey = "dataObject";
inline constexpr const char* ZELNetworkingAuthenticationErrorKey =
    "ZELNetworkingAuthenticationErrorKey";
inline constexpr const char* ZELNetworkingClientErrorUserInfoHttpStatusCodeKey =
    "ZELNetworkingClientErrorUserInfoHttpStatusCode";

// ---- constructors ------------------------------------------------------------------------------

/// The designated constructor. An absent description is reported ("Invalid parameter not
/// satisfying: description") and the error is still made. The data object, underlying error,
/// non-empty description and non-empty failure reason are stored; the user information is
/// never absent.
[[nodiscard]] Error zel_errorWithUnderlyingError(std::optional<Error> underlyingError,
                                                 std::optional<std::string> description,
                                                 std::optional<std::string> failureReason,
                                                 std::int64_t code,
                                                 std::optional<ErrorUserInfoValue> dataObject);

[[nodiscard]] Error zel_errorWithDescription(std::optional<std::string> description,
                                             std::int64_t code);
[[nodiscard]] Error zel_errorWithDescription(std::optional<std::string> description,
                                             std::optional<std::string> failureReason,
                                             std::int64_t code,
                                             std::optional<ErrorUserInfoValue> dataObject);

/// Generic errors carry the generic text ("Oops! Something went wrong") as description.
[[nodiscard]] Error zel_genericErrorWithUnderlyingError(std::optional<Error> underlyingError,
                                                        std::optional<std::string> failureReason,
                                                        std::int64_t code);
[[nodiscard]] Error zel_genericErrorWithErrorCode(std::int64_t code);
[[nodiscard]] Error zel_genericErrorWithFailureReason(std::optional<std::string> failureReason,
                                                      std::int64_t code);

/// A generic error around the underlying one without nesting generic errors: the specific text
/// moves into the failure reason; the code is the underlying error's, else the fallback.
[[nodiscard]] Error zel_stackedGenericErrorWithUnderlyingError(
    std::optional<Error> underlyingError, std::optional<std::string> fallbackFailureReason,
    std::int64_t fallbackCode);

/// A failed API envelope as an error. Codes -1009, -1001 and 502 get connection texts in place
/// of the API's message; otherwise the message (or, when absent, the service's apology) and the
/// message detail. The data object is kept in every case.
[[nodiscard]] Error zelvoServiceErrorWithErrorCode(std::int64_t code,
                                                   std::optional<std::string> message,
                                                   std::optional<std::string> messageDetail,
                                                   std::optional<ErrorUserInfoValue> dataObject);
[[nodiscard]] Error zelvoServiceErrorWithFailureReason(std::optional<std::string> failureReason,
                                                       std::int64_t code);
/// Code 500, description "Error", reason "Internal Error".
[[nodiscard]] Error zelvoInternalError();
/// Code 500, description "Error", reason "Validation error".
[[nodiscard]] Error zelvoServiceValidationError();
/// Domain "ZelvoHTTPErrorDomain", code = the status, no user information.
[[nodiscard]] Error zelvoHTTPErrorWithHTTPStatusCode(std::int64_t statusCode);

/// The generic text, looked up on every call.
[[nodiscard]] std::string zel_genericErrorLocalizedDescription();

// ---- instance operations -----------------------------------------------------------------------

/// True for the domain "ZelvoHTTPErrorDomain".
[[nodiscard]] bool isHTTPError(const Error& error);
/// The code, whatever the domain.
[[nodiscard]] std::int64_t HTTPStatusCode(const Error& error);
/// The error under NSUnderlyingErrorKey, or absent.
[[nodiscard]] std::optional<Error> underlyingError(const Error& error);
/// True when the localized description is the generic text (the domain is not tested).
[[nodiscard]] bool zel_isGenericError(const Error& error);
/// NSURLErrorDomain errors caused by Cronet -118 / -106 get the platform's -1001 / -1009; other
/// NSURLErrorDomain errors are copied unchanged; other domains return the receiver.
[[nodiscard]] Error zel_errorWithUpdatedCode(const Error& error);
/// A copy without failure reason when it has one, else the receiver.
[[nodiscard]] Error zel_errorWithRemovedFailureReasonIfDistribution(const Error& error);
/// A copy; for code 2 (authentication failure) with the "Authentication failed." description and
/// the request URL's path under ZELNetworkingAuthenticationErrorKey.
[[nodiscard]] Error zel_errorLocalizedAndContextAddedForRequest(const Error& error,
                                                                const URLRequest& request);
/// Description and failure reason on two lines (the reason alone for code 502, absent without one).
[[nodiscard]] std::optional<std::string> detailedLocalizedDescription(const Error& error);

}  // namespace zel
