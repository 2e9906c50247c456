#include "zel/response/NSError+ZELNetworkingAdditions.h"

#include "zel/foundation/Bundle.h"
#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

constexpr const char* kLocalizableTable = "ZELLocalizable";

// Service texts: keyed by their English text in the main bundle's default table.
std::string serviceText(const char* english) {
  return Bundle::mainBundle().localizedStringForKey(english, std::string_view(), std::nullopt);
}

// Keyed texts: a symbolic key in "ZELLocalizable" of the application bundle, English default.
std::string keyedText(const char* key, const char* english) {
  return zel_mainAppBundle().localizedStringForKey(key, english, kLocalizableTable);
}

bool hasCharacters(const std::optional<std::string>& text) {
  return text && !text->empty();
}

Error copyWith(const Error& error, std::int64_t code, std::optional<ErrorUserInfo> userInfo) {
  return Error(error.domain(), code, std::move(userInfo));
}

}  // namespace

Error zel_errorWithUnderlyingError(std::optional<Error> underlyingError,
                                   std::optional<std::string> description,
                                   std::optional<std::string> failureReason, std::int64_t code,
                                   std::optional<ErrorUserInfoValue> dataObject) {
  if (!description) {
    ZELAssertionFailure(
        "Invalid parameter not satisfying: description",
        "+[NSError(ZELAdditions) "
        "zel_errorWithUnderlyingError:description:failureReason:errorCode:andDataObject:]");
  }
  ErrorUserInfo info;
  if (dataObject) info.set(ZELNetworkingDataObjectkey, std::move(*dataObject));
  if (underlyingError) info.set(NSUnderlyingErrorKey, std::move(*underlyingError));
  if (hasCharacters(description)) info.set(NSLocalizedDescriptionKey, std::move(*description));
  if (hasCharacters(failureReason)) {
    info.set(NSLocalizedFailureReasonErrorKey, std::move(*failureReason));
  }
  return Error(ZELNetworkingErrorDomain, code, std::move(info));
}

Error zel_errorWithDescription(std::optional<std::string> description, std::int64_t code) {
  return zel_errorWithUnderlyingError(std::nullopt, std::move(description), std::nullopt, code,
                                      std::nullopt);
}

Error zel_errorWithDescription(std::optional<std::string> description,
                               std::optional<std::string> failureReason, std::int64_t code,
                               std::optional<ErrorUserInfoValue> dataObject) {
  return zel_errorWithUnderlyingError(std::nullopt, std::move(description),
                                      std::move(failureReason), code, std::move(dataObject));
}

Error zel_genericErrorWithUnderlyingError(std::optional<Error> underlyingError,
                                          std::optional<std::string> failureReason,
                                          std::int64_t code) {
  return zel_errorWithUnderlyingError(std::move(underlyingError),
                                      zel_genericErrorLocalizedDescription(),
                                      std::move(failureReason), code, std::nullopt);
}

Error zel_genericErrorWithErrorCode(std::int64_t code) {
  return zel_genericErrorWithUnderlyingError(std::nullopt, std::nullopt, code);
}

Error zel_genericErrorWithFailureReason(std::optional<std::string> failureReason,
                                        std::int64_t code) {
  return zel_genericErrorWithUnderlyingError(std::nullopt, std::move(failureReason), code);
}

Error zel_stackedGenericErrorWithUnderlyingError(std::optional<Error> underlyingError,
                                                 std::optional<std::string> fallbackFailureReason,
                                                 std::int64_t fallbackCode) {
  const std::int64_t code = underlyingError ? underlyingError->code() : fallbackCode;
  if (underlyingError && zel_isGenericError(*underlyingError)) {
    if (hasCharacters(underlyingError->localizedFailureReason())) return *underlyingError;
    return zel_genericErrorWithUnderlyingError(underlyingError->underlyingError(),
                                               std::move(fallbackFailureReason), code);
  }
  std::optional<std::string> reason = std::move(fallbackFailureReason);
  if (underlyingError) {
    auto description = underlyingError->localizedDescription();
    if (!description.empty()) reason = std::move(description);
  }
  return zel_genericErrorWithUnderlyingError(std::move(underlyingError), std::move(reason), code);
}

Error zelvoServiceErrorWithErrorCode(std::int64_t code, std::optional<std::string> message,
                                     std::optional<std::string> messageDetail,
                                     std::optional<ErrorUserInfoValue> dataObject) {
  std::optional<std::string> description;
  std::optional<std::string> reason;
  switch (code) {
    case -1009:
      description = serviceText("Connection Error");
      reason = serviceText("The Internet connection appears to be offline.");
      break;
    case -1001:
      description = serviceText("Connection Error");
      reason = serviceText("The connection has timed out.");
      break;
    case 502:
      description = serviceText("Connection Error");
      reason = serviceText("Our servers are experiencing a mild case of the hiccups.");
      break;
    default:
      description = message ? std::move(message)
                            : serviceText("Something went wrong on our end. Sorry about that.");
      reason = std::move(messageDetail);
      break;
  }
  return zel_errorWithDescription(std::move(description), std::move(reason), code,
                                  std::move(dataObject));
}

Error zelvoServiceErrorWithFailureReason(std::optional<std::string> failureReason,
                                         std::int64_t code) {
  return zel_errorWithDescription(serviceText("Error"), std::move(failureReason), code,
                                  std::nullopt);
}

Error zelvoInternalError() {
  return zelvoServiceErrorWithFailureReason(serviceText("Internal Error"), 500);
}

Error zelvoServiceValidationError() {
  return zelvoServiceErrorWithFailureReason(serviceText("Validation error"), 500);
}

Error zelvoHTTPErrorWithHTTPStatusCode(std::int64_t statusCode) {
  return Error(ZELNetworkingHTTPErrorDomainString, statusCode);
}

std::string zel_genericErrorLocalizedDescription() {
  return keyedText("generic_error", "Oops! Something went wrong");
}

bool isHTTPError(const Error& error) {
  return error.domain() == ZELNetworkingHTTPErrorDomainString;
}

std::int64_t HTTPStatusCode(const Error& error) {
  return error.code();
}

std::optional<Error> underlyingError(const Error& error) {
  return error.underlyingError();
}

bool zel_isGenericError(const Error& error) {
  return error.localizedDescription() == zel_genericErrorLocalizedDescription();
}

Error zel_errorWithUpdatedCode(const Error& error) {
  if (error.domain() != NSURLErrorDomain) return error;
  std::int64_t code = error.code();
  if (const auto underlying = error.underlyingError();
      underlying && underlying->domain() == ZELNetworkingCronetErrorDomain) {
    if (underlying->code() == -118) code = -1001;
    if (underlying->code() == -106) code = -1009;
  }
  return copyWith(error, code, error.userInfo());
}

Error zel_errorWithRemovedFailureReasonIfDistribution(const Error& error) {
  if (!hasCharacters(error.localizedFailureReason())) return error;
  ErrorUserInfo info = *error.userInfo();  // a reason implies user information
  info.erase(NSLocalizedFailureReasonErrorKey);
  return copyWith(error, error.code(), std::move(info));
}

Error zel_errorLocalizedAndContextAddedForRequest(const Error& error, const URLRequest& request) {
  ErrorUserInfo info = error.userInfo().value_or(ErrorUserInfo{});
  if (error.code() == 2) {
    info.set(NSLocalizedDescriptionKey,
             keyedText("network_error_authentication_failure_message", "Authentication failed."));
    if (request.url() && !request.url()->path().empty()) {
      // The path as the request had it, a trailing "/" included.
      std::string path = request.url()->path();
      if (request.url()->hasDirectoryPath() && path != "/") path += '/';
      info.set(ZELNetworkingAuthenticationErrorKey, std::move(path));
    }
  }
  return copyWith(error, error.code(), std::move(info));
}

std::optional<std::string> detailedLocalizedDescription(const Error& error) {
  const auto reason = error.localizedFailureReason();
  if (error.code() == 502) return reason;
  const auto description = error.localizedDescription();
  if (hasCharacters(reason) && *reason != description) return description + "\n" + *reason;
  return description;
}

}  // namespace zel
