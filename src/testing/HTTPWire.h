#pragma once
// The HTTP/1.1 text the mock server reads and writes: request heads, reason phrases, the pieces
// of header values it looks at.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "zel/testing/MockServer.h"

namespace zel::mockserver {

[[nodiscard]] std::string_view trim(std::string_view s);
/// Whether a comma-separated header value lists the token (case-insensitively).
[[nodiscard]] bool hasToken(std::string_view list, std::string_view token);
[[nodiscard]] std::string_view lastToken(std::string_view list);
/// Digits only (base 10 or 16), at most 16 of them.
[[nodiscard]] std::optional<std::size_t> parseNumber(std::string_view text, int base);
[[nodiscard]] std::string hex(std::size_t value);
[[nodiscard]] std::string_view reasonPhrase(int status);
/// Whether the script sets the header field itself.
[[nodiscard]] bool scriptHas(const MockResponse& response, std::string_view name);
/// The echo body: the request as a JSON object.
[[nodiscard]] std::string echoJSON(const MockRequest& request);
/// Parses the request line and header fields; false when they are malformed.
[[nodiscard]] bool parseHead(std::string_view head, MockRequest& request);

}  // namespace zel::mockserver
