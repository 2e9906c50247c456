#include "zel/url/NSDictionary+ZELNetworkingAdditions.h"

#include "PercentEncoding.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {

std::string queryStringValue(const ParameterDictionary& parameters) {
  const URLCharacterSet& allowed = encodedURLAllowedCharacterSet();
  std::string query;
  for (const auto& [name, value] : parameters) {
    if (!query.empty()) query.push_back('&');
    detail::appendPercentEncoded(query, name, allowed);
    query.push_back('=');
    if (const std::string* text = value.string()) {
      detail::appendPercentEncoded(query, *text, allowed);
    } else {
      detail::appendPercentEncoded(query, value.description(), allowed);
    }
  }
  return query;
}

}  // namespace zel
