#include "zel/platform/Data.h"

#include <algorithm>
#include <cstring>

namespace zel {

Data::Data(std::vector<std::uint8_t>&& bytes) {
  if (bytes.empty()) return;
  auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  data_ = owned->data();
  size_ = owned->size();
  owner_ = std::move(owned);
}

Data::Data(std::string&& bytes) {
  if (bytes.empty()) return;
  auto owned = std::make_shared<const std::string>(std::move(bytes));
  data_ = reinterpret_cast<const std::uint8_t*>(owned->data());
  size_ = owned->size();
  owner_ = std::move(owned);
}

Data Data::copy(std::span<const std::uint8_t> bytes) {
  return Data(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

Data Data::copy(std::string_view bytes) {
  return Data(std::string(bytes));
}

Data Data::subdata(std::size_t offset, std::size_t length) const {
  Data slice;
  if (offset >= size_) return slice;
  slice.owner_ = owner_;
  slice.data_ = data_ + offset;
  slice.size_ = std::min(length, size_ - offset);
  return slice;
}

bool operator==(const Data& a, const Data& b) noexcept {
  return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
}

}  // namespace zel
