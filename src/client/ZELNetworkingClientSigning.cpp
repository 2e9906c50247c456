// Request signing: client ID, timestamp and an HMAC-SHA256 signature over the method, the URL and
// the sorted parameters, for requests without a user token and for every metrics request.

#include <openssl/evp.h>
#include <openssl/hmac.h>

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

// The whole text when it is valid UTF-8; otherwise empty, which a signed string never holds.
std::string encoded(std::string_view text) {
  return zel_urlEncodedString(text).value_or("");
}

char lowered(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Ascending by lower-case form, character by character; a prefix sorts first. Names equal but
// for case fall back to a byte comparison, so the order never depends on insertion order.
bool caseInsensitiveLess(std::string_view a, std::string_view b) {
  const auto size = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < size; ++i) {
    const auto x = static_cast<unsigned char>(lowered(a[i]));
    const auto y = static_cast<unsigned char>(lowered(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
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

  std::vector<const ParameterDictionary::Entry*> entries;
  entries.reserve(signedSet.size());
  for (const auto& entry : signedSet) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(),
            [](const auto* a, const auto* b) { return caseInsensitiveLess(a->first, b->first); });
  for (const auto* entry : entries) {
    base += '&';
    base += encoded(entry->first);
    base += '=';
    base += encoded(entry->second.description());
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
    result.path +=
        "?client_id=" + clientID + "&timestamp=" + timestamp + "&oauth_signature=" + signature;
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
