#include "ResponseHeadParser.h"

#include <charconv>

#include "RequestValidation.h"

namespace zel::detail {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string lowered(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return key;
}

}  // namespace

ResponseHeadParser::Outcome ResponseHeadParser::feed(std::string_view bytes) {
  while (outcome_ == Outcome::NeedMore && !bytes.empty()) {
    const auto newline = bytes.find('\n');
    const std::size_t taken = newline == std::string_view::npos ? bytes.size() : newline + 1;
    totalBytes_ += taken;
    if (totalBytes_ > kMaxHeadBytes) return outcome_ = Outcome::TooLarge;
    if (newline == std::string_view::npos) {
      partialLine_.append(bytes);
      break;
    }
    std::string_view line = bytes.substr(0, newline);
    if (!partialLine_.empty()) {
      partialLine_.append(line);
      line = partialLine_;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    outcome_ = feedLine(line);
    partialLine_.clear();
    bytes.remove_prefix(taken);
  }
  return outcome_;
}

void ResponseHeadParser::startHead() {
  sawStatusLine_ = false;
  statusCode_ = 0;
  httpVersion_.clear();
  fields_.clear();
  index_.clear();
  lastField_ = kNoField;
}

std::size_t ResponseHeadParser::fieldIndex(std::string_view name) {
  if (fields_.size() <= kLinearSearchFields) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (headerNameEquals(fields_[i].first, name)) return i;
    }
    return kNoField;
  }
  if (index_.empty()) {
    for (std::size_t i = 0; i < fields_.size(); ++i) index_.emplace(lowered(fields_[i].first), i);
  }
  const auto it = index_.find(lowered(name));
  return it == index_.end() ? kNoField : it->second;
}

ResponseHeadParser::Outcome ResponseHeadParser::feedLine(std::string_view line) {
  if (line.empty()) {
    if (!sawStatusLine_) return Outcome::Malformed;
    if (statusCode_ < 200) {
      startHead();  // an informational head; the real one follows
      return Outcome::NeedMore;
    }
    return Outcome::HeadComplete;
  }

  if (line.starts_with("HTTP/")) {
    // "HTTP/1.1 200 OK" or "HTTP/2 200": version, then a three-digit code.
    startHead();
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return Outcome::Malformed;
    const auto rest = trim(line.substr(space + 1));
    int code = 0;
    const auto [end, ec] =
        std::from_chars(rest.data(), rest.data() + std::min<std::size_t>(rest.size(), 3), code);
    const bool codeEnds = rest.size() == 3 || (rest.size() > 3 && rest[3] == ' ');
    if (ec != std::errc() || end != rest.data() + 3 || !codeEnds || code < 100) {
      return Outcome::Malformed;
    }
    httpVersion_.assign(line.substr(0, space));
    statusCode_ = code;
    sawStatusLine_ = true;
    return Outcome::NeedMore;
  }

  if (!sawStatusLine_) return Outcome::Malformed;
  if (line.front() == ' ' || line.front() == '\t') {
    // An obsolete folded continuation of the field before.
    const auto continuation = trim(line);
    if (lastField_ == kNoField || !isSafeFieldValue(continuation)) return Outcome::Malformed;
    fields_[lastField_].second.append(" ").append(continuation);
    return Outcome::NeedMore;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return Outcome::Malformed;
  const auto name = trim(line.substr(0, colon));
  const auto value = trim(line.substr(colon + 1));
  // A name is a token; a value holds no bare CR or NUL (a line break smuggled into a field).
  if (!isHTTPToken(name) || !isSafeFieldValue(value)) return Outcome::Malformed;
  if (fields_.empty()) fields_.reserve(12);  // typical heads need no regrowth
  lastField_ = fieldIndex(name);
  if (lastField_ != kNoField) {
    fields_[lastField_].second.append(", ").append(value);
  } else {
    lastField_ = fields_.size();
    fields_.emplace_back(std::string(name), std::string(value));
    if (!index_.empty()) index_.emplace(lowered(name), lastField_);
  }
  return Outcome::NeedMore;
}

ResponseHead ResponseHeadParser::takeHead() {
  ResponseHead head;
  head.statusCode = statusCode_;
  head.httpVersion = std::move(httpVersion_);
  head.headers = HTTPHeaders::fromDistinctFields(std::move(fields_));
  return head;
}

}  // namespace zel::detail
