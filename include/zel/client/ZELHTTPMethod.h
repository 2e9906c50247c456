#pragma once
// ZELHTTPMethod and ZELAPIClientRequestPriority — what the client's operations take.
//
// Each method has its request text and a parameter placement: GET, HEAD and DELETE carry
// parameters in the query; POST, PUT and PATCH in the body; OPTIONS, TRACE and CONNECT nowhere
// (OPTIONS is used for signing only).

#include <cstdint>
#include <optional>
#include <string_view>

namespace zel {

enum class ZELHTTPMethod : std::uint32_t {
  OPTIONS = 0,
  GET = 1,
  HEAD = 2,
  POST = 3,
  PUT = 4,
  PATCH = 5,
  DELETE = 6,
  TRACE = 7,
  CONNECT = 8,
};

/// The method's text ("GET", …); absent, with the assertion report "Unhandled HTTP method",
/// for a value outside the enumeration.
[[nodiscard]] std::optional<std::string_view> ZELStringForHTTPMethod(ZELHTTPMethod method);

/// True for the methods whose parameters go to the query (GET, HEAD, DELETE).
[[nodiscard]] constexpr bool ZELHTTPMethodPutsParametersInQuery(ZELHTTPMethod method) noexcept {
  return method == ZELHTTPMethod::GET || method == ZELHTTPMethod::HEAD ||
         method == ZELHTTPMethod::DELETE;
}

/// True for the methods whose parameters go to the body (POST, PUT, PATCH).
[[nodiscard]] constexpr bool ZELHTTPMethodPutsParametersInBody(ZELHTTPMethod method) noexcept {
  return method == ZELHTTPMethod::POST || method == ZELHTTPMethod::PUT ||
         method == ZELHTTPMethod::PATCH;
}

/// How soon a request should be served; the verbs use Default unless told otherwise.
enum class ZELAPIClientRequestPriority : std::int32_t { High = 0, Default = 1, Low = 2 };

}  // namespace zel
