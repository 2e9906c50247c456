#include "RedirectProposal.h"

#include "RequestValidation.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

int effectivePort(const URL& url) noexcept {
  if (const auto port = url.port()) return *port;
  return url.scheme() && headerNameEquals(*url.scheme(), "https") ? 443 : 80;
}

}  // namespace

bool isRedirectStatus(int status) noexcept {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isSameOrigin(const URL& a, const URL& b) noexcept {
  return a.scheme() && b.scheme() && headerNameEquals(*a.scheme(), *b.scheme()) &&
         headerNameEquals(a.host().value_or(""), b.host().value_or("")) &&
         effectivePort(a) == effectivePort(b);
}

std::variant<URLRequest, Error> proposeRedirect(const URLRequest& request,
                                                const HTTPURLResponse& response, std::size_t hops) {
  const auto location = response.valueForHTTPHeaderField("Location").value_or("");
  const auto target = request.url() ? URL::URLWithString(location, *request.url()) : std::nullopt;
  if (!target) {
    return refusal(
        NSURLErrorRedirectToNonExistentLocation, request,
        "redirected to nowhere: the Location \u201C" + location + "\u201D is not a valid URL.");
  }
  if (!isHTTPScheme(target->scheme())) {
    return makeURLError(NSURLErrorUnsupportedURL, target->absoluteString());
  }
  if (hops >= kMaxRedirects) return makeURLError(NSURLErrorHTTPTooManyRedirects, urlText(request));

  URLRequest proposed = request;
  proposed.setURL(*target);
  const int status = response.statusCode();
  const std::string& method = request.httpMethod();
  if ((status == 303 && method != "HEAD") ||
      ((status == 301 || status == 302) && method == "POST")) {
    proposed.setHTTPMethod("GET");
    proposed.setHTTPBody(std::nullopt);
    for (const char* field : {"Content-Type", "Content-Length", "Content-Encoding"}) {
      proposed.setValue(std::nullopt, field);
    }
  }
  if (!isSameOrigin(*request.url(), *target)) {
    for (const char* field : {"Authorization", "Cookie", "Proxy-Authorization"}) {
      proposed.setValue(std::nullopt, field);
    }
  }
  return proposed;
}

}  // namespace zel::detail
