#pragma once
// zel::URLCharacterSet — a set of ASCII characters as a 256-entry table, for percent-encoding.
//
// Membership is one table lookup. Only ASCII characters can be members: a byte of 0x80 or above
// (any part of a non-ASCII character in UTF-8) is never in a set, so it is always escaped.
//
//   constexpr auto kSafe = zel::URLCharacterSet::alphanumericsAnd("-._~");
//   kSafe.contains('a');   // true
//   kSafe.contains('/');   // false

#include <array>
#include <cstddef>
#include <string_view>

namespace zel {

class URLCharacterSet {
 public:
  /// The empty set.
  constexpr URLCharacterSet() noexcept = default;

  /// Exactly the given characters; non-ASCII bytes among them are ignored.
  constexpr explicit URLCharacterSet(std::string_view members) noexcept { add(members); }

  /// ASCII letters and digits plus the given characters.
  [[nodiscard]] static constexpr URLCharacterSet alphanumericsAnd(
      std::string_view others) noexcept {
    URLCharacterSet set(others);
    for (char c = 'A'; c <= 'Z'; ++c) set.table_[static_cast<unsigned char>(c)] = true;
    for (char c = 'a'; c <= 'z'; ++c) set.table_[static_cast<unsigned char>(c)] = true;
    for (char c = '0'; c <= '9'; ++c) set.table_[static_cast<unsigned char>(c)] = true;
    return set;
  }

  /// This set with the given characters added.
  [[nodiscard]] constexpr URLCharacterSet adding(std::string_view members) const noexcept {
    URLCharacterSet set = *this;
    set.add(members);
    return set;
  }

  [[nodiscard]] constexpr bool contains(char c) const noexcept {
    return table_[static_cast<unsigned char>(c)];
  }

  /// The number of members.
  [[nodiscard]] constexpr std::size_t size() const noexcept {
    std::size_t count = 0;
    for (bool member : table_) count += member ? 1 : 0;
    return count;
  }

  friend constexpr bool operator==(const URLCharacterSet&, const URLCharacterSet&) = default;

 private:
  constexpr void add(std::string_view members) noexcept {
    for (char c : members) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) table_[byte] = true;
    }
  }

  std::array<bool, 256> table_{};
};

}  // namespace zel
