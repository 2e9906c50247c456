// Request signing: client ID, timestamp and an HMAC-SHA256 signature over the method, the URL and
// the sorted parameters, for requests without a user token and for every metrics request.

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "../url/PercentEncoding.h"
#include "zel/client/ZELNetworkingClient.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {

namespace {

// Byte for byte with the unreserved set, exactly as the query and the form body encode it, so
// the signature covers what is sent (text that is not UTF-8 included).
std::string encoded(std::string_view text) {
  return detail::percentEncoded(text, encodedURLAllowedCharacterSet());
}

// Unicode's lower case, from the C library's UTF-8 locale (opened once): "É" lowers to "é" as
// "E" to "e". Text that is not valid UTF-8 is compared as it is.
std::string lowerCased(std::string_view text) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead - 'A' + 'a' : lead));
      ++i;
      continue;
    }
    const std::size_t length = detail::utf8SequenceLength(text, i);
    if (length == 0 || utf8 == static_cast<locale_t>(nullptr)) return std::string(text);
    // Decode, lower, encode again.
    char32_t code = lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (text[i + k] & 0x3F);
    code = static_cast<char32_t>(towlower_l(static_cast<wint_t>(code), utf8));
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    i += length;
  }
  return out;
}

// Ascending by lower-case form (code point by code point, which is byte order in UTF-8); a
// prefix sorts first. Names equal but for case fall back to a byte comparison, so the order
// never depends on insertion order.
bool caseInsensitiveLess(const std::string& lowerA, std::string_view a, const std::string& lowerB,
                         std::string_view b) {
  if (lowerA != lowerB) return lowerA < lowerB;
  return a < b;
}

// Key and message end at their first NUL, as C strings would.
std::string_view uptoNul(std::string_view text) {
  return text.substr(0, std::min(text.find('\0'), text.size()));
}

std::string timestampText() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

std::string ZELNetworkingClient::signatureForURL(std::string_view signedURL,
                                                 const ParameterDictionary& signedSet,
                                                 std::string_view clientSecret,
                                                 ZELHTTPMethod method) {
  std::string base(ZELStringForHTTPMethod(method).value_or(""));
  base += '&';
  base += encoded(signedURL);

  struct Named {
    std::string lower;
    const ParameterDictionary::Entry* entry;
  };
  std::vector<Named> entries;
  entries.reserve(signedSet.size());
  for (const auto& entry : signedSet) entries.push_back({lowerCased(entry.first), &entry});
  std::sort(entries.begin(), entries.end(), [](const Named& a, const Named& b) {
    return caseInsensitiveLess(a.lower, a.entry->first, b.lower, b.entry->first);
  });
  for (const auto& [lower, entry] : entries) {
    base += '&';
    base += encoded(entry->first);
    base += '=';
    const std::string* text = entry->second.string();
    base += encoded(text != nullptr ? *text : entry->second.description());
  }

  const auto key = uptoNul(clientSecret);
  const auto message = uptoNul(base);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int digestLength = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data(),
       &digestLength);
  return zel_hexString(Data::copy(std::span<const std::uint8_t>(digest.data(), digestLength)));
}

ZELSignedParameters ZELNetworkingClient::signParameters(const ParameterDictionary& parameters,
                                                        const std::optional<URL>& baseURL,
                                                        std::string_view URLPath,
                                                        ZELHTTPMethod method,
                                                        std::string_view accessToken) const {
  ZELSignedParameters result{std::string(URLPath), parameters};
  if (!accessToken.empty() && !signRequestsAsMetrics_) return result;

  const auto provider = authenticationProvider();
  const std::string clientID = provider ? provider->clientID() : std::string();
  const std::string clientSecret = provider ? provider->clientSecret() : std::string();
  const auto resolved = resolvePath(URLPath, baseURL);
  const std::string signedURL = resolved ? resolved->absoluteString() : std::string();

  const std::string timestamp = timestampText();
  result.parameters.set("client_id", clientID);
  result.parameters.set("timestamp", timestamp);

  const auto signature =
      signRequestsAsMetrics_
          ? signatureForURL(signedURL, {{"client_id", clientID}, {"timestamp", timestamp}},
                            clientSecret, method)
          : signatureForURL(signedURL, result.parameters, clientSecret, method);

  if (method == ZELHTTPMethod::POST || method == ZELHTTPMethod::PUT) {
    // After a query the path already holds, the signature joins it rather than starting one.
    result.path += URLPath.find('?') == std::string_view::npos ? "?" : "&";
    result.path +=
        "client_id=" + clientID + "&timestamp=" + timestamp + "&oauth_signature=" + signature;
  } else {
    result.parameters.set("oauth_signature", signature);
  }
  return result;
}

std::optional<URL> ZELNetworkingClient::resolvePath(std::string_view path,
                                                    const std::optional<URL>& baseURL) {
  return baseURL ? URL::URLWithString(path, *baseURL) : URL::URLWithString(path);
}

}  // namespace zel
