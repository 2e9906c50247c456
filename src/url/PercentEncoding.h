#pragma once
// Percent-encoding and UTF-8 checks shared by the url/ units.

#include <cstddef>
#include <string>
#include <string_view>

#include "zel/url/URLCharacterSet.h"

namespace zel::detail {

inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

/// The characters a query may hold unescaped: letters, digits and !$&'()*+,-./:;=?@_~
inline constexpr URLCharacterSet kURLQueryAllowed =
    URLCharacterSet::alphanumericsAnd("!$&'()*+,-./:;=?@_~");
/// The characters a path may hold unescaped: letters, digits and !$&'()*+,-./:=@_~
inline constexpr URLCharacterSet kURLPathAllowed =
    URLCharacterSet::alphanumericsAnd("!$&'()*+,-./:=@_~");

/// The value of a hexadecimal digit (either case), or -1.
[[nodiscard]] constexpr int hexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// The length of the well-formed UTF-8 sequence that starts text[pos] (a non-ASCII lead byte);
/// 0 when it is ill-formed: truncated, overlong, a surrogate, or beyond U+10FFFF.
[[nodiscard]] std::size_t utf8SequenceLength(std::string_view text, std::size_t pos) noexcept;

[[nodiscard]] bool isValidUTF8(std::string_view text) noexcept;

/// Appends text with every byte outside allowed written as "%XX" (uppercase hexadecimal).
/// Byte by byte, so any bytes survive a round trip.
void appendPercentEncoded(std::string& out, std::string_view text, const URLCharacterSet& allowed);

[[nodiscard]] inline std::string percentEncoded(std::string_view text,
                                                const URLCharacterSet& allowed) {
  std::string out;
  appendPercentEncoded(out, text, allowed);
  return out;
}

}  // namespace zel::detail
