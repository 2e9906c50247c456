#include "zel/platform/URLRequest.h"

namespace zel {

URLRequest::URLRequest(zel::URL url) : url_(std::move(url)) {}

void URLRequest::setHTTPMethod(std::string method) {
  httpMethod_ = method.empty() ? std::string("GET") : std::move(method);
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view field) const {
  return headers_.value(field);
}

void URLRequest::setValue(std::optional<std::string> value, std::string_view field) {
  headers_.set(field, std::move(value));
}

void URLRequest::addValue(std::string_view value, std::string_view field) {
  headers_.add(field, value);
}

}  // namespace zel
