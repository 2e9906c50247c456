#pragma once
// What the session refuses to send, and which header fields it writes itself.
//
// Every piece of text that reaches the wire passes the same rule: a method or field name must be
// an HTTP token, and no value may hold CR, LF or NUL (libcurl would cut a C string at a NUL, and
// CR/LF would smuggle extra lines into the message). Refused requests fail with
// NSURLErrorBadURL (-1000) before anything is sent.

#include <optional>
#include <string_view>

#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"
#include "zel/transport/URLSessionConfiguration.h"

namespace zel::detail {

/// An HTTP token (RFC 9110 §5.6.2): one or more of A–Z a–z 0–9 !#$%&'*+-.^_`|~.
[[nodiscard]] bool isHTTPToken(std::string_view text) noexcept;
/// Holds no CR, LF or NUL.
[[nodiscard]] bool isSafeFieldValue(std::string_view value) noexcept;
/// "http" or "https", any case.
[[nodiscard]] bool isHTTPScheme(const std::optional<std::string>& scheme) noexcept;

/// Fields that frame the message or name the connection: Content-Length, Transfer-Encoding,
/// Connection and Host. The session writes them itself and never sends a caller's value.
[[nodiscard]] bool isSessionOwnedField(std::string_view name) noexcept;

/// The URL's text, for the failing-URL keys of an error.
[[nodiscard]] std::optional<std::string> urlText(const URLRequest& request);

/// Why the configuration's own fields (extra header fields, user agent) cannot go out, or
/// nothing. Checked once per session; every request of a session that fails it is refused.
[[nodiscard]] std::optional<std::string> configurationProblem(
    const URLSessionConfiguration& configuration);

/// Why the request must not go out, or nothing. configurationProblem is the session's answer
/// from configurationProblem().
[[nodiscard]] std::optional<Error> validateRequest(
    const URLRequest& request, const std::optional<std::string>& configurationProblem);

/// An NSURLErrorBadURL-style refusal with the request's URL and the given description.
[[nodiscard]] Error refusal(std::int64_t code, const URLRequest& request, std::string description);

}  // namespace zel::detail
