#include "zel/foundation/ZELAPIResponseLinkHeader.h"

#include <algorithm>
#include <cstring>

namespace zel {
namespace {

char lowerASCII(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerASCII(x) == lowerASCII(y);
         });
}

bool isOWS(char c) noexcept {
  return c == ' ' || c == '\t';
}

bool isTokenChar(char c) noexcept {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Unquoted values also take "/" so that media types (type=text/html) read as servers send them.
bool isUnquotedValueChar(char c) noexcept {
  return isTokenChar(c) || c == '/';
}

std::vector<std::string> splitRelations(std::string_view value) {
  std::vector<std::string> relations;
  std::size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && isOWS(value[i])) ++i;
    const std::size_t start = i;
    while (i < value.size() && !isOWS(value[i])) ++i;
    if (i > start) relations.emplace_back(value.substr(start, i - start));
  }
  return relations;
}

// A single-pass reader of the field value; every method returns false on malformed input.
class LinkParser {
 public:
  explicit LinkParser(std::string_view text) : text_(text) {}

  bool parse(std::vector<ZELAPIResponseLinkHeader::Link>& links) {
    while (true) {
      // Empty list elements (", ,") are allowed by the list syntax and skipped.
      skipWhitespace();
      if (atEnd()) return true;
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      ZELAPIResponseLinkHeader::Link link;
      if (!parseLink(link)) return false;
      links.push_back(std::move(link));
    }
  }

 private:
  bool atEnd() const noexcept { return pos_ >= text_.size(); }
  char peek() const noexcept { return text_[pos_]; }
  void skipWhitespace() noexcept {
    while (!atEnd() && isOWS(peek())) ++pos_;
  }

  bool parseLink(ZELAPIResponseLinkHeader::Link& link) {
    if (peek() != '<') return false;
    const std::size_t close = text_.find('>', pos_ + 1);
    if (close == std::string_view::npos) return false;
    link.uri = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
    pos_ = close + 1;

    bool sawRel = false;
    while (true) {
      skipWhitespace();
      if (atEnd()) return true;
      if (peek() == ',') {
        ++pos_;
        return true;
      }
      if (peek() != ';') return false;
      ++pos_;
      skipWhitespace();
      // A stray ";" (before another ";", a "," or the end) carries no parameter.
      if (atEnd() || peek() == ';' || peek() == ',') continue;

      std::string name;
      std::string value;
      if (!parseParameter(name, value)) return false;
      if (name == "rel" && !sawRel) {
        // Only the first "rel" counts; later ones are kept as plain parameters.
        sawRel = true;
        link.relations = splitRelations(value);
      }
      link.parameters.emplace_back(std::move(name), std::move(value));
    }
  }

  bool parseParameter(std::string& name, std::string& value) {
    const std::size_t start = pos_;
    while (!atEnd() && isTokenChar(peek())) ++pos_;
    if (pos_ == start) return false;
    name.reserve(pos_ - start);
    for (char c : text_.substr(start, pos_ - start)) name.push_back(lowerASCII(c));

    skipWhitespace();
    if (atEnd() || peek() != '=') return true;  // a parameter without a value
    ++pos_;
    skipWhitespace();
    if (atEnd()) return false;
    if (peek() == '"') return parseQuotedString(value);

    const std::size_t valueStart = pos_;
    while (!atEnd() && isUnquotedValueChar(peek())) ++pos_;
    if (pos_ == valueStart) return false;
    value = std::string(text_.substr(valueStart, pos_ - valueStart));
    return true;
  }

  bool parseQuotedString(std::string& value) {
    ++pos_;  // the opening quote
    while (!atEnd()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (c == '\\') {
        if (atEnd()) return false;
        value.push_back(text_[pos_++]);
      } else {
        value.push_back(c);
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<ZELAPIResponseLinkHeader> ZELAPIResponseLinkHeader::initWithHeaderFields(
    const HTTPHeaders& fields) {
  const std::string* value = fields.find("Link");
  if (value == nullptr) return std::nullopt;
  return initWithFieldValue(*value);
}

std::optional<ZELAPIResponseLinkHeader> ZELAPIResponseLinkHeader::initWithFieldValue(
    std::string_view value) {
  std::vector<Link> links;
  LinkParser parser(value);
  if (!parser.parse(links) || links.empty()) return std::nullopt;
  return ZELAPIResponseLinkHeader(std::move(links));
}

std::optional<ZELAPIResponseLinkHeader::Link> ZELAPIResponseLinkHeader::linkForRelation(
    std::string_view rel) const {
  for (const auto& link : links_) {
    for (const auto& relation : link.relations) {
      if (equalsIgnoringASCIICase(relation, rel)) return link;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ZELAPIResponseLinkHeader::prevURI() const {
  for (const auto& link : links_) {
    for (const auto& relation : link.relations) {
      if (equalsIgnoringASCIICase(relation, "prev") ||
          equalsIgnoringASCIICase(relation, "previous")) {
        return link.uri;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> ZELAPIResponseLinkHeader::uriForRelation(std::string_view rel) const {
  if (auto link = linkForRelation(rel)) return std::move(link->uri);
  return std::nullopt;
}

}  // namespace zel
