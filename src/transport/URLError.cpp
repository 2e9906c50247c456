#include "zel/transport/URLError.h"

#include <curl/curl.h>

#include <cerrno>

namespace zel {

std::string NSURLErrorLocalizedDescription(std::int64_t code, const std::string& host) {
  switch (code) {
    case NSURLErrorCancelled:
      return "cancelled";
    case NSURLErrorBadURL:
      return "bad URL";
    case NSURLErrorTimedOut:
      return "The request timed out.";
    case NSURLErrorUnsupportedURL:
      return "unsupported URL";
    case NSURLErrorCannotFindHost:
      return "A server with the specified hostname could not be found.";
    case NSURLErrorCannotConnectToHost:
      return "Could not connect to the server.";
    case NSURLErrorNetworkConnectionLost:
      return "The network connection was lost.";
    case NSURLErrorDNSLookupFailed:
      return "A server with the specified hostname could not be found.";
    case NSURLErrorHTTPTooManyRedirects:
      return "too many HTTP redirects";
    case NSURLErrorResourceUnavailable:
      return "resource unavailable";
    case NSURLErrorNotConnectedToInternet:
      return "The Internet connection appears to be offline.";
    case NSURLErrorRedirectToNonExistentLocation:
      return "redirected to nowhere";
    case NSURLErrorBadServerResponse:
      return "The server returned a bad response.";
    case NSURLErrorZeroByteResource:
      return "zero byte resource";
    case NSURLErrorCannotDecodeRawData:
      return "cannot decode raw data";
    case NSURLErrorCannotDecodeContentData:
      return "cannot decode content data";
    case NSURLErrorCannotParseResponse:
      return "cannot parse response";
    case NSURLErrorDataLengthExceedsMaximum:
      return "resource exceeds maximum size";
    case NSURLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case NSURLErrorServerCertificateHasBadDate:
    case NSURLErrorServerCertificateUntrusted:
    case NSURLErrorServerCertificateHasUnknownRoot:
    case NSURLErrorServerCertificateNotYetValid:
      return "The certificate for this server is invalid. You might be connecting to a server "
             "that is pretending to be \u201C" +
             host + "\u201D which could put your confidential information at risk.";
    case NSURLErrorClientCertificateRejected:
      return "The server did not accept the certificate.";
    case NSURLErrorClientCertificateRequired:
      return "The server requires a client certificate.";
    case NSURLErrorCannotLoadFromNetwork:
      return "The request could not be loaded from the network.";
    default:
      return "An unknown error occurred.";
  }
}

Error makeURLError(std::int64_t code, const std::optional<std::string>& failingURL,
                   std::optional<Error> underlying, std::optional<std::string> description) {
  ErrorUserInfo info;
  info.set(NSLocalizedDescriptionKey,
           description ? *description : NSURLErrorLocalizedDescription(code));
  if (failingURL) {
    info.set(NSURLErrorFailingURLStringErrorKey, *failingURL);
    info.set(NSURLErrorFailingURLErrorKey, *failingURL);
  }
  if (underlying) info.set(NSUnderlyingErrorKey, std::move(*underlying));
  return Error(NSURLErrorDomain, code, std::move(info));
}

std::int64_t NSURLErrorCodeForCurlCode(int curlCode, long osErrno) noexcept {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
      return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return NSURLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT:
      return NSURLErrorBadURL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return NSURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? NSURLErrorNotConnectedToInternet
                                                             : NSURLErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
      return NSURLErrorTimedOut;
    case CURLE_WEIRD_SERVER_REPLY:
      return NSURLErrorCannotParseResponse;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_QUIC_CONNECT_ERROR:
      return NSURLErrorNetworkConnectionLost;
    case CURLE_BAD_CONTENT_ENCODING:
      return NSURLErrorCannotDecodeContentData;
    case CURLE_FILESIZE_EXCEEDED:
      return NSURLErrorDataLengthExceedsMaximum;
    case CURLE_TOO_MANY_REDIRECTS:
      return NSURLErrorHTTPTooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return NSURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
      return NSURLErrorSecureConnectionFailed;
    case CURLE_SSL_CERTPROBLEM:
      return NSURLErrorClientCertificateRejected;
    case CURLE_ABORTED_BY_CALLBACK:
      return NSURLErrorCancelled;
    default:
      return NSURLErrorUnknown;
  }
}

}  // namespace zel
