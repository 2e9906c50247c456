#include "zel/url/NSMutableURLRequest+ZELNetworkingAdditions.h"

namespace zel {

void zel_addHeadersFromDictionary(URLRequest& request, const HTTPHeaders& headers) {
  for (const auto& [name, value] : headers) request.setValue(value, name);
}

void zel_addHeadersFromDictionary(URLRequest& request, const std::optional<HTTPHeaders>& headers) {
  if (headers) zel_addHeadersFromDictionary(request, *headers);
}

}  // namespace zel
