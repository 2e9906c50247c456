#include "zel/platform/URLResponse.h"

#include <charconv>
#include <utility>

namespace zel {
namespace {

constexpr std::string_view kWhitespace = " \t";

std::string_view trimmed(std::string_view text) noexcept {
  const auto first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

std::string lowercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

struct ContentType {
  std::optional<std::string> mimeType;
  std::optional<std::string> charset;
};

// "Text/HTML; charset=\"UTF-8\"" gives "text/html" and "UTF-8".
ContentType parseContentType(const std::string* header) {
  ContentType result;
  if (header == nullptr) return result;
  const std::string_view text = *header;
  auto separator = text.find(';');
  const auto type = trimmed(text.substr(0, separator));
  if (!type.empty()) result.mimeType = lowercased(type);
  while (separator != std::string_view::npos) {
    const auto start = separator + 1;
    separator = text.find(';', start);
    const auto parameter = text.substr(
        start, separator == std::string_view::npos ? std::string_view::npos : separator - start);
    const auto equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    if (lowercased(trimmed(parameter.substr(0, equals))) != "charset") continue;
    auto value = trimmed(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (!value.empty()) result.charset = std::string(value);
    break;
  }
  return result;
}

std::int64_t parseContentLength(const std::string* header) noexcept {
  if (header == nullptr) return URLResponse::kUnknownLength;
  const auto digits = trimmed(*header);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return URLResponse::kUnknownLength;
  }
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return URLResponse::kUnknownLength;
  return value;
}

}  // namespace

URLResponse::URLResponse(std::optional<zel::URL> url, std::optional<std::string> mimeType,
                         std::int64_t expectedContentLength,
                         std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(mimeType)),
      expectedContentLength_(expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

URLResponse::~URLResponse() = default;

struct HTTPURLResponse::HeadFacts {
  ContentType contentType;
  std::int64_t contentLength;
};

HTTPURLResponse::HTTPURLResponse(zel::URL url, int statusCode, std::string httpVersion,
                                 HTTPHeaders headers)
    : HTTPURLResponse(std::move(url), statusCode, std::move(httpVersion), std::move(headers),
                      HeadFacts{parseContentType(headers.find("Content-Type")),
                                parseContentLength(headers.find("Content-Length"))}) {}

// The facts are read from the headers before they are moved into the response.
HTTPURLResponse::HTTPURLResponse(zel::URL url, int statusCode, std::string httpVersion,
                                 HTTPHeaders&& headers, HeadFacts facts)
    : URLResponse(std::move(url), std::move(facts.contentType.mimeType), facts.contentLength,
                  std::move(facts.contentType.charset)),
      statusCode_(statusCode),
      httpVersion_(std::move(httpVersion)),
      headers_(std::move(headers)) {}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
  return headers_.value(field);
}

std::string HTTPURLResponse::localizedStringForStatusCode(int statusCode) {
  switch (statusCode) {
    case 200:
      return "no error";
    case 201:
      return "created";
    case 204:
      return "no content";
    case 301:
      return "moved permanently";
    case 302:
      return "found";
    case 304:
      return "not modified";
    case 400:
      return "bad request";
    case 401:
      return "unauthorized";
    case 403:
      return "forbidden";
    case 404:
      return "not found";
    case 408:
      return "request timed out";
    case 429:
      return "too many requests";
    case 500:
      return "internal server error";
    case 502:
      return "bad gateway";
    case 503:
      return "service unavailable";
    case 504:
      return "gateway timed out";
    default:
      break;
  }
  if (statusCode < 200) return "informational";
  if (statusCode < 300) return "success";
  if (statusCode < 400) return "redirected";
  if (statusCode < 500) return "client error";
  return "server error";
}

}  // namespace zel
