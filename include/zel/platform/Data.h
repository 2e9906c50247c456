#pragma once
// zel::Data — an immutable, cheaply shared byte buffer.
//
// Copies share one allocation, so bodies pass through futures and results without being copied.
// Absence is expressed as std::optional<Data>; an empty Data is a present, zero-length body.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

class Data {
 public:
  /// An empty buffer.
  Data() = default;
  /// Takes ownership of the bytes without copying them.
  explicit Data(std::vector<std::uint8_t>&& bytes);
  explicit Data(std::string&& bytes);
  /// Copies the bytes.
  static Data copy(std::span<const std::uint8_t> bytes);
  static Data copy(std::string_view bytes);

  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return data_; }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
  /// The bytes seen as characters (no decoding).
  [[nodiscard]] std::string_view stringView() const noexcept {
    return {reinterpret_cast<const char*>(data_), size_};
  }

  /// A view of [offset, offset + length) sharing this buffer; clamped to the buffer's end.
  [[nodiscard]] Data subdata(std::size_t offset, std::size_t length) const;

  /// Byte-wise equality.
  friend bool operator==(const Data& a, const Data& b) noexcept;

 private:
  std::shared_ptr<const void> owner_;
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zel
