#include "HTTPWire.h"

#include <cstdio>
#include <utility>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "zel/platform/Json.h"

namespace zel::mockserver {

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

/// Whether a comma-separated header value lists the token (case-insensitively).
bool hasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const auto comma = list.find(',');
    if (headerNameEquals(trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

std::string_view lastToken(std::string_view list) {
  const auto comma = list.rfind(',');
  return trim(comma == std::string_view::npos ? list : list.substr(comma + 1));
}

std::optional<std::size_t> parseNumber(std::string_view text, int base) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::size_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
  }
  return value;
}

std::string hex(std::size_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%zx", value);
  return text;
}

std::string_view reasonPhrase(int status) {
  static constexpr std::pair<int, std::string_view> kPhrases[] = {
      {100, "Continue"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {204, "No Content"},
      {206, "Partial Content"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {413, "Content Too Large"},
      {415, "Unsupported Media Type"},
      {422, "Unprocessable Content"},
      {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  for (const auto& [code, phrase] : kPhrases) {
    if (code == status) return phrase;
  }
  return "Unknown";
}

bool scriptHas(const MockResponse& response, std::string_view name) {
  for (const auto& field : response.headers) {
    if (headerNameEquals(field.first, name)) return true;
  }
  return false;
}

std::string echoJSON(const MockRequest& request) {
  boost::json::object headers;
  for (const auto& [name, value] : request.headers) headers[name] = value;
  boost::json::object object;
  object["method"] = request.method;
  object["target"] = request.target;
  object["path"] = request.path;
  object["query"] = request.query;
  object["headers"] = std::move(headers);
  object["body"] = request.body;
  object["connectionId"] = static_cast<std::uint64_t>(request.connectionId);
  return jsonString(boost::json::value(std::move(object)));
}

bool parseHead(std::string_view head, MockRequest& request) {
  auto lineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, lineEnd);
  const auto firstSpace = requestLine.find(' ');
  const auto secondSpace = requestLine.find(' ', firstSpace + 1);
  if (firstSpace == 0 || firstSpace == std::string_view::npos ||
      secondSpace == std::string_view::npos || secondSpace == firstSpace + 1 ||
      requestLine.find(' ', secondSpace + 1) != std::string_view::npos) {
    return false;
  }
  request.method = requestLine.substr(0, firstSpace);
  request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  request.httpVersion = requestLine.substr(secondSpace + 1);
  if (request.httpVersion != "HTTP/1.0" && request.httpVersion != "HTTP/1.1") return false;
  const auto question = request.target.find('?');
  request.path = request.target.substr(0, question);
  if (question != std::string::npos) request.query = request.target.substr(question + 1);

  while (lineEnd != std::string_view::npos) {
    head.remove_prefix(lineEnd + 2);
    lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const auto colon = line.find(':');
    // Folded continuation lines and names with whitespace are refused.
    if (colon == 0 || colon == std::string_view::npos ||
        line.substr(0, colon).find_first_of(" \t") != std::string_view::npos) {
      return false;
    }
    request.headers.add(line.substr(0, colon), trim(line.substr(colon + 1)));
  }
  return true;
}

}  // namespace zel::mockserver
