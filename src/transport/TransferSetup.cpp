// Setting up an easy handle for one hop of a transfer: the options every transfer of the session
// shares (set once per handle) and the ones of this hop (set every time, so nothing of an earlier
// transfer on a reused handle carries over).

#include <algorithm>
#include <cstdlib>
#include <string>

#include "RequestValidation.h"
#include "SessionCore.h"
#include "SessionIO.h"
#include "TransferCallbacks.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

// The content codings this libcurl can decode, for "Accept-Encoding". Sent as a header field of
// ours: libcurl would format its own for every request.
const std::string& acceptedEncodings() {
  static const std::string codings = [] {
    const auto* info = curl_version_info(CURLVERSION_NOW);
    std::string list;
    if (info->features & CURL_VERSION_LIBZ) list = "gzip, deflate";
    if (info->features & CURL_VERSION_BROTLI) list += list.empty() ? "br" : ", br";
    if (info->features & CURL_VERSION_ZSTD) list += list.empty() ? "zstd" : ", zstd";
    return list.empty() ? std::string("identity") : list;
  }();
  return codings;
}

// Stops at the first option libcurl refuses, and remembers which.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* easy) : easy_(easy) {}
  template <class Value>
  void operator()(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(easy_, option, value);
  }
  [[nodiscard]] CURLcode result() const noexcept { return result_; }

 private:
  CURL* easy_;
  CURLcode result_ = CURLE_OK;
};

bool environmentNamesAProxy() {
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

CURLcode prepareHandle(CURL* easy, bool cookies, const void* context) {
  const auto& io = *static_cast<const IOState*>(context);
  const auto& config = io.core.configuration();
  OptionSetter set(easy);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_HEADERFUNCTION, headerCallback);
  set(CURLOPT_WRITEFUNCTION, writeCallback);
  set(CURLOPT_XFERINFOFUNCTION, progressCallback);
  set(CURLOPT_PREREQFUNCTION, attemptCallback);
  set(CURLOPT_ACCEPT_ENCODING, "");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  // Through a proxy (from the environment), the CONNECT reply is not the response's head.
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (!io.proxyFromEnvironment) {
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOPROXY, "");  // else libcurl reads no_proxy from the environment every transfer
  }
  if (config.trustedCAFile) set(CURLOPT_CAINFO, config.trustedCAFile->c_str());
  if (config.pinnedPublicKeys) set(CURLOPT_PINNEDPUBLICKEY, config.pinnedPublicKeys->c_str());
  if (cookies) {
    set(CURLOPT_SHARE, io.share.get());
    set(CURLOPT_COOKIEFILE, "");  // turns the cookie engine on
  }
  return set.result();
}

// The URL in parts, from what URL already parsed: libcurl would parse the text again for every
// transfer. Null for what parts cannot say as written (credentials, IPv6 zones).
CurlUrl urlInParts(const URL& url) {
  if (url.user() || url.password()) return nullptr;
  const std::string& host = *url.host();
  if (host.find('%') != std::string::npos) return nullptr;
  CurlUrl parts(curl_url());
  if (!parts) return nullptr;
  CURLU* u = parts.get();
  const bool ipv6 = host.find(':') != std::string::npos;
  bool ok = curl_url_set(u, CURLUPART_SCHEME, url.scheme()->c_str(), 0) == CURLUE_OK &&
            curl_url_set(u, CURLUPART_HOST, ipv6 ? ("[" + host + "]").c_str() : host.c_str(), 0) ==
                CURLUE_OK;
  if (ok && url.port()) {
    ok = curl_url_set(u, CURLUPART_PORT, std::to_string(*url.port()).c_str(), 0) == CURLUE_OK;
  }
  if (ok && !url.percentEncodedPath().empty()) {
    ok = curl_url_set(u, CURLUPART_PATH, url.percentEncodedPath().c_str(), 0) == CURLUE_OK;
  }
  if (ok && url.query())
    ok = curl_url_set(u, CURLUPART_QUERY, url.query()->c_str(), 0) == CURLUE_OK;
  return ok ? std::move(parts) : nullptr;
}

Error setUpFailure(const Transfer& t, CURLcode code, const char* what) {
  ErrorUserInfo info;
  info.set(NSLocalizedDescriptionKey, std::string(what) + ": " + curl_easy_strerror(code));
  return makeURLError(NSURLErrorUnknown, std::string(t.url),
                      Error(CURLErrorDomain, code, std::move(info)),
                      "The request could not be set up: " + std::string(curl_easy_strerror(code)));
}

}  // namespace

IOState::IOState(SessionCore& c, CURLM* m)
    : core(c),
      multi(m),
      share(curl_share_init()),
      handles(prepareHandle, this),
      admission(c.configuration().HTTPMaximumConnectionsPerHost),
      proxyFromEnvironment(environmentNamesAProxy()),
      limits_{c.configuration().maximumResponseBodyBytes,
              c.configuration().maximumContentExpansionRatio} {
  if (share &&
      curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
    share.reset();  // cookies are then not kept; everything else works
  }
  curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  // Idle connections kept for reuse. libcurl's default follows the number of handles attached,
  // which drops whenever a burst of tasks finishes at once and would close warm connections.
  // Connections per host are limited by the admission, not by libcurl: libcurl's own cap makes
  // transfers wait on a connection that a GOAWAY is retiring.
  const long perHost = std::max(1, c.configuration().HTTPMaximumConnectionsPerHost);
  curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, std::max(64L, perHost * 8));
}

IOState::~IOState() = default;

std::optional<Error> IOState::setUp(Transfer& t) {
  const auto& config = core.configuration();
  t.cookies = share && config.HTTPShouldSetCookies && t.request().HTTPShouldHandleCookies();
  auto handle = handles.take(t.cookies);
  if (!handle.easy) return setUpFailure(t, CURLE_FAILED_INIT, "curl_easy_init");
  t.easy = std::move(handle.easy);
  t.easyTransfersSinceReset = handle.transfersSinceReset;
  t.easyMayHaveRetried = true;
  CURL* easy = t.easy.get();

  // libcurl only keeps what it is given: an option set to the value the handle last had is
  // skipped. On a failure the handle is reset, and forgets.
  auto& last = t.easyLast = handle.last;
  OptionSetter set(easy);
  const auto setLong = [&set](long& lastValue, CURLoption option, long value) {
    if (lastValue != value) set(option, value);
    lastValue = value;
  };
  t.errorBuffer = std::move(handle.errorBuffer);
  t.errorBuffer[0] = '\0';  // the handle's last transfer may have left its text
  if (last.errorBuffer != t.errorBuffer.get()) {
    set(CURLOPT_ERRORBUFFER, t.errorBuffer.get());
    last.errorBuffer = t.errorBuffer.get();
  }
  if (last.transfer != &t) {
    set(CURLOPT_PRIVATE, &t);
    set(CURLOPT_HEADERDATA, &t);
    set(CURLOPT_WRITEDATA, &t);
    set(CURLOPT_XFERINFODATA, &t);
    set(CURLOPT_PREREQDATA, &t);
    last.transfer = &t;
  }
  // A reused handle keeps the text of an earlier URL unless it is cleared. Its parts are built
  // again only for another URL than the handle's last one.
  if (handle.url && handle.urlText == t.url) {
    t.parsedURL = std::move(handle.url);
    t.parsedURLText = std::move(handle.urlText);
  } else {
    t.parsedURL = urlInParts(*t.request().url());
    t.parsedURLText.assign(t.parsedURL ? t.url : std::string_view());
  }
  if (!t.parsedURL) {
    set(CURLOPT_CURLU, static_cast<CURLU*>(nullptr));
    set(CURLOPT_URL, t.url.data());  // the view ends at its string's NUL
    last.url = nullptr;
  } else if (last.url != t.parsedURL.get()) {
    // libcurl reads the parts when the transfer starts, so the same handle is enough.
    set(CURLOPT_URL, static_cast<const char*>(nullptr));
    set(CURLOPT_CURLU, t.parsedURL.get());
    last.url = t.parsedURL.get();
  }
  // Over TLS, wait for the first connection's ALPN answer so HTTP/2 requests share it.
  setLong(last.pipeWait, CURLOPT_PIPEWAIT, t.hostKey.starts_with("https") ? 1L : 0L);
  setLong(last.streamWeight, CURLOPT_STREAM_WEIGHT,
          static_cast<long>(1 + std::clamp(t.priority, 0.0f, 1.0f) * 255));
  setLong(last.connectTimeoutMs, CURLOPT_CONNECTTIMEOUT_MS,
          static_cast<long>(t.idleTimeout.count()));
  setLong(last.freshConnect, CURLOPT_FRESH_CONNECT, t.freshConnection ? 1L : 0L);
  if (!last.noResolveList || config.hostResolver) {
    set(CURLOPT_RESOLVE, static_cast<curl_slist*>(nullptr));
  }
  last.noResolveList = !config.hostResolver;

  // Method and body. A body goes out with any method but HEAD (refused before); GET with a
  // body is sent as such.
  const std::string& method = t.request().httpMethod();
  const auto& body = t.request().httpBody();
  t.uploadBody.reset();
  const bool plainGet = method == "GET" && !body;
  if (!plainGet || !last.plainGet) {
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_NOBODY, 0L);
    set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    set(CURLOPT_NOPROGRESS, 1L);
  }
  last.plainGet = plainGet;
  if (method == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (method == "POST" || body) {
    if (method != "POST") set(CURLOPT_CUSTOMREQUEST, method.c_str());
    t.uploadBody = body.value_or(Data());
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.uploadBody->size()));
    set(CURLOPT_POSTFIELDS,
        t.uploadBody->empty() ? "" : reinterpret_cast<const char*>(t.uploadBody->data()));
    set(CURLOPT_NOPROGRESS, 0L);
  } else if (method != "GET") {
    set(CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  // Header fields: the session's extra fields unless the request sets them, then the request's,
  // then the defaults (content codings, user agent). Fields that frame the message are the
  // session's own and never taken from either. "Expect:" keeps libcurl from waiting for a
  // 100 Continue before large bodies. Requests without fields share prebuilt lists.
  const auto& fields = t.request().allHTTPHeaderFields();
  const bool suppressExpect = t.uploadBody && !fields.contains("Expect");
  bool listed = true;
  if (fields.empty() && config.HTTPAdditionalHeaders.empty()) {
    auto& shared = suppressExpect ? defaultFieldsForBodies : defaultFields;
    if (!shared) {
      CurlSlist list;
      listed = appendLine(list, ("Accept-Encoding: " + acceptedEncodings()).c_str()) &&
               (config.userAgent.empty() ||
                appendLine(list, ("User-Agent: " + config.userAgent).c_str())) &&
               (!suppressExpect || appendLine(list, "Expect:"));
      if (listed) shared = std::move(list);
    }
    if (last.fields != shared.get()) set(CURLOPT_HTTPHEADER, shared.get());
    last.fields = shared.get();
  } else {
    // The lines, each ending in a NUL (no field holds one). A handle whose last transfer sent
    // the same lines sends its list again; API requests repeat their fields.
    std::string lines;
    lines.reserve(256);
    auto append = [&](const std::string& name, const std::string& value) {
      if (isSessionOwnedField(name)) return;
      lines.append(name).append(value.empty() ? ";" : ": ").append(value).push_back('\0');
    };
    for (const auto& [name, value] : config.HTTPAdditionalHeaders) {
      if (!fields.contains(name)) append(name, value);
    }
    for (const auto& [name, value] : fields) append(name, value);
    auto isSet = [&](const char* name) {
      return fields.contains(name) || config.HTTPAdditionalHeaders.contains(name);
    };
    if (!isSet("Accept-Encoding")) append("Accept-Encoding", acceptedEncodings());
    if (!isSet("User-Agent") && !config.userAgent.empty()) append("User-Agent", config.userAgent);
    if (suppressExpect) lines.append("Expect:").push_back('\0');
    if (handle.fields && handle.fieldsText == lines) {
      t.headerList = std::move(handle.fields);
      t.headerListText = std::move(handle.fieldsText);
    } else {
      t.headerList.reset();
      for (std::size_t start = 0; listed && start < lines.size();) {
        listed = appendLine(t.headerList, lines.c_str() + start);
        start = lines.find('\0', start) + 1;
      }
      t.headerListText = listed ? std::move(lines) : std::string();
    }
    if (last.fields != t.headerList.get()) set(CURLOPT_HTTPHEADER, t.headerList.get());
    last.fields = t.headerList.get();
  }
  if (!listed) return setUpFailure(t, CURLE_OUT_OF_MEMORY, "curl_slist_append");

  if (config.hostResolver) {
    const auto& url = *t.request().url();
    const auto addresses = config.hostResolver(*url.host());
    const bool usable =
        addresses && !addresses->empty() &&
        std::all_of(addresses->begin(), addresses->end(), [](const std::string& address) {
          return !address.empty() &&
                 address.find_first_of(std::string_view(",\r\n\0", 4)) == std::string::npos;
        });
    if (!usable) {
      t.abortCode = NSURLErrorCannotFindHost;
    } else {
      std::string entry =
          *url.host() + ":" +
          std::to_string(url.port().value_or(t.hostKey.starts_with("https") ? 443 : 80)) + ":";
      for (std::size_t i = 0; i < addresses->size(); ++i) {
        const auto& address = (*addresses)[i];
        if (i > 0) entry += ",";
        entry += address.find(':') != std::string::npos ? "[" + address + "]" : address;
      }
      if (!appendLine(t.resolveList, entry.c_str())) {
        return setUpFailure(t, CURLE_OUT_OF_MEMORY, "curl_slist_append");
      }
      set(CURLOPT_RESOLVE, t.resolveList.get());
    }
  }
  if (set.result() != CURLE_OK) return setUpFailure(t, set.result(), "curl_easy_setopt");
  return std::nullopt;
}

}  // namespace zel::detail
