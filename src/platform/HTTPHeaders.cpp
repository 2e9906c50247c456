#include "zel/platform/HTTPHeaders.h"

#include <algorithm>
#include <atomic>

namespace zel {
namespace {

char lowerASCII(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

// The shared_ptr owns the memory; holders counts the HTTPHeaders values sharing it. A value
// that finds itself the only holder (an acquire load, which sees every other holder's reads
// end) changes the fields in place; otherwise it takes a copy first.
struct HTTPHeaders::Storage {
  explicit Storage(std::vector<Field> f) : fields(std::move(f)) {}
  std::vector<Field> fields;
  std::atomic<int> holders{1};
};

HTTPHeaders::HTTPHeaders(const HTTPHeaders& other) noexcept : storage_(other.storage_) {
  if (storage_) storage_->holders.fetch_add(1, std::memory_order_relaxed);
}

HTTPHeaders& HTTPHeaders::operator=(const HTTPHeaders& other) noexcept {
  if (storage_ != other.storage_) {
    release();
    storage_ = other.storage_;
    if (storage_) storage_->holders.fetch_add(1, std::memory_order_relaxed);
  }
  return *this;
}

HTTPHeaders& HTTPHeaders::operator=(HTTPHeaders&& other) noexcept {
  if (this != &other) {
    release();
    storage_ = std::move(other.storage_);
  }
  return *this;
}

HTTPHeaders::~HTTPHeaders() {
  release();
}

void HTTPHeaders::release() noexcept {
  if (storage_) storage_->holders.fetch_sub(1, std::memory_order_acq_rel);
  storage_.reset();
}

const std::vector<HTTPHeaders::Field>& HTTPHeaders::fields() const noexcept {
  static const std::vector<Field> none;
  return storage_ ? storage_->fields : none;
}

std::vector<HTTPHeaders::Field>& HTTPHeaders::mutableFields() {
  if (!storage_) {
    storage_ = std::make_shared<Storage>(std::vector<Field>());
  } else if (storage_->holders.load(std::memory_order_acquire) != 1) {
    auto own = std::make_shared<Storage>(storage_->fields);
    release();
    storage_ = std::move(own);
  }
  return storage_->fields;
}

bool headerNameEquals(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerASCII(x) == lowerASCII(y);
         });
}

HTTPHeaders::HTTPHeaders(std::initializer_list<Field> fields) {
  for (const auto& field : fields) set(field.first, field.second);
}

HTTPHeaders HTTPHeaders::fromDistinctFields(std::vector<Field> fields) noexcept {
  HTTPHeaders headers;
  if (!fields.empty()) headers.storage_ = std::make_shared<Storage>(std::move(fields));
  return headers;
}

const std::string* HTTPHeaders::find(std::string_view name) const noexcept {
  for (const auto& field : fields()) {
    if (headerNameEquals(field.first, name)) return &field.second;
  }
  return nullptr;
}

std::optional<std::string> HTTPHeaders::value(std::string_view name) const {
  if (const auto* found = find(name)) return *found;
  return std::nullopt;
}

void HTTPHeaders::set(std::string_view name, std::optional<std::string> value) {
  if (!value) {
    erase(name);
    return;
  }
  auto& fields = mutableFields();
  for (auto& field : fields) {
    if (headerNameEquals(field.first, name)) {
      field.second = std::move(*value);
      return;
    }
  }
  fields.emplace_back(std::string(name), std::move(*value));
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
  auto& fields = mutableFields();
  for (auto& field : fields) {
    if (headerNameEquals(field.first, name)) {
      field.second.append(", ").append(value);
      return;
    }
  }
  fields.emplace_back(std::string(name), std::string(value));
}

bool HTTPHeaders::erase(std::string_view name) {
  if (!contains(name)) return false;  // nothing to change: keep sharing
  auto& fields = mutableFields();
  fields.erase(std::find_if(fields.begin(), fields.end(),
                            [&](const Field& f) { return headerNameEquals(f.first, name); }));
  return true;
}

bool operator==(const HTTPHeaders& a, const HTTPHeaders& b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const HTTPHeaders::Field& x, const HTTPHeaders::Field& y) {
                      return headerNameEquals(x.first, y.first) && x.second == y.second;
                    });
}

}  // namespace zel
