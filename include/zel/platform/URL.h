#pragma once
// zel::URL — an immutable RFC 3986 URI reference, the platform's URL value.
//
// Made only through URLWithString, which refuses text that is not a valid URI reference, so
// every URL in hand is well formed. A reference without a scheme is kept as a relative URL.
// Copies share one representation; the components are split once, when the URL is made.
//
// Components keep the text as written (percent escapes intact) unless a getter says it decodes.
// Nothing throws: invalid input yields an absent URL.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zel {

class URL {
 public:
  /// The URL for the text, or absent when the text is empty or not a valid URI reference
  /// (spaces, control characters, non-ASCII bytes, bad percent escapes such as "%zz", …).
  /// Text without a scheme ("a/b") is accepted as a relative URL.
  [[nodiscard]] static std::optional<URL> URLWithString(std::string_view text);

  /// Resolves a reference against a base the RFC 3986 way (§5.2, strict: "http:g" stays
  /// "http:g"), removing dot segments. The empty reference yields the base without its
  /// fragment. Absent when the reference is invalid or the base has no scheme.
  [[nodiscard]] static std::optional<URL> URLWithString(std::string_view relative, const URL& base);

  /// The whole URL text (after resolution, for a URL made against a base).
  [[nodiscard]] const std::string& absoluteString() const noexcept;
  /// Same as absoluteString(); for logs.
  [[nodiscard]] const std::string& description() const noexcept { return absoluteString(); }

  /// The scheme as written, without ":"; absent for a relative URL.
  [[nodiscard]] const std::optional<std::string>& scheme() const noexcept;
  /// The host as written, without the brackets of an IPv6 literal ("::1" for "http://[::1]/");
  /// absent when there is no authority or its host is empty.
  [[nodiscard]] const std::optional<std::string>& host() const noexcept;
  /// The port number; absent when none is written (or it does not fit an int).
  [[nodiscard]] std::optional<int> port() const noexcept;
  /// The user and password of the authority, percent-decoded; absent when not written.
  [[nodiscard]] const std::optional<std::string>& user() const noexcept;
  [[nodiscard]] const std::optional<std::string>& password() const noexcept;

  /// The percent-decoded path without a trailing "/" (unless the path is just "/");
  /// empty when the URL has no path.
  [[nodiscard]] const std::string& path() const noexcept;
  /// The path exactly as written, trailing "/" kept.
  [[nodiscard]] const std::string& percentEncodedPath() const noexcept;
  /// The query as written, without "?". "http://a/?" has an empty query; "http://a/" has none.
  [[nodiscard]] const std::optional<std::string>& query() const noexcept;
  /// The fragment as written, without "#".
  [[nodiscard]] const std::optional<std::string>& fragment() const noexcept;

  /// The last component of path(): "c" for "/b/c/", "/" for "/", "" when there is no path.
  [[nodiscard]] std::string lastPathComponent() const;
  /// The text after the last "." of lastPathComponent(); "" when there is none or the only
  /// dot starts the component (".profile").
  [[nodiscard]] std::string pathExtension() const;
  /// True when the path as written ends in "/".
  [[nodiscard]] bool hasDirectoryPath() const noexcept;
  /// True for the "file" scheme (any case).
  [[nodiscard]] bool isFileURL() const noexcept;

  /// Equal when the absolute strings are equal.
  friend bool operator==(const URL& a, const URL& b) noexcept;

 private:
  struct Impl;
  explicit URL(std::shared_ptr<const Impl> impl) noexcept;

  std::shared_ptr<const Impl> impl_;
};

}  // namespace zel
