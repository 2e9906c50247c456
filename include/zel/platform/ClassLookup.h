#pragma once
// Class lookup by name: the application registers its types under the names the library asks
// for, and the library finds them again by name.
//
//   zel::registerClass("ZELMultipartFormData", typeid(zel::ZELMultipartFormData));
//   if (zel::isKindOfClassNamed(*body, "ZELMultipartFormData")) { /* ... */ }
//
// The registry is process-wide and may be used from any thread.

#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>

namespace zel {

/// Registers type under name, replacing an earlier registration of that name.
void registerClass(std::string name, std::type_index type);

/// The type registered under name, or absent.
[[nodiscard]] std::optional<std::type_index> classFromString(std::string_view name);

/// True when the dynamic type of object (typeid, so the most derived type of a polymorphic
/// object) is exactly the type registered under name; false when nothing is registered there.
template <class T>
[[nodiscard]] bool isKindOfClassNamed(const T& object, std::string_view name) {
  const auto type = classFromString(name);
  return type && *type == std::type_index(typeid(object));
}

}  // namespace zel
