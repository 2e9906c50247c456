#pragma once
// zel::Result<T> — a value or an Error, for synchronous operations that can fail.

#include <utility>
#include <variant>

#include "zel/platform/Error.h"

namespace zel {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : storage_(std::in_place_index<1>, std::move(error)) {}

  [[nodiscard]] bool ok() const noexcept { return storage_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  /// The value; only when ok().
  [[nodiscard]] const T& value() const& { return std::get<0>(storage_); }
  [[nodiscard]] T& value() & { return std::get<0>(storage_); }
  [[nodiscard]] T&& value() && { return std::get<0>(std::move(storage_)); }
  /// The error; only when !ok().
  [[nodiscard]] const Error& error() const& { return std::get<1>(storage_); }

 private:
  std::variant<T, Error> storage_;
};

}  // namespace zel
