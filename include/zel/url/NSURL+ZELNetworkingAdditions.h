#pragma once
// Building URLs the application hands to the system: from parts, for a telephone number, for an
// e-mail address, and a referrer whose scheme follows the page it is used from.
//
//   URLWithScheme("https", "h", "a/b", "x=1");          // https://h/a/b/?x=1
//   systemURLForPhoneNumber("+1 555 0100");             // tel://%2B1%20555%200100/
//   adjustReferrerURLScheme(*URL::URLWithString(kZelvoReferrerURL), page);
//
// Pure functions, callable from any thread. An unusable input gives an absent URL.

#include <optional>
#include <string>
#include <string_view>

#include "zel/platform/URL.h"

namespace zel {

/// The service's public web site: an absolute "http" URL with no path, query or fragment.
inline constexpr const char* kZelvoReferrerURL = "http://www.zelvo.com";

/// The URL's host without one leading "www." (matched exactly, case-sensitively): "zelvo.com"
/// for "http://www.zelvo.com/"; "WWW.zelvo.com" and "www2.zelvo.com" stay. Absent without host.
[[nodiscard]] std::optional<std::string> domain(const URL& url);

/// "scheme://host/path/?query". The path gets a leading and a trailing "/" when it lacks them
/// (an empty path is "/"); it is not encoded. A non-empty query follows "?" as given.
///
/// Text made only of ASCII characters is parsed as built. Text holding other characters is
/// first percent-encoded as a whole, keeping letters, digits and !$&'()*+,-./:;=?@_~; a "%"
/// that starts an escape already written ("%" and two hexadecimal digits) stays, any other
/// becomes "%25". Absent when the scheme or host is empty or the text is not a valid URL.
[[nodiscard]] std::optional<URL> URLWithScheme(std::string_view scheme, std::string_view host,
                                               std::string_view path = {},
                                               std::string_view query = {});

/// "tel://<number>/" with the number encoded by zel_urlEncodedString ("+" as "%2B", a space as
/// "%20"). Absent for an empty number or one that is not valid UTF-8.
[[nodiscard]] std::optional<URL> systemURLForPhoneNumber(std::string_view number);

/// "mailto:<address>" with the address as given. Absent for an empty address or when the text
/// is not a valid URL.
[[nodiscard]] std::optional<URL> systemURLForEmail(std::string_view address);

/// The referrer's host and path under the source's scheme: "http" or "https" as the source's
/// scheme is exactly that; any other scheme is reported ("Invalid scheme for source URL =
/// <scheme>") and "http" is used. The referrer's own scheme, port, user, query and fragment are
/// dropped, and its path loses a trailing "/". Absent when the referrer has no scheme or no host,
/// or the source has no scheme.
[[nodiscard]] std::optional<URL> adjustReferrerURLScheme(const URL& referrerURL,
                                                         const URL& sourceURL);

}  // namespace zel
