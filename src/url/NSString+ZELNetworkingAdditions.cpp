#include "zel/url/NSString+ZELNetworkingAdditions.h"

#include <algorithm>

#include "PercentEncoding.h"
#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

constexpr std::string_view kStringCategory = "NSString(ZELNetworkingAdditions)";

std::string methodText(std::string_view selector) {
  std::string text = "-[";
  text.append(kStringCategory).append(" ").append(selector).append("]");
  return text;
}

// The query text of a URL text, by the "?" rule documented in the header.
std::string_view queryText(std::string_view text) {
  const auto question = text.find('?');
  const auto equals = text.find('=');
  if (question != std::string_view::npos && question + 1 < text.size() &&
      (equals == std::string_view::npos || equals > question)) {
    return text.substr(question + 1);
  }
  return text;
}

// True when text starts with an RFC 3986 scheme and its ":".
bool startsWithScheme(std::string_view text, std::size_t& colon) {
  const auto isAlpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (text.empty() || !isAlpha(text[0])) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') {
      colon = i;
      return true;
    }
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

// "localhost:8080" and "zelvo.org:8080/a" name a host and a port, not a scheme.
bool isPortAfterColon(std::string_view text, std::size_t colon) {
  const auto rest = text.substr(colon + 1);
  const auto end = std::min(rest.find_first_of("/?#"), rest.size());
  if (end == 0 || end > 5) return false;
  for (std::size_t i = 0; i < end; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return false;
  }
  return true;
}

}  // namespace

const URLCharacterSet& encodedURLAllowedCharacterSet() noexcept {
  // Constant-initialized: built before any caller can see it, never changed.
  static constexpr URLCharacterSet kAllowed = URLCharacterSet::alphanumericsAnd("-._~");
  return kAllowed;
}

std::optional<std::string> zel_urlEncodedString(std::string_view text) {
  const URLCharacterSet& allowed = encodedURLAllowedCharacterSet();
  // One pass checks the UTF-8 and counts escapes, so the result is allocated once at its size.
  std::size_t escapes = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      escapes += allowed.contains(c) ? 0 : 1;
      ++i;
      continue;
    }
    const std::size_t length = detail::utf8SequenceLength(text, i);
    if (length == 0) return std::nullopt;
    escapes += length;  // non-ASCII bytes are never allowed
    i += length;
  }
  if (escapes == 0) return std::string(text);

  std::string out(text.size() + 2 * escapes, '\0');
  char* p = out.data();
  for (const char c : text) {
    if (allowed.contains(c)) {
      *p++ = c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      *p++ = '%';
      *p++ = detail::kUpperHexDigits[byte >> 4];
      *p++ = detail::kUpperHexDigits[byte & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> zel_urlDecodedString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = detail::hexDigitValue(text[i + 1]);
    const int low = detail::hexDigitValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!detail::isValidUTF8(out)) return std::nullopt;
  return out;
}

bool zel_isValidURLComponent(std::string_view text) noexcept {
  const URLCharacterSet& allowed = encodedURLAllowedCharacterSet();
  for (const char c : text) {
    if (allowed.contains(c)) return true;
  }
  return false;
}

std::optional<URLQueryParameters> zel_parametersFromQueryString(std::string_view text) {
  const std::string_view query = queryText(text);
  if (query.empty()) return std::nullopt;

  URLQueryParameters parameters;
  // The report carries the whole query, so one per query says it all; one per bad name would
  // make a long hostile query cost time and log space quadratic in its length.
  bool reportedInvalidKey = false;
  std::size_t start = 0;
  for (;;) {
    const auto ampersand = query.find('&', start);
    const auto item = query.substr(
        start, ampersand == std::string_view::npos ? std::string_view::npos : ampersand - start);
    const auto equals = item.find('=');
    auto name = zel_urlDecodedString(item.substr(0, equals));
    if (!name) {
      if (!reportedInvalidKey) {
        reportedInvalidKey = true;
        std::string message = "We tried to parse a query string with an invalid key: ";
        message.append(query);
        ZELAssertionFailure(message, methodText("zel_parametersFromQueryString"));
      }
    } else if (equals != std::string_view::npos) {
      if (auto value = zel_urlDecodedString(item.substr(equals + 1))) {
        parameters.insert_or_assign(std::move(*name), std::move(*value));
      }
    }
    if (ampersand == std::string_view::npos) break;
    start = ampersand + 1;
  }
  return parameters;
}

std::string stringByAppendingURLPathComponent(std::string_view self, std::string_view other) {
  if (!zel_isValidURLComponent(self)) {
    std::string message = "self must be valid URL component, '";
    message.append(self).append("'");
    ZELAssertionFailure(message, methodText("stringByAppendingURLPathComponent:"));
  }
  if (!zel_isValidURLComponent(other)) {
    std::string message = "other must be valid URL component, '";
    message.append(other).append("'");
    ZELAssertionFailure(message, methodText("stringByAppendingURLPathComponent:"));
  }
  std::string result;
  result.reserve(self.size() + other.size() + 2);
  result.append(self);
  if (!self.ends_with('/')) result.push_back('/');
  result.append(other).push_back('/');
  return result;
}

std::optional<std::string> validatedURLString(std::string_view text) {
  if (text.empty()) return std::nullopt;

  std::size_t colon = 0;
  const bool hasScheme = startsWithScheme(text, colon) && !isPortAfterColon(text, colon);
  std::size_t authorityStart = 0;
  if (hasScheme) {
    // Without "//" after the scheme there is no host to complete.
    if (!text.substr(colon + 1).starts_with("//")) return std::string(text);
    authorityStart = colon + 3;
  }

  // The host sits between any user information and any port of the authority.
  const auto authorityEnd = std::min(text.find_first_of("/?#", authorityStart), text.size());
  const auto authority = text.substr(authorityStart, authorityEnd - authorityStart);
  const auto at = authority.rfind('@');
  const std::size_t hostStart = authorityStart + (at == std::string_view::npos ? 0 : at + 1);
  const auto hostAndPort = text.substr(hostStart, authorityEnd - hostStart);
  const auto hostLength = std::min(hostAndPort.find(':'), hostAndPort.size());
  const auto host = hostAndPort.substr(0, hostLength);

  std::string result;
  result.reserve(text.size() + 11);
  if (!hasScheme) result.append("http://");
  // Only text without any "." is completed; a bracketed IP literal is complete as it is.
  const bool needsSuffix =
      text.find('.') == std::string_view::npos && !host.empty() && !host.starts_with('[');
  if (needsSuffix) {
    result.append(text.substr(0, hostStart + hostLength))
        .append(".com")
        .append(text.substr(hostStart + hostLength));
  } else {
    result.append(text);
  }
  return result;
}

}  // namespace zel
