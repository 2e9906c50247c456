#include "zel/platform/URL.h"

#include <algorithm>
#include <charconv>

#include <uriparser/Uri.h>

namespace zel {
namespace {

// The pieces of a URL text, split once when the URL is made.
struct Components {
  std::string absolute;
  std::optional<std::string> scheme;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> host;
  std::optional<int> port;
  std::string encodedPath;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

// The five parts of a reference as written (RFC 3986 §5.2 names them), viewing its text.
struct Reference {
  std::optional<std::string_view> scheme;
  std::optional<std::string_view> authority;
  std::string_view path;
  std::optional<std::string_view> query;
  std::optional<std::string_view> fragment;
};

// True when the whole text is a URI reference by the RFC 3986 grammar.
bool isValidReference(std::string_view text) {
  UriUriA uri{};
  const char* errorPos = nullptr;
  if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPos) !=
      URI_SUCCESS) {
    return false;
  }
  uriFreeUriMembersA(&uri);
  return true;
}

// The position of the first of the delimiters in text, or npos. A plain scan: find_first_of
// searches the set for every character, which costs several times more on URL-length texts.
template <char... Delimiters>
std::size_t findDelimiter(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (((text[i] == Delimiters) || ...)) return i;
  }
  return std::string_view::npos;
}

// Splits valid reference text into its parts (RFC 3986 Appendix B).
Reference splitReference(std::string_view rest) {
  Reference ref;
  const auto schemeEnd = findDelimiter<':', '/', '?', '#'>(rest);
  if (schemeEnd != std::string_view::npos && schemeEnd > 0 && rest[schemeEnd] == ':') {
    ref.scheme = rest.substr(0, schemeEnd);
    rest.remove_prefix(schemeEnd + 1);
  }
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const auto authorityEnd = std::min(findDelimiter<'/', '?', '#'>(rest), rest.size());
    ref.authority = rest.substr(0, authorityEnd);
    rest.remove_prefix(authorityEnd);
  }
  const auto pathEnd = std::min(findDelimiter<'?', '#'>(rest), rest.size());
  ref.path = rest.substr(0, pathEnd);
  rest.remove_prefix(pathEnd);
  if (rest.starts_with('?')) {
    const auto queryEnd = std::min(rest.find('#'), rest.size());
    ref.query = rest.substr(1, queryEnd - 1);
    rest.remove_prefix(queryEnd);
  }
  if (rest.starts_with('#')) ref.fragment = rest.substr(1);
  return ref;
}

// RFC 3986 §5.2.4: resolves "." and ".." segments.
std::string removeDotSegments(std::string_view input) {
  std::string output;
  const auto dropLastSegment = [&output] {
    const auto slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      output.push_back('/');
      break;
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      dropLastSegment();
    } else if (input == "/..") {
      dropLastSegment();
      output.push_back('/');
      break;
    } else if (input == "." || input == "..") {
      break;
    } else {
      const auto segmentEnd = std::min(input.find('/', 1), input.size());
      output.append(input.substr(0, segmentEnd));
      input.remove_prefix(segmentEnd);
    }
  }
  return output;
}

// RFC 3986 §5.2.3: the reference's path appended to the base path's directory.
std::string mergePaths(const Reference& base, std::string_view path) {
  if (base.authority && base.path.empty()) return "/" + std::string(path);
  const auto slash = base.path.rfind('/');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(base.path.substr(0, slash + 1)).append(path);
}

// RFC 3986 §5.2.2 (strict) and §5.3: the target text of a reference against an absolute base.
std::string resolve(const Reference& ref, const Reference& base) {
  std::optional<std::string_view> authority;
  std::string path;
  std::optional<std::string_view> query = ref.query;
  if (ref.scheme || ref.authority) {
    authority = ref.authority;
    path = removeDotSegments(ref.path);
  } else {
    authority = base.authority;
    if (ref.path.empty()) {
      path = std::string(base.path);
      if (!ref.query) query = base.query;
    } else if (ref.path.starts_with('/')) {
      path = removeDotSegments(ref.path);
    } else {
      path = removeDotSegments(mergePaths(base, ref.path));
    }
  }

  std::string target(ref.scheme ? *ref.scheme : *base.scheme);
  target.push_back(':');
  if (authority) {
    target.append("//").append(*authority);
  } else if (path.starts_with("//")) {
    // Without an authority, a leading "//" would be read as one; "/." keeps the meaning.
    target.append("/.");
  }
  target.append(path);
  if (query) target.append("?").append(*query);
  if (ref.fragment) target.append("#").append(*ref.fragment);
  return target;
}

int hexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes and leaves any other "%" as it is.
std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<int> parsePort(std::string_view digits) noexcept {
  int value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return {};
  return value;
}

void splitAuthority(std::string_view authority, Components& out) {
  if (const auto at = authority.find('@'); at != std::string_view::npos) {
    const auto userInfo = authority.substr(0, at);
    const auto colon = userInfo.find(':');
    out.user = percentDecoded(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) out.password = percentDecoded(userInfo.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  std::string_view host;
  std::string_view portText;
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    host = authority.substr(1, close - 1);
    const auto afterHost = authority.substr(close + 1);
    if (afterHost.starts_with(':')) portText = afterHost.substr(1);
  } else {
    // Neither a registered name nor IPv4 contains ":", so the last one starts the port.
    const auto colon = authority.rfind(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
  }
  if (!host.empty()) out.host = std::string(host);
  out.port = parsePort(portText);
}

void fillComponents(Components& out) {
  const Reference ref = splitReference(out.absolute);
  if (ref.scheme) out.scheme = std::string(*ref.scheme);
  if (ref.authority) splitAuthority(*ref.authority, out);
  out.encodedPath = std::string(ref.path);
  if (ref.query) out.query = std::string(*ref.query);
  if (ref.fragment) out.fragment = std::string(*ref.fragment);

  std::string_view decodedSource = ref.path;
  if (decodedSource.size() > 1 && decodedSource.ends_with('/')) decodedSource.remove_suffix(1);
  out.path = percentDecoded(decodedSource);
}

}  // namespace

struct URL::Impl : Components {};

URL::URL(std::shared_ptr<const Impl> impl) noexcept : impl_(std::move(impl)) {}

std::optional<URL> URL::URLWithString(std::string_view text) {
  if (text.empty() || !isValidReference(text)) return std::nullopt;
  auto impl = std::make_shared<Impl>();
  impl->absolute = std::string(text);
  fillComponents(*impl);
  return URL(std::move(impl));
}

std::optional<URL> URL::URLWithString(std::string_view relative, const URL& base) {
  if (!base.scheme() || !isValidReference(relative)) return std::nullopt;
  const Reference ref = splitReference(relative);
  const Reference baseRef = splitReference(base.absoluteString());
  std::string target = resolve(ref, baseRef);
  // Resolving valid texts yields a valid one. Only a target without an authority whose path
  // starts with "//" would read differently from how it was built: that one is checked again.
  // The target's authority is the one resolve() took: the reference's, or else the base's.
  const bool hasAuthority =
      ref.scheme || ref.authority ? ref.authority.has_value() : baseRef.authority.has_value();
  if (!hasAuthority) return URLWithString(target);
  auto impl = std::make_shared<Impl>();
  impl->absolute = std::move(target);
  fillComponents(*impl);
  return URL(std::move(impl));
}

const std::string& URL::absoluteString() const noexcept {
  return impl_->absolute;
}
const std::optional<std::string>& URL::scheme() const noexcept {
  return impl_->scheme;
}
const std::optional<std::string>& URL::host() const noexcept {
  return impl_->host;
}
std::optional<int> URL::port() const noexcept {
  return impl_->port;
}
const std::optional<std::string>& URL::user() const noexcept {
  return impl_->user;
}
const std::optional<std::string>& URL::password() const noexcept {
  return impl_->password;
}
const std::string& URL::path() const noexcept {
  return impl_->path;
}
const std::string& URL::percentEncodedPath() const noexcept {
  return impl_->encodedPath;
}
const std::optional<std::string>& URL::query() const noexcept {
  return impl_->query;
}
const std::optional<std::string>& URL::fragment() const noexcept {
  return impl_->fragment;
}

std::string URL::lastPathComponent() const {
  const std::string& path = impl_->path;
  if (path == "/") return path;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string URL::pathExtension() const {
  const std::string component = lastPathComponent();
  const auto dot = component.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return component.substr(dot + 1);
}

bool URL::hasDirectoryPath() const noexcept {
  return impl_->encodedPath.ends_with('/');
}

bool URL::isFileURL() const noexcept {
  const auto& scheme = impl_->scheme;
  if (!scheme || scheme->size() != 4) return false;
  static constexpr std::string_view kFile = "file";
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = (*scheme)[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (lower != kFile[i]) return false;
  }
  return true;
}

bool operator==(const URL& a, const URL& b) noexcept {
  return a.impl_ == b.impl_ || a.impl_->absolute == b.impl_->absolute;
}

}  // namespace zel
