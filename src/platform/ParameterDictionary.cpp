#include "zel/platform/ParameterDictionary.h"

#include <algorithm>
#include <cstdio>

#include "zel/foundation/ZELDataAdditions.h"
#include "zel/platform/Json.h"

namespace zel {

namespace {

// The platform writes doubles with "%0.16g".
std::string doubleDescription(double number) {
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%0.16g", number);
  return {buffer, static_cast<std::size_t>(length)};
}

std::string bytesDescription(const Data& bytes) {
  return "{length = " + std::to_string(bytes.size()) + ", bytes = 0x" + zel_hexString(bytes) + "}";
}

}  // namespace

std::string ParameterValue::description() const {
  struct Describe {
    std::string operator()(std::nullptr_t) const { return "<null>"; }
    std::string operator()(const std::string& text) const { return text; }
    std::string operator()(std::int64_t number) const { return std::to_string(number); }
    std::string operator()(std::uint64_t number) const { return std::to_string(number); }
    std::string operator()(double number) const { return doubleDescription(number); }
    std::string operator()(bool flag) const { return flag ? "1" : "0"; }
    std::string operator()(const Data& bytes) const { return bytesDescription(bytes); }
    std::string operator()(const boost::json::value& json) const { return jsonString(json); }
  };
  return std::visit(Describe{}, storage_);
}

std::optional<boost::json::value> ParameterValue::jsonValue() const {
  struct ToJson {
    std::optional<boost::json::value> operator()(std::nullptr_t) const {
      return boost::json::value(nullptr);
    }
    std::optional<boost::json::value> operator()(const std::string& text) const {
      return boost::json::value(text);
    }
    std::optional<boost::json::value> operator()(std::int64_t number) const {
      return boost::json::value(number);
    }
    std::optional<boost::json::value> operator()(std::uint64_t number) const {
      return boost::json::value(number);
    }
    std::optional<boost::json::value> operator()(double number) const {
      return boost::json::value(number);
    }
    std::optional<boost::json::value> operator()(bool flag) const {
      return boost::json::value(flag);
    }
    std::optional<boost::json::value> operator()(const Data&) const { return std::nullopt; }
    std::optional<boost::json::value> operator()(const boost::json::value& json) const {
      return json;
    }
  };
  return std::visit(ToJson{}, storage_);
}

ParameterDictionary::ParameterDictionary(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const auto& [name, value] : entries) set(name, value);
}

void ParameterDictionary::set(std::string_view name, ParameterValue value) {
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.first == name; });
  if (found != entries_.end()) {
    found->second = std::move(value);
  } else {
    entries_.emplace_back(std::string(name), std::move(value));
  }
}

bool ParameterDictionary::erase(std::string_view name) {
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.first == name; });
  if (found == entries_.end()) return false;
  entries_.erase(found);
  return true;
}

const ParameterValue* ParameterDictionary::find(std::string_view name) const noexcept {
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.first == name; });
  return found == entries_.end() ? nullptr : &found->second;
}

}  // namespace zel
