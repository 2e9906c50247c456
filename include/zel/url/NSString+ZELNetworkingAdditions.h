#pragma once
// Text helpers for URLs: one percent-encoding rule for every parameter name and value the library
// puts into a URL or a signed string, query-string parsing, path joining and completion of bare
// host names into URL strings.
//
//   zel_urlEncodedString("a b/c~d");                 // "a%20b%2Fc~d"
//   zel_urlDecodedString("x%41");                    // "xA"
//   zel_parametersFromQueryString("/p?b=2&a=1");     // {a: "1", b: "2"}
//   stringByAppendingURLPathComponent("api", "me");  // "api/me/"
//   validatedURLString("zelvo");                     // "http://zelvo.com"
//
// Strings are UTF-8. Every function may be called from any thread.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "zel/url/URLCharacterSet.h"

namespace zel {

/// Decoded query parameters, name → value. A query string carries no meaningful order, so the
/// map is sorted by name: two queries with the same parameters in any order compare equal.
using URLQueryParameters = std::map<std::string, std::string, std::less<>>;

/// The characters that zel_urlEncodedString leaves as they are: exactly the 66 unreserved
/// characters of RFC 3986 (A–Z, a–z, 0–9, "-", ".", "_", "~"). Shared and immutable.
[[nodiscard]] const URLCharacterSet& encodedURLAllowedCharacterSet() noexcept;

/// The text with every byte outside encodedURLAllowedCharacterSet() written as "%" and two
/// uppercase hexadecimal digits: a space becomes "%20" (never "+"), "/" "%2F", "+" "%2B",
/// "é" "%C3%A9"; "~" stays. Absent when the text is not valid UTF-8.
[[nodiscard]] std::optional<std::string> zel_urlEncodedString(std::string_view text);

/// The text with each "%" and two hexadecimal digits replaced by that byte; "+" stays "+".
/// Absent when a "%" is not followed by two hexadecimal digits or the result is not valid UTF-8.
[[nodiscard]] std::optional<std::string> zel_urlDecodedString(std::string_view text);

/// True when the text holds at least one character of encodedURLAllowedCharacterSet(): false
/// for "" and "/", true for "/a".
[[nodiscard]] bool zel_isValidURLComponent(std::string_view text) noexcept;

/// The parameters of a query string, or of the query of a URL text.
///
/// The text after the first "?" is parsed when that "?" is not the last character and no "="
/// comes before it; otherwise the whole text is ("a=1?b=2" gives {a: "1?b=2"}). Items are
/// separated by "&" and split at their first "="; names and values are percent-decoded.
/// Skipped: items without "=" and items whose value does not decode; items whose name does not
/// decode are skipped with one report per call, "We tried to parse a query string with an
/// invalid key: <query text>". The last of repeated names wins; empty names and values are kept.
///
/// Absent for an empty query text; otherwise a map, possibly empty ("x" gives {}).
[[nodiscard]] std::optional<URLQueryParameters> zel_parametersFromQueryString(
    std::string_view text);

/// self + "/" + other + "/", with no second slash when self already ends in one:
/// ("api", "users") and ("api/", "users") both give "api/users/". Neither side is encoded and a
/// leading slash of other stays. A side that fails zel_isValidURLComponent is reported
/// ("self must be valid URL component, '<self>'", "other must be valid URL component,
/// '<other>'") and joined all the same.
[[nodiscard]] std::string stringByAppendingURLPathComponent(std::string_view self,
                                                            std::string_view other);

/// Completes a web address typed by a person into a URL string: text without any "." gets
/// ".com" after its host, and text without a scheme gets "http://". "zelvo" →
/// "http://zelvo.com", "localhost:8080/a" → "http://localhost.com:8080/a", "zelvo/a.b" →
/// "http://zelvo/a.b", "https://zelvo.org" unchanged. A "name:digits" prefix is a host and
/// port, not a scheme. Text after a scheme without "//" ("mailto:…") has no host and is left
/// as it is.
/// Absent for empty text; no other check is made, so the result may still not parse as a URL.
[[nodiscard]] std::optional<std::string> validatedURLString(std::string_view text);

}  // namespace zel
