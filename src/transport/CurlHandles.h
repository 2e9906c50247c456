#pragma once
// RAII owners for libcurl's handles, and the pool of easy handles a session reuses.

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace zel::detail {

struct CurlEasyCleanup {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct CurlSlistCleanup {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
struct CurlUrlCleanup {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
struct CurlMultiCleanup {
  void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct CurlShareCleanup {
  void operator()(CURLSH* share) const noexcept { curl_share_cleanup(share); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistCleanup>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareCleanup>;

/// Appends one line to a header list; false (list unchanged) when libcurl could not.
[[nodiscard]] bool appendLine(CurlSlist& list, const char* line);

/// Easy handles kept for reuse. libcurl 7.88 keeps counting a handle's retries on dead pooled
/// connections across transfers, until only a reset clears the count, and then fails a healthy
/// request with "Connection died, tried 5 times". A handle is therefore reset after a transfer
/// that failed or was sent more than once (libcurl calls the pre-request callback for every
/// attempt, also when a retry reuses another pooled connection), and after every
/// kTransfersBetweenResets transfers in any case; a reset handle gets the session-wide options
/// again when it is taken. Handles that share the session's cookie store are kept apart.
class EasyHandlePool {
 public:
  static constexpr int kTransfersBetweenResets = 64;

  /// Sets the options every transfer of the session shares (callbacks, protocols, TLS trust,
  /// cookies) on a new or reset handle.
  using Prepare = CURLcode (*)(CURL* easy, bool cookies, const void* context);

  /// The values a handle's last transfer gave the options every transfer sets: a transfer that
  /// would set the same value skips the call (an API client repeats one request shape, and
  /// every call costs). A new or reset handle knows none.
  struct LastOptions {
    const void* transfer = nullptr;  // the callbacks' data and the private pointer
    const char* errorBuffer = nullptr;
    const CURLU* url = nullptr;  // given in parts, with the text URL cleared
    const curl_slist* fields = nullptr;
    long pipeWait = -1;
    long streamWeight = -1;
    long connectTimeoutMs = -1;
    long freshConnect = -1;
    bool plainGet = false;       // GET on, NOBODY off, no custom method, no progress meter
    bool noResolveList = false;  // RESOLVE cleared
  };
  struct Handle {
    // The URL the handle's last transfer went to, in parts, and as text: the next transfer to
    // the same URL takes it as it is (libcurl only reads it). Declared before easy, as the
    // field list: both outlive it.
    CurlUrl url;
    std::string urlText;
    // Its last transfer's own header field list, and its lines (each ending in a NUL).
    CurlSlist fields;
    std::string fieldsText;
    CurlEasy easy;
    // libcurl's error text for the handle's transfers (CURL_ERROR_SIZE bytes): kept with the
    // handle, so a transfer stays small enough for the allocator's fast path.
    std::unique_ptr<char[]> errorBuffer;
    int transfersSinceReset = 0;
    LastOptions last;
  };

  EasyHandlePool(Prepare prepare, const void* context) : prepare_(prepare), context_(context) {}

  /// A prepared handle; its easy is null when libcurl could not make or prepare one.
  [[nodiscard]] Handle take(bool cookies);
  /// Takes a handle back after a transfer; mayHaveRetried resets it.
  void give(Handle handle, bool cookies, bool mayHaveRetried);

 private:
  Prepare prepare_;
  const void* context_;
  std::vector<Handle> withCookies_;
  std::vector<Handle> withoutCookies_;
  std::vector<CurlEasy> reset_;
};

}  // namespace zel::detail
