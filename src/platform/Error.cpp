#include "zel/platform/Error.h"

#include <algorithm>

namespace zel {

struct Error::Impl {
  std::string domain;
  std::int64_t code = 0;
  std::optional<ErrorUserInfo> userInfo;
};

Error::Error(std::string domain, std::int64_t code)
    : Error(std::move(domain), code, std::nullopt) {}

Error::Error(std::string domain, std::int64_t code, std::optional<ErrorUserInfo> userInfo)
    : impl_(std::make_shared<const Impl>(Impl{std::move(domain), code, std::move(userInfo)})) {}

Error Error::errorWithDomain(std::string domain, std::int64_t code,
                             std::optional<ErrorUserInfo> userInfo) {
  return Error(std::move(domain), code, std::move(userInfo));
}

const std::string& Error::domain() const noexcept {
  return impl_->domain;
}
std::int64_t Error::code() const noexcept {
  return impl_->code;
}
const std::optional<ErrorUserInfo>& Error::userInfo() const noexcept {
  return impl_->userInfo;
}

std::string Error::localizedDescription() const {
  if (impl_->userInfo) {
    if (auto text = impl_->userInfo->string(NSLocalizedDescriptionKey)) return *text;
    if (auto reason = impl_->userInfo->string(NSLocalizedFailureReasonErrorKey)) {
      return "The operation couldn\u2019t be completed. " + *reason;
    }
  }
  return "The operation couldn\u2019t be completed. (" + impl_->domain + " error " +
         std::to_string(impl_->code) + ".)";
}

std::optional<std::string> Error::localizedFailureReason() const {
  if (!impl_->userInfo) return std::nullopt;
  return impl_->userInfo->string(NSLocalizedFailureReasonErrorKey);
}

std::optional<Error> Error::underlyingError() const {
  if (!impl_->userInfo) return std::nullopt;
  return impl_->userInfo->error(NSUnderlyingErrorKey);
}

bool operator==(const Error& a, const Error& b) {
  if (a.impl_ == b.impl_) return true;
  return a.impl_->domain == b.impl_->domain && a.impl_->code == b.impl_->code &&
         a.impl_->userInfo == b.impl_->userInfo;
}

std::string Error::description() const {
  return "Error Domain=" + impl_->domain + " Code=" + std::to_string(impl_->code) + " \"" +
         localizedDescription() + "\"";
}

ErrorUserInfo::ErrorUserInfo() = default;
ErrorUserInfo::ErrorUserInfo(const ErrorUserInfo&) = default;
ErrorUserInfo::ErrorUserInfo(ErrorUserInfo&&) noexcept = default;
ErrorUserInfo& ErrorUserInfo::operator=(const ErrorUserInfo&) = default;
ErrorUserInfo& ErrorUserInfo::operator=(ErrorUserInfo&&) noexcept = default;
ErrorUserInfo::~ErrorUserInfo() = default;

std::size_t ErrorUserInfo::size() const noexcept {
  return entries_.size();
}
bool ErrorUserInfo::empty() const noexcept {
  return entries_.empty();
}
ErrorUserInfo::const_iterator ErrorUserInfo::begin() const noexcept {
  return entries_.begin();
}
ErrorUserInfo::const_iterator ErrorUserInfo::end() const noexcept {
  return entries_.end();
}
bool operator==(const ErrorUserInfo& a, const ErrorUserInfo& b) {
  return a.entries_ == b.entries_;
}

ErrorUserInfo::ErrorUserInfo(std::initializer_list<Entry> entries) {
  for (const auto& entry : entries) set(entry.first, entry.second);
}

void ErrorUserInfo::set(std::string key, ErrorUserInfoValue value) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.first == key; });
  if (it != entries_.end()) {
    it->second = std::move(value);
  } else {
    entries_.emplace_back(std::move(key), std::move(value));
  }
}

bool ErrorUserInfo::erase(std::string_view key) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

const ErrorUserInfoValue* ErrorUserInfo::find(std::string_view key) const noexcept {
  for (const auto& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

std::optional<std::string> ErrorUserInfo::string(std::string_view key) const {
  const auto* value = find(key);
  if (value == nullptr) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(value)) return *text;
  return std::nullopt;
}

std::optional<Error> ErrorUserInfo::error(std::string_view key) const {
  const auto* value = find(key);
  if (value == nullptr) return std::nullopt;
  if (const auto* error = std::get_if<Error>(value)) return *error;
  return std::nullopt;
}

}  // namespace zel
