#include "RequestValidation.h"

#include <algorithm>
#include <array>

#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

constexpr std::array<bool, 256> kTokenChars = [] {
  std::array<bool, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
  for (const char c : std::string_view("!#$%&'*+-.^_`|~"))
    table[static_cast<unsigned char>(c)] = true;
  return table;
}();

std::string inQuotes(std::string_view text) {
  return "\u201C" + std::string(text) + "\u201D";
}

}  // namespace

bool isHTTPToken(std::string_view text) noexcept {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return kTokenChars[static_cast<unsigned char>(c)];
  });
}

bool isSafeFieldValue(std::string_view value) noexcept {
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool isHTTPScheme(const std::optional<std::string>& scheme) noexcept {
  return scheme && (headerNameEquals(*scheme, "http") || headerNameEquals(*scheme, "https"));
}

bool isSessionOwnedField(std::string_view name) noexcept {
  return headerNameEquals(name, "Content-Length") || headerNameEquals(name, "Transfer-Encoding") ||
         headerNameEquals(name, "Connection") || headerNameEquals(name, "Host");
}

std::optional<std::string> urlText(const URLRequest& request) {
  if (!request.url()) return std::nullopt;
  return request.url()->absoluteString();
}

Error refusal(std::int64_t code, const URLRequest& request, std::string description) {
  return makeURLError(code, urlText(request), std::nullopt, std::move(description));
}

std::optional<std::string> configurationProblem(const URLSessionConfiguration& configuration) {
  for (const auto& [name, value] : configuration.HTTPAdditionalHeaders) {
    if (!isHTTPToken(name) || !isSafeFieldValue(value)) {
      return "The session configuration's header field " + inQuotes(name) +
             " holds a CR, LF or NUL character or an invalid name; the request was not sent.";
    }
  }
  if (!isSafeFieldValue(configuration.userAgent)) {
    return "The session configuration's user agent holds a CR, LF or NUL character; the request "
           "was not sent.";
  }
  return std::nullopt;
}

std::optional<Error> validateRequest(const URLRequest& request,
                                     const std::optional<std::string>& configurationProblem) {
  if (!request.url()) return refusal(NSURLErrorBadURL, request, "The request has no URL.");
  const auto& url = *request.url();
  if (!isHTTPScheme(url.scheme())) {
    return refusal(NSURLErrorUnsupportedURL, request,
                   "unsupported URL: only http and https URLs can be loaded.");
  }
  if (!url.host() || url.host()->empty()) {
    return refusal(NSURLErrorBadURL, request, "The request's URL has no host.");
  }
  if (!isSafeFieldValue(url.absoluteString())) {
    return refusal(NSURLErrorBadURL, request, "The request's URL holds a CR, LF or NUL character.");
  }
  const std::string& method = request.httpMethod();
  if (!isHTTPToken(method)) {
    return refusal(NSURLErrorBadURL, request,
                   "The request's HTTP method is not a valid token; it was not sent.");
  }
  if (method == "HEAD" && request.httpBody() && !request.httpBody()->empty()) {
    return refusal(NSURLErrorBadURL, request,
                   "A HEAD request cannot carry a body; the request was not sent.");
  }
  for (const auto& [name, value] : request.allHTTPHeaderFields()) {
    if (!isHTTPToken(name) || !isSafeFieldValue(value)) {
      return refusal(NSURLErrorBadURL, request,
                     "The request's header field " + inQuotes(name) +
                         " holds a CR, LF or NUL character or an invalid name; the request was "
                         "not sent.");
    }
  }
  if (configurationProblem) return refusal(NSURLErrorBadURL, request, *configurationProblem);
  return std::nullopt;
}

}  // namespace zel::detail
