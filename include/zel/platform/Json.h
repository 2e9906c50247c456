#pragma once
// Thin helpers over Boost.JSON that behave like the platform's JSON reader and writer.
//
// Reading never throws: malformed text, invalid UTF-8 and nesting deeper than kJSONMaxDepth
// become an Error in "NSCocoaErrorDomain" with code 3840 and a debug text under
// NSDebugDescriptionErrorKey. JSON null stays distinct from a missing member.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

#include "zel/platform/Data.h"
#include "zel/platform/Result.h"

namespace zel {

/// The deepest nesting of arrays and objects the reader accepts.
inline constexpr std::size_t kJSONMaxDepth = 512;

struct JSONReadingOptions {
  /// Accept a top-level value that is neither an object nor an array.
  bool allowFragments = false;
};

/// Parses one JSON text. Trailing non-whitespace, comments and trailing commas are refused.
Result<boost::json::value> jsonObjectWithData(std::string_view text,
                                              JSONReadingOptions options = {});
Result<boost::json::value> jsonObjectWithData(const Data& data, JSONReadingOptions options = {});

/// Serializes compactly (no insignificant whitespace).
[[nodiscard]] std::string jsonString(const boost::json::value& value);
[[nodiscard]] Data jsonData(const boost::json::value& value);

/// A number read as a signed integer: integers as they are, doubles truncated toward zero
/// (clamped to the int64 range), true/false as 1/0. Absent for every other kind.
[[nodiscard]] std::optional<std::int64_t> jsonInt64(const boost::json::value& value) noexcept;
/// A number read as a double, true/false as 1/0. Absent for every other kind.
[[nodiscard]] std::optional<double> jsonDouble(const boost::json::value& value) noexcept;
/// True for numbers and booleans, the values the platform reader yields as numbers.
[[nodiscard]] bool jsonIsNumber(const boost::json::value& value) noexcept;

}  // namespace zel
