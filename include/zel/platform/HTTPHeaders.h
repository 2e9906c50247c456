#pragma once
// zel::HTTPHeaders — HTTP header fields in insertion order, names matched case-insensitively.
//
// Setting a field replaces an existing one whatever the case of its name (the first spelling
// stays); adding appends to the existing value with ", ", the way the platform joins fields.
//
// A value: copies share their fields until one of them changes (a request or a response is
// copied several times on its way through the session and the client; those copies allocate
// nothing). Copies may be read and changed on different threads, as separate values can.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zel {

/// ASCII case-insensitive equality of header names.
[[nodiscard]] bool headerNameEquals(std::string_view a, std::string_view b) noexcept;

class HTTPHeaders {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaders() = default;
  HTTPHeaders(std::initializer_list<Field> fields);
  HTTPHeaders(const HTTPHeaders& other) noexcept;
  HTTPHeaders(HTTPHeaders&& other) noexcept = default;
  HTTPHeaders& operator=(const HTTPHeaders& other) noexcept;
  HTTPHeaders& operator=(HTTPHeaders&& other) noexcept;
  ~HTTPHeaders();
  /// Takes fields whose names are already distinct (compared case-insensitively), in order,
  /// without checking them again: for parsers that joined repeated fields themselves.
  [[nodiscard]] static HTTPHeaders fromDistinctFields(std::vector<Field> fields) noexcept;

  /// The value of the field, or absent.
  [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
  [[nodiscard]] const std::string* find(std::string_view name) const noexcept;
  [[nodiscard]] bool contains(std::string_view name) const noexcept {
    return find(name) != nullptr;
  }

  /// Sets the field, replacing any field of that name; an absent value removes it.
  void set(std::string_view name, std::optional<std::string> value);
  /// Appends to the field's value with ", ", or adds the field.
  void add(std::string_view name, std::string_view value);
  /// Removes the field; returns whether it was present.
  bool erase(std::string_view name);
  /// Makes room for this many fields.
  void reserve(std::size_t count) { mutableFields().reserve(count); }

  [[nodiscard]] std::size_t size() const noexcept { return fields().size(); }
  [[nodiscard]] bool empty() const noexcept { return fields().empty(); }
  [[nodiscard]] auto begin() const noexcept { return fields().begin(); }
  [[nodiscard]] auto end() const noexcept { return fields().end(); }

  /// Same fields in the same order, names compared case-insensitively, values exactly.
  friend bool operator==(const HTTPHeaders& a, const HTTPHeaders& b) noexcept;

 private:
  struct Storage;

  [[nodiscard]] const std::vector<Field>& fields() const noexcept;
  /// The fields to change: this value's own, copied first while other values share them.
  std::vector<Field>& mutableFields();
  void release() noexcept;

  std::shared_ptr<Storage> storage_;  // null: no fields
};

}  // namespace zel
