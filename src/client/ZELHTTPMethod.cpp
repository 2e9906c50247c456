#include "zel/client/ZELHTTPMethod.h"

#include "zel/foundation/ZELAssertion.h"

namespace zel {

std::optional<std::string_view> ZELStringForHTTPMethod(ZELHTTPMethod method) {
  switch (method) {
    case ZELHTTPMethod::OPTIONS:
      return "OPTIONS";
    case ZELHTTPMethod::GET:
      return "GET";
    case ZELHTTPMethod::HEAD:
      return "HEAD";
    case ZELHTTPMethod::POST:
      return "POST";
    case ZELHTTPMethod::PUT:
      return "PUT";
    case ZELHTTPMethod::PATCH:
      return "PATCH";
    case ZELHTTPMethod::DELETE:
      return "DELETE";
    case ZELHTTPMethod::TRACE:
      return "TRACE";
    case ZELHTTPMethod::CONNECT:
      return "CONNECT";
  }
  ZELCAssertionFailure("Unhandled HTTP method");
  return std::nullopt;
}

}  // namespace zel
