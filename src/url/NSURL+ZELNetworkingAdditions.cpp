#include "zel/url/NSURL+ZELNetworkingAdditions.h"

#include <algorithm>

#include "PercentEncoding.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {
namespace {

bool isASCII(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Percent-encodes text with the query-allowed set, except that a "%" starting an escape the
// caller already wrote stays: encoding it again would turn that escape into literal text.
std::string encodedKeepingEscapes(std::string_view text) {
  std::string out;
  std::size_t written = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || i + 2 >= text.size() || detail::hexDigitValue(text[i + 1]) < 0 ||
        detail::hexDigitValue(text[i + 2]) < 0) {
      continue;
    }
    detail::appendPercentEncoded(out, text.substr(written, i - written), detail::kURLQueryAllowed);
    out.push_back('%');
    written = i + 1;
  }
  detail::appendPercentEncoded(out, text.substr(written), detail::kURLQueryAllowed);
  return out;
}

}  // namespace

std::optional<std::string> domain(const URL& url) {
  const auto& host = url.host();
  if (!host) return std::nullopt;
  if (host->starts_with("www.")) return host->substr(4);
  return host;
}

std::optional<URL> URLWithScheme(std::string_view scheme, std::string_view host,
                                 std::string_view path, std::string_view query) {
  if (scheme.empty() || host.empty()) return std::nullopt;

  std::string text;
  text.reserve(scheme.size() + host.size() + path.size() + query.size() + 6);
  text.append(scheme).append("://").append(host);
  if (!path.starts_with('/')) text.push_back('/');
  text.append(path);
  if (!path.empty() && !path.ends_with('/')) text.push_back('/');
  if (!query.empty()) text.append("?").append(query);

  if (!isASCII(text)) text = encodedKeepingEscapes(text);
  return URL::URLWithString(text);
}

std::optional<URL> systemURLForPhoneNumber(std::string_view number) {
  if (number.empty()) return std::nullopt;
  const auto encoded = zel_urlEncodedString(number);
  if (!encoded) return std::nullopt;
  return URLWithScheme("tel", *encoded);
}

std::optional<URL> systemURLForEmail(std::string_view address) {
  if (address.empty()) return std::nullopt;
  std::string text = "mailto:";
  text.append(address);
  return URL::URLWithString(text);
}

std::optional<URL> adjustReferrerURLScheme(const URL& referrerURL, const URL& sourceURL) {
  const auto& host = referrerURL.host();
  const auto& sourceScheme = sourceURL.scheme();
  if (!referrerURL.scheme() || !host || !sourceScheme) return std::nullopt;

  std::string text;
  if (*sourceScheme == "http" || *sourceScheme == "https") {
    text = *sourceScheme;
  } else {
    ZELAssertionFailure("Invalid scheme for source URL = " + *sourceScheme,
                        "+[NSURL(ZELNetworkingAdditions) adjustReferrerURLScheme:ForSourceURL:]");
    text = "http";
  }
  text.append("://");
  // The host is kept as written (escapes included); an IPv6 literal needs its brackets back.
  const bool ipLiteral = host->find(':') != std::string::npos;
  if (ipLiteral) text.push_back('[');
  text.append(*host);
  if (ipLiteral) text.push_back(']');
  detail::appendPercentEncoded(text, referrerURL.path(), detail::kURLPathAllowed);
  return URL::URLWithString(text);
}

}  // namespace zel
