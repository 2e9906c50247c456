#include "TransferErrors.h"

#include <openssl/x509_vfy.h>

#include "SessionIO.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

Error curlError(std::int64_t code, std::string text) {
  ErrorUserInfo info;
  info.set(NSLocalizedDescriptionKey, std::move(text));
  return Error(CURLErrorDomain, code, std::move(info));
}

}  // namespace

Error multiFailure(const std::optional<std::string>& url, CURLMcode code, const char* call) {
  std::string text = std::string(call) + ": " + curl_multi_strerror(code);
  return makeURLError(NSURLErrorUnknown, url, curlError(code, text),
                      "The request could not be run: " + text);
}

std::int64_t certificateErrorCode(long verifyResult) noexcept {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return NSURLErrorServerCertificateHasBadDate;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return NSURLErrorServerCertificateNotYetValid;
    default:
      return NSURLErrorServerCertificateUntrusted;
  }
}

Error IOState::transferError(Transfer& t, CURLcode code) {
  std::optional<Error> underlying;
  if (code != CURLE_OK) {
    std::string detail = curl_easy_strerror(code);
    if (!t.errorText().empty()) detail.append(": ").append(t.errorText());
    underlying = curlError(code, std::move(detail));
  }
  std::int64_t mapped = 0;
  if (t.abortCode) {
    mapped = *t.abortCode;
  } else {
    long osErrno = 0;
    if (t.addedToMulti) curl_easy_getinfo(t.easy.get(), CURLINFO_OS_ERRNO, &osErrno);
    mapped = NSURLErrorCodeForCurlCode(code, osErrno);
    switch (code) {
      case CURLE_UNSUPPORTED_PROTOCOL:
        // Schemes are checked before a transfer starts, so here libcurl means a response it
        // cannot read as HTTP (a garbage status line is taken for refused HTTP/0.9).
        mapped = NSURLErrorCannotParseResponse;
        break;
      case CURLE_OUT_OF_MEMORY:
        // libcurl refuses a head line it will not buffer (over 100 KB) this way.
        if (!t.headDone) mapped = NSURLErrorBadServerResponse;
        break;
      case CURLE_PEER_FAILED_VERIFICATION: {
        long verifyResult = X509_V_OK;
        if (t.easy) curl_easy_getinfo(t.easy.get(), CURLINFO_SSL_VERIFYRESULT, &verifyResult);
        mapped = certificateErrorCode(verifyResult);
        break;
      }
      default:
        break;
    }
  }
  std::string description =
      t.abortReason ? *t.abortReason
                    : NSURLErrorLocalizedDescription(
                          mapped, t.request().url() ? t.request().url()->host().value_or("") : "");
  return makeURLError(mapped, std::string(t.url), std::move(underlying), std::move(description));
}

}  // namespace zel::detail
