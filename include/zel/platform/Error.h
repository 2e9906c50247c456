#pragma once
// zel::Error — the platform error value: a domain, a signed 64-bit code and user information.
//
// Immutable. Copies share one representation, so passing an error around is cheap and an
// operation that "returns the receiver" returns a copy for which isSameInstance() is true.
// The user information is either absent or a (possibly empty) dictionary of typed values.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <boost/json/value.hpp>

#include "zel/platform/ErrorKeys.h"

namespace zel {

class Error;

/// A value in an error's user information.
using ErrorUserInfoValue =
    std::variant<std::string, std::int64_t, double, bool, boost::json::value, Error>;

/// An insertion-ordered dictionary from string keys to typed values.
class ErrorUserInfo {
 public:
  using Entry = std::pair<std::string, ErrorUserInfoValue>;
  using const_iterator = std::vector<Entry>::const_iterator;

  ErrorUserInfo();
  ErrorUserInfo(std::initializer_list<Entry> entries);
  ErrorUserInfo(const ErrorUserInfo&);
  ErrorUserInfo(ErrorUserInfo&&) noexcept;
  ErrorUserInfo& operator=(const ErrorUserInfo&);
  ErrorUserInfo& operator=(ErrorUserInfo&&) noexcept;
  ~ErrorUserInfo();

  /// Stores the value under the key, replacing an earlier value in place.
  void set(std::string key, ErrorUserInfoValue value);
  /// Removes the key; returns whether it was present.
  bool erase(std::string_view key);

  [[nodiscard]] const ErrorUserInfoValue* find(std::string_view key) const noexcept;
  [[nodiscard]] bool contains(std::string_view key) const noexcept { return find(key) != nullptr; }
  /// The value under the key when it is a string.
  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
  /// The value under the key when it is an error.
  [[nodiscard]] std::optional<Error> error(std::string_view key) const;

  [[nodiscard]] std::size_t size() const noexcept;
  [[nodiscard]] bool empty() const noexcept;
  [[nodiscard]] const_iterator begin() const noexcept;
  [[nodiscard]] const_iterator end() const noexcept;

  friend bool operator==(const ErrorUserInfo& a, const ErrorUserInfo& b);

 private:
  std::vector<Entry> entries_;
};

class Error {
 public:
  /// Makes an error without user information.
  Error(std::string domain, std::int64_t code);
  /// Makes an error; absent user information is distinct from an empty dictionary.
  Error(std::string domain, std::int64_t code, std::optional<ErrorUserInfo> userInfo);

  /// errorWithDomain:code:userInfo:
  static Error errorWithDomain(std::string domain, std::int64_t code,
                               std::optional<ErrorUserInfo> userInfo = std::nullopt);

  [[nodiscard]] const std::string& domain() const noexcept;
  [[nodiscard]] std::int64_t code() const noexcept;
  [[nodiscard]] const std::optional<ErrorUserInfo>& userInfo() const noexcept;

  /// The value under NSLocalizedDescriptionKey when it is a string; otherwise a default text
  /// composed from the failure reason, or from the domain and code:
  /// "The operation couldn’t be completed. (<domain> error <code>.)".
  [[nodiscard]] std::string localizedDescription() const;
  /// The string under NSLocalizedFailureReasonErrorKey, or absent.
  [[nodiscard]] std::optional<std::string> localizedFailureReason() const;
  /// The error stored under NSUnderlyingErrorKey, or absent.
  [[nodiscard]] std::optional<Error> underlyingError() const;

  /// True when both handles share one representation (the "same object").
  [[nodiscard]] bool isSameInstance(const Error& other) const noexcept {
    return impl_ == other.impl_;
  }

  /// Deep equality of domain, code and user information.
  friend bool operator==(const Error& a, const Error& b);

  /// A one-line text for logs: "Error Domain=<domain> Code=<code> "<description>"".
  [[nodiscard]] std::string description() const;

 private:
  struct Impl;
  std::shared_ptr<const Impl> impl_;
};

}  // namespace zel
