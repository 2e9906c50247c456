#pragma once
// The extension of a URL path, as the reporting records read it.

#include <string>
#include <string_view>

namespace zel::detail {

/// The text after the last "." of the last path component; empty when there is none or when the
/// only dot starts the component (".profile").
[[nodiscard]] inline std::string pathExtension(std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view component = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  const auto dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return std::string(component.substr(dot + 1));
}

}  // namespace zel::detail
