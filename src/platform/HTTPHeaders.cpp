#include "zel/platform/HTTPHeaders.h"

#include <algorithm>

namespace zel {
namespace {

char lowerASCII(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

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
  headers.fields_ = std::move(fields);
  return headers;
}

const std::string* HTTPHeaders::find(std::string_view name) const noexcept {
  for (const auto& field : fields_) {
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
  for (auto& field : fields_) {
    if (headerNameEquals(field.first, name)) {
      field.second = std::move(*value);
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::move(*value));
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
  for (auto& field : fields_) {
    if (headerNameEquals(field.first, name)) {
      field.second.append(", ").append(value);
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
}

bool HTTPHeaders::erase(std::string_view name) {
  auto it = std::find_if(fields_.begin(), fields_.end(),
                         [&](const Field& f) { return headerNameEquals(f.first, name); });
  if (it == fields_.end()) return false;
  fields_.erase(it);
  return true;
}

bool operator==(const HTTPHeaders& a, const HTTPHeaders& b) noexcept {
  return std::equal(a.fields_.begin(), a.fields_.end(), b.fields_.begin(), b.fields_.end(),
                    [](const HTTPHeaders::Field& x, const HTTPHeaders::Field& y) {
                      return headerNameEquals(x.first, y.first) && x.second == y.second;
                    });
}

}  // namespace zel
