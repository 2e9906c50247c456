#include "zel/platform/Json.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parser.hpp>
#include <boost/json/serialize.hpp>

namespace zel {
namespace {

Error readerError(std::string debugText) {
  ErrorUserInfo info;
  info.set(NSDebugDescriptionErrorKey, std::move(debugText));
  return Error(NSCocoaErrorDomain, NSPropertyListReadCorruptError, std::move(info));
}

}  // namespace

Result<boost::json::value> jsonObjectWithData(std::string_view text, JSONReadingOptions options) {
  boost::json::parse_options parseOptions;
  parseOptions.max_depth = kJSONMaxDepth;
  parseOptions.allow_invalid_utf8 = false;
  // The parser's working stack lives here for usual documents, so parsing one allocates only
  // for the value it builds.
  unsigned char workingStack[2048];
  boost::json::parser parser(boost::json::storage_ptr(), parseOptions, workingStack,
                             sizeof workingStack);

  boost::system::error_code ec;
  parser.write(text.data(), text.size(), ec);
  if (ec) {
    return readerError("Invalid JSON: " + ec.message());
  }
  boost::json::value value = parser.release();
  if (!options.allowFragments && !value.is_object() && !value.is_array()) {
    return readerError(
        "JSON text did not start with array or object and option to allow "
        "fragments not set.");
  }
  return value;
}

Result<boost::json::value> jsonObjectWithData(const Data& data, JSONReadingOptions options) {
  return jsonObjectWithData(data.stringView(), options);
}

namespace {

void writeString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out.push_back(kHex[(c >> 4) & 0xF]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

template <class Number>
void writeNumber(std::string& out, Number number) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
  out.append(buffer, ec == std::errc() ? end : buffer);
}

void write(std::string& out, const boost::json::value& value) {
  switch (value.kind()) {
    case boost::json::kind::null:
      out += "null";
      break;
    case boost::json::kind::bool_:
      out += value.get_bool() ? "true" : "false";
      break;
    case boost::json::kind::int64:
      writeNumber(out, value.get_int64());
      break;
    case boost::json::kind::uint64:
      writeNumber(out, value.get_uint64());
      break;
    case boost::json::kind::double_:
      // Shortest text that reads back as the same double ("1.5", "2", "0.1"); JSON has no
      // infinities or NaN, so those are written as null.
      if (std::isfinite(value.get_double())) {
        writeNumber(out, value.get_double());
      } else {
        out += "null";
      }
      break;
    case boost::json::kind::string:
      writeString(out, value.get_string());
      break;
    case boost::json::kind::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& element : value.get_array()) {
        if (!first) out.push_back(',');
        first = false;
        write(out, element);
      }
      out.push_back(']');
      break;
    }
    case boost::json::kind::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& member : value.get_object()) {
        if (!first) out.push_back(',');
        first = false;
        writeString(out, member.key());
        out.push_back(':');
        write(out, member.value());
      }
      out.push_back('}');
      break;
    }
  }
}

}  // namespace

std::string jsonString(const boost::json::value& value) {
  std::string out;
  write(out, value);
  return out;
}

Data jsonData(const boost::json::value& value) {
  return Data(jsonString(value));
}

std::optional<std::int64_t> jsonInt64(const boost::json::value& value) noexcept {
  switch (value.kind()) {
    case boost::json::kind::int64:
      return value.get_int64();
    case boost::json::kind::uint64: {
      const auto u = value.get_uint64();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::numeric_limits<std::int64_t>::max();
      }
      return static_cast<std::int64_t>(u);
    }
    case boost::json::kind::double_: {
      const double d = value.get_double();
      if (std::isnan(d)) return 0;
      if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
      if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
      return static_cast<std::int64_t>(d);
    }
    case boost::json::kind::bool_:
      return value.get_bool() ? 1 : 0;
    default:
      return std::nullopt;
  }
}

std::optional<double> jsonDouble(const boost::json::value& value) noexcept {
  switch (value.kind()) {
    case boost::json::kind::int64:
      return static_cast<double>(value.get_int64());
    case boost::json::kind::uint64:
      return static_cast<double>(value.get_uint64());
    case boost::json::kind::double_:
      return value.get_double();
    case boost::json::kind::bool_:
      return value.get_bool() ? 1.0 : 0.0;
    default:
      return std::nullopt;
  }
}

bool jsonIsNumber(const boost::json::value& value) noexcept {
  return value.is_number() || value.is_bool();
}

}  // namespace zel
