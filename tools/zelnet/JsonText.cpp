#include "JsonText.h"

#include <type_traits>

#include <boost/json/serialize.hpp>

namespace zelnet {
namespace {

void write(const boost::json::value& value, std::string& out, int depth) {
  const auto newline = [&](int level) {
    out += '\n';
    out.append(static_cast<std::size_t>(level) * 2, ' ');
  };
  if (value.is_object() && !value.get_object().empty()) {
    out += '{';
    bool first = true;
    for (const auto& member : value.get_object()) {
      if (!first) out += ',';
      first = false;
      newline(depth + 1);
      out += boost::json::serialize(boost::json::value(member.key())) + ": ";
      write(member.value(), out, depth + 1);
    }
    newline(depth);
    out += '}';
  } else if (value.is_array() && !value.get_array().empty()) {
    out += '[';
    bool first = true;
    for (const auto& element : value.get_array()) {
      if (!first) out += ',';
      first = false;
      newline(depth + 1);
      write(element, out, depth + 1);
    }
    newline(depth);
    out += ']';
  } else {
    out += boost::json::serialize(value);
  }
}

}  // namespace

std::string prettyJSON(const boost::json::value& value) {
  std::string out;
  write(value, out, 0);
  return out;
}

boost::json::object userInfoAsText(const zel::Error& error) {
  boost::json::object info;
  if (!error.userInfo()) return info;
  for (const auto& [key, value] : *error.userInfo()) {
    info[key] = std::visit(
        [](const auto& held) -> std::string {
          using T = std::decay_t<decltype(held)>;
          if constexpr (std::is_same_v<T, std::string>) {
            return held;
          } else if constexpr (std::is_same_v<T, bool>) {
            return held ? "true" : "false";
          } else if constexpr (std::is_same_v<T, boost::json::value>) {
            return boost::json::serialize(held);
          } else if constexpr (std::is_same_v<T, zel::Error>) {
            return held.description();
          } else {
            return std::to_string(held);
          }
        },
        value);
  }
  return info;
}

}  // namespace zelnet
