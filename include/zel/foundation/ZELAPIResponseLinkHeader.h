#pragma once
// ZELAPIResponseLinkHeader — the links of a response's `Link` header field (RFC 8288).
//
// The field value is a comma-separated list of links, each a URI reference in angle brackets
// followed by ";"-separated parameters:
//
//   Link: <https://api.example.com/items?page=3>; rel="next",
//         <https://api.example.com/items?page=9>; rel="last"
//
// Parsing never fails loudly: a missing, empty or malformed field gives an absent header, so a
// caller treats "cannot read the links" like "there are no links".

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/platform/HTTPHeaders.h"

namespace zel {

class ZELAPIResponseLinkHeader {
 public:
  struct Link {
    /// The target, exactly as written between "<" and ">" (not resolved).
    std::string uri;
    /// The space-separated values of the first "rel" parameter, as written.
    std::vector<std::string> relations;
    /// Every parameter in order, "rel" included: names lowercased, quoted values unquoted with
    /// their backslash escapes resolved; a parameter without "=" has an empty value.
    std::vector<std::pair<std::string, std::string>> parameters;

    friend bool operator==(const Link&, const Link&) = default;
  };

  /// The links of the `Link` field (name matched case-insensitively). Absent when the field is
  /// missing, holds no link, or is malformed (for example an unterminated "<" or quoted string,
  /// a link not starting with "<", a parameter without a name or with an empty value).
  [[nodiscard]] static std::optional<ZELAPIResponseLinkHeader> initWithHeaderFields(
      const HTTPHeaders& fields);

  /// The same, from a field value on its own.
  [[nodiscard]] static std::optional<ZELAPIResponseLinkHeader> initWithFieldValue(
      std::string_view value);

  /// The links in the order they appear; never empty.
  [[nodiscard]] const std::vector<Link>& links() const noexcept { return links_; }

  /// The first link one of whose relation types equals rel (ASCII case-insensitive), or absent.
  [[nodiscard]] std::optional<Link> linkForRelation(std::string_view rel) const;

  /// The URI of the first "next" / "prev" / "first" / "last" link, or absent. prevURI() also
  /// accepts "previous", the older spelling of "prev".
  [[nodiscard]] std::optional<std::string> nextURI() const { return uriForRelation("next"); }
  [[nodiscard]] std::optional<std::string> prevURI() const;
  [[nodiscard]] std::optional<std::string> firstURI() const { return uriForRelation("first"); }
  [[nodiscard]] std::optional<std::string> lastURI() const { return uriForRelation("last"); }

 private:
  explicit ZELAPIResponseLinkHeader(std::vector<Link> links) : links_(std::move(links)) {}
  [[nodiscard]] std::optional<std::string> uriForRelation(std::string_view rel) const;

  std::vector<Link> links_;
};

}  // namespace zel
