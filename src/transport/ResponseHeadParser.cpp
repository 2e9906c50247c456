#include "ResponseHeadParser.h"

#include <charconv>

namespace zel::detail {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

void ResponseHeadParser::reset() {
  head_ = ResponseHead{};
  sawStatusLine_ = false;
  lastName_.clear();
}

ResponseHeadParser::Outcome ResponseHeadParser::feedLine(std::string_view line) {
  totalBytes_ += line.size();
  if (totalBytes_ > kMaxHeadBytes) return Outcome::TooLarge;

  if (line == "\r\n" || line == "\n") {
    if (!sawStatusLine_) return Outcome::Malformed;
    if (head_.statusCode >= 100 && head_.statusCode < 200) {
      reset();  // an informational head; the real one follows
      return Outcome::NeedMore;
    }
    return Outcome::HeadComplete;
  }

  if (line.starts_with("HTTP/")) {
    // "HTTP/1.1 200 OK" or "HTTP/2 200": version, then a three-digit code.
    reset();
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return Outcome::Malformed;
    head_.httpVersion = std::string(line.substr(0, space));
    const auto rest = trim(line.substr(space + 1));
    int code = 0;
    const auto [end, ec] =
        std::from_chars(rest.data(), rest.data() + std::min<std::size_t>(rest.size(), 3), code);
    if (ec != std::errc() || end != rest.data() + 3 || code < 100 || code > 999)
      return Outcome::Malformed;
    head_.statusCode = code;
    sawStatusLine_ = true;
    return Outcome::NeedMore;
  }

  if (!sawStatusLine_) return Outcome::Malformed;
  if (line.front() == ' ' || line.front() == '\t') {
    // An obsolete folded continuation of the previous field.
    if (lastName_.empty()) return Outcome::Malformed;
    auto previous = head_.headers.value(lastName_).value_or("");
    previous.append(" ").append(trim(line));
    head_.headers.set(lastName_, std::move(previous));
    return Outcome::NeedMore;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return Outcome::Malformed;
  const auto name = trim(line.substr(0, colon));
  if (head_.headers.empty()) head_.headers.reserve(12);  // typical heads need no regrowth
  head_.headers.add(name, trim(line.substr(colon + 1)));
  lastName_.assign(name);
  return Outcome::NeedMore;
}

}  // namespace zel::detail
