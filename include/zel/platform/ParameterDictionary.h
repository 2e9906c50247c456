#pragma once
// zel::ParameterDictionary — request parameters: string names mapped to small values, kept in
// insertion order.
//
//   zel::ParameterDictionary params{{"q", "a b"}, {"limit", 20}, {"exact", true}};
//   params.set("page", 2);
//   for (const auto& [name, value] : params) send(name, value.description());
//
// A value is sent by its textual description: a string as itself, an integer in decimal, a
// double with up to 16 significant digits, a boolean as 1 or 0, null as "<null>", bytes as
// "{length = N, bytes = 0x…}" and JSON as its compact text. Setting an existing name replaces
// its value in place; the last of two equal names in an initializer list wins.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <boost/json/value.hpp>

#include "zel/platform/Data.h"

namespace zel {

class ParameterValue {
 public:
  using Storage = std::variant<std::nullptr_t, std::string, std::int64_t, std::uint64_t, double,
                               bool, Data, boost::json::value>;

  ParameterValue() noexcept : storage_(nullptr) {}
  ParameterValue(std::nullptr_t) noexcept : storage_(nullptr) {}
  ParameterValue(const char* text) : storage_(std::string(text ? text : "")) {}
  ParameterValue(std::string text) : storage_(std::move(text)) {}
  ParameterValue(std::string_view text) : storage_(std::string(text)) {}
  /// Only a real bool: pointers and plain enumerations do not turn into one.
  template <class B>
  requires std::same_as<B, bool> ParameterValue(B flag)
  noexcept : storage_(flag) {}
  /// Integers in decimal; characters are text and must be given as strings.
  template <std::integral I>
  requires(!std::same_as<I, bool> && !std::same_as<I, char> && !std::same_as<I, wchar_t> &&
           !std::same_as<I, char8_t> && !std::same_as<I, char16_t> && !std::same_as<I, char32_t>)
      ParameterValue(I number)
  noexcept : storage_(storedInteger(number)) {}
  template <std::floating_point F>
  ParameterValue(F number) noexcept : storage_(static_cast<double>(number)) {}
  ParameterValue(Data bytes) noexcept : storage_(std::move(bytes)) {}
  /// A JSON value (an object or array for a JSON body, say). Named to keep the implicit
  /// conversions of boost::json::value out of overload resolution.
  [[nodiscard]] static ParameterValue json(boost::json::value value) {
    ParameterValue result;
    result.storage_ = std::move(value);
    return result;
  }

  [[nodiscard]] const Storage& storage() const noexcept { return storage_; }
  [[nodiscard]] bool isNull() const noexcept {
    return std::holds_alternative<std::nullptr_t>(storage_);
  }
  /// The string, when the value is one.
  [[nodiscard]] const std::string* string() const noexcept {
    return std::get_if<std::string>(&storage_);
  }

  /// The text by which the value is sent.
  [[nodiscard]] std::string description() const;
  /// The value as JSON: strings, numbers, booleans, null and JSON as themselves; bytes (which
  /// JSON cannot carry) as absent.
  [[nodiscard]] std::optional<boost::json::value> jsonValue() const;

  friend bool operator==(const ParameterValue&, const ParameterValue&) = default;

 private:
  // Signed unless the value only fits unsigned.
  template <class I>
  static Storage storedInteger(I number) noexcept {
    if constexpr (std::is_unsigned_v<I>) {
      if (number > static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::uint64_t>(number);
    }
    return static_cast<std::int64_t>(number);
  }

  Storage storage_;
};

class ParameterDictionary {
 public:
  using Entry = std::pair<std::string, ParameterValue>;
  using const_iterator = std::vector<Entry>::const_iterator;

  ParameterDictionary() = default;
  ParameterDictionary(std::initializer_list<Entry> entries);

  /// Sets the value of name: in place when present, appended otherwise.
  void set(std::string_view name, ParameterValue value);
  /// Removes name; true when it was present.
  bool erase(std::string_view name);
  /// The value of name, or nullptr.
  [[nodiscard]] const ParameterValue* find(std::string_view name) const noexcept;
  [[nodiscard]] bool contains(std::string_view name) const noexcept {
    return find(name) != nullptr;
  }

  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
  [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }
  void reserve(std::size_t count) { entries_.reserve(count); }
  [[nodiscard]] const_iterator begin() const noexcept { return entries_.begin(); }
  [[nodiscard]] const_iterator end() const noexcept { return entries_.end(); }

  /// Equal entries in the same order.
  friend bool operator==(const ParameterDictionary&, const ParameterDictionary&) = default;

 private:
  std::vector<Entry> entries_;
};

}  // namespace zel
