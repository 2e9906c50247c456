#include "SessionCore.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "Transfer.h"
#include "TransferMetrics.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

constexpr std::size_t kMaxRedirects = 16;
constexpr std::size_t kMaxRedirectBodyBytes = 1 << 20;
constexpr auto kTimerCadence = std::chrono::milliseconds(50);
// Streams curl multiplexes on one HTTP/2 connection by default.
constexpr int kStreamsPerConnection = 100;

void ensureCurlGlobalInit() {
  static const bool initialized = [] {
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }();
  (void)initialized;
}

bool isTokenChar(unsigned char c) {
  return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return isTokenChar(static_cast<unsigned char>(c));
  });
}

bool isSafeHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool isHTTPScheme(const std::optional<std::string>& scheme) {
  return scheme && (headerNameEquals(*scheme, "http") || headerNameEquals(*scheme, "https"));
}

std::optional<std::string> urlText(const URLRequest& request) {
  if (!request.url()) return std::nullopt;
  return request.url()->absoluteString();
}

Error describedURLError(std::int64_t code, const URLRequest& request, std::string description) {
  return makeURLError(code, urlText(request), std::nullopt, std::move(description));
}

// A request is never sent when libcurl would have to guess at it, or when its method or header
// fields could smuggle extra lines into the message.
std::optional<Error> validateRequest(const URLRequest& request) {
  if (!request.url()) {
    return describedURLError(NSURLErrorBadURL, request, "The request has no URL.");
  }
  const auto& url = *request.url();
  if (!isHTTPScheme(url.scheme())) {
    return describedURLError(NSURLErrorUnsupportedURL, request,
                             "unsupported URL: only http and https URLs can be loaded.");
  }
  if (!url.host() || url.host()->empty()) {
    return describedURLError(NSURLErrorBadURL, request, "The request's URL has no host.");
  }
  if (!isToken(request.httpMethod())) {
    return describedURLError(NSURLErrorBadURL, request,
                             "The request's HTTP method is not a valid token; it was not sent.");
  }
  for (const auto& [name, value] : request.allHTTPHeaderFields()) {
    if (!isToken(name) || !isSafeHeaderValue(value)) {
      return describedURLError(NSURLErrorBadURL, request,
                               "The request's header field \u201C" + name +
                                   "\u201D holds a CR, LF or NUL character or an invalid name; "
                                   "the request was not sent.");
    }
  }
  return std::nullopt;
}

// "scheme://host:port", the unit of connection limits. Called for every hop: one allocation.
std::string hostKeyFor(const URL& url) {
  const std::string& scheme = *url.scheme();
  const std::string& host = *url.host();
  std::string key;
  key.reserve(scheme.size() + host.size() + 10);
  for (const char c : scheme)
    key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  key.append("://").append(host).push_back(':');
  char digits[8];
  const int port = url.port().value_or(key.starts_with("https") ? 443 : 80);
  key.append(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
  return key;
}

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

bool isRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// ---- the I/O thread's state ----------------------------------------------------------------

struct HostQueue {
  int active = 0;
  bool multiplexed = false;
  std::vector<Transfer*> waiting;  // a heap: highest priority first, then first come
};

struct IOState {
  SessionCore& core;
  CURLM* multi = nullptr;
  CURLSH* share = nullptr;
  std::unordered_map<std::uint64_t, std::unique_ptr<Transfer>> transfers;
  std::unordered_map<std::string, HostQueue> hosts;
  std::vector<CURL*> spareWithCookies;  // finished handles, kept for their set-up options
  std::vector<CURL*> spareWithoutCookies;
  curl_slist* defaultFields = nullptr;  // shared by requests without header fields of their own
  curl_slist* defaultFieldsForBodies = nullptr;
  std::vector<std::uint64_t> dirty;
  std::vector<std::uint64_t> refusedAtStart;  // failed before libcurl saw them
  std::uint64_t sequence = 0;
  SteadyClock::time_point nextTimerCheck;

  explicit IOState(SessionCore& c) : core(c) {}

  void start(const std::shared_ptr<URLSessionTask>& task);
  void enqueue(Transfer& t);
  void admit(const std::string& hostKey);
  CURL* takeHandle(bool cookies);
  void attach(Transfer& t);
  void detach(Transfer& t);
  void onDone(Transfer& t, CURLcode code);
  void onHeadComplete(Transfer& t);
  void followRedirect(Transfer& t);
  void redirectDecision(const std::shared_ptr<URLSessionTask>& task,
                        std::optional<URLRequest> request);
  void cancel(const std::shared_ptr<URLSessionTask>& task, std::int64_t code);
  void complete(Transfer& t, std::optional<Error> error);
  void flushDirty();
  void flush(Transfer& t);
  void checkTimers(SteadyClock::time_point now);
  Error transportError(Transfer& t, CURLcode code);
  int limitFor(const HostQueue& host) const;
};

void Transfer::resetHop() {
  parser = ResponseHeadParser();  // the head-size limit counts one hop's head
  headDone = false;
  response.reset();
  redirecting = false;
  redirectBody.clear();
  decodedBodyBytes = 0;
  lastUploadNow = 0;
  uploadDoneAt.reset();
  abortCode.reset();
  tlsVersion.reset();
  tlsCipher.reset();
  errorBuffer[0] = '\0';
}

namespace {

bool byPriority(const Transfer* a, const Transfer* b) {
  // std heap keeps the "largest" on top: higher priority, then the earlier sequence.
  if (a->priority != b->priority) return a->priority < b->priority;
  return a->sequence > b->sequence;
}

size_t headerCallback(char* buffer, size_t size, size_t count, void* userdata) {
  auto& t = *static_cast<Transfer*>(userdata);
  const size_t length = size * count;
  t.lastActivity = SteadyClock::now();
  if (t.headDone) return length;  // trailers
  switch (t.parser.feedLine(std::string_view(buffer, length))) {
    case ResponseHeadParser::Outcome::NeedMore:
      return length;
    case ResponseHeadParser::Outcome::HeadComplete: {
      t.headDone = true;
      t.io->onHeadComplete(t);
      return length;
    }
    case ResponseHeadParser::Outcome::Malformed:
      t.abortCode = NSURLErrorCannotParseResponse;
      return 0;
    case ResponseHeadParser::Outcome::TooLarge:
      t.abortCode = NSURLErrorBadServerResponse;
      return 0;
  }
  return 0;
}

size_t writeCallback(char* buffer, size_t size, size_t count, void* userdata) {
  auto& t = *static_cast<Transfer*>(userdata);
  const size_t length = size * count;
  t.lastActivity = SteadyClock::now();
  if (t.redirecting) {
    const size_t room =
        kMaxRedirectBodyBytes - std::min(kMaxRedirectBodyBytes, t.redirectBody.size());
    t.redirectBody.append(buffer, std::min(room, length));
    return length;
  }
  t.decodedBodyBytes += static_cast<std::int64_t>(length);
  t.body.append(buffer, length);
  if (t.streaming && !t.dirty) {
    t.dirty = true;
    t.io->dirty.push_back(t.task->taskIdentifier());
  }
  return length;
}

int progressCallback(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
  auto& t = *static_cast<Transfer*>(userdata);
  if (ulnow <= t.lastUploadNow || !t.uploadBody) return 0;
  const auto now = SteadyClock::now();
  const curl_off_t delta = ulnow - t.lastUploadNow;
  t.lastUploadNow = ulnow;
  t.lastActivity = now;
  const auto expected = static_cast<std::int64_t>(t.uploadBody->size());
  if (ulnow >= expected) t.uploadDoneAt = now;
  t.io->core.deliverUploadProgress(t.task, delta, ulnow, expected);
  return 0;
}

}  // namespace

int IOState::limitFor(const HostQueue& host) const {
  const int perHost = std::max(1, core.configuration().HTTPMaximumConnectionsPerHost);
  return host.multiplexed ? perHost * kStreamsPerConnection : perHost;
}

void IOState::start(const std::shared_ptr<URLSessionTask>& task) {
  auto transfer = std::make_unique<Transfer>();
  Transfer& t = *transfer;
  t.task = task;
  t.io = this;
  bool cancelledMeanwhile = false;
  {
    std::lock_guard lock(task->mutex_);
    t.streaming = !task->completionHandler_;
    // cancel() may have run between resume() and this command: its command found nothing.
    cancelledMeanwhile = task->state_ == URLSessionTaskState::Canceling;
  }
  t.taskStartDate = std::chrono::system_clock::now();
  t.taskStartSteady = SteadyClock::now();
  const double resource = core.configuration().timeoutIntervalForResource;
  t.resourceDeadline =
      t.taskStartSteady +
      std::chrono::milliseconds(static_cast<std::int64_t>(std::min(resource, 1e9) * 1000));
  t.request = task->originalRequest();
  transfers.emplace(task->taskIdentifier(), std::move(transfer));
  if (cancelledMeanwhile) {
    complete(t, makeURLError(NSURLErrorCancelled, urlText(t.request)));
    return;
  }
  if (auto invalid = validateRequest(t.request)) {
    complete(t, std::move(*invalid));
    return;
  }
  enqueue(t);
}

void IOState::enqueue(Transfer& t) {
  t.resetHop();
  t.phase = Transfer::Phase::Waiting;
  t.url = t.request.url()->absoluteString();  // a view into the hop's request
  t.hostKey = hostKeyFor(*t.request.url());
  t.priority = t.task->priority();
  t.sequence = ++sequence;
  t.lastActivity = SteadyClock::now();
  const double requestTimeout = t.request.timeoutInterval() != URLRequest::kDefaultTimeoutInterval
                                    ? t.request.timeoutInterval()
                                    : core.configuration().timeoutIntervalForRequest;
  t.idleTimeout =
      std::chrono::milliseconds(static_cast<std::int64_t>(std::max(0.001, requestTimeout) * 1000));
  auto& host = hosts[t.hostKey];
  host.waiting.push_back(&t);
  std::push_heap(host.waiting.begin(), host.waiting.end(), byPriority);
  admit(t.hostKey);
}

void IOState::admit(const std::string& hostKey) {
  auto it = hosts.find(hostKey);
  if (it == hosts.end()) return;
  auto& host = it->second;
  while (!host.waiting.empty() && host.active < limitFor(host)) {
    std::pop_heap(host.waiting.begin(), host.waiting.end(), byPriority);
    Transfer* next = host.waiting.back();
    host.waiting.pop_back();
    ++host.active;
    attach(*next);
  }
  if (host.active == 0 && host.waiting.empty() && !host.multiplexed) hosts.erase(it);
}

CURL* IOState::takeHandle(bool cookies) {
  auto& pool = cookies ? spareWithCookies : spareWithoutCookies;
  if (!pool.empty()) {
    CURL* easy = pool.back();
    pool.pop_back();
    return easy;
  }
  // A new handle gets the options that stay the same for every transfer of the session.
  const auto& config = core.configuration();
  CURL* easy = curl_easy_init();
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, headerCallback);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeCallback);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progressCallback);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  // Through a proxy (from the environment), the CONNECT reply is not the response's head.
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (config.trustedCAFile) curl_easy_setopt(easy, CURLOPT_CAINFO, config.trustedCAFile->c_str());
  if (config.pinnedPublicKeys) {
    curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, config.pinnedPublicKeys->c_str());
  }
  if (cookies) {
    curl_easy_setopt(easy, CURLOPT_SHARE, share);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
  }
  return easy;
}

void IOState::attach(Transfer& t) {
  const auto& config = core.configuration();
  t.cookies = config.HTTPShouldSetCookies && t.request.HTTPShouldHandleCookies();
  CURL* easy = takeHandle(t.cookies);
  t.easy = easy;
  t.phase = Transfer::Phase::Active;
  t.fetchStartDate = std::chrono::system_clock::now();
  t.fetchStartSteady = SteadyClock::now();
  t.lastActivity = t.fetchStartSteady;

  // Everything below is set for every transfer, so nothing of an earlier one carries over.
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
  curl_easy_setopt(easy, CURLOPT_URL, t.url.data());  // the view ends at the string's NUL
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
  // Over TLS, wait for the first connection's ALPN answer so HTTP/2 requests share it.
  curl_easy_setopt(easy, CURLOPT_PIPEWAIT, t.hostKey.starts_with("https") ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_STREAM_WEIGHT,
                   static_cast<long>(1 + std::clamp(t.priority, 0.0f, 1.0f) * 255));
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.idleTimeout.count()));
  curl_easy_setopt(easy, CURLOPT_RESOLVE, nullptr);

  // Method and body. GET and HEAD never carry a body.
  const std::string& method = t.request.httpMethod();
  t.uploadBody.reset();
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (t.request.httpBody() || method == "POST") {
      t.uploadBody = t.request.httpBody().value_or(Data());
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(t.uploadBody->size()));
      curl_easy_setopt(
          easy, CURLOPT_POSTFIELDS,
          t.uploadBody->empty() ? "" : reinterpret_cast<const char*>(t.uploadBody->data()));
      curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    }
  }

  // Header fields: the session's extra headers unless the request sets them, then the request's,
  // then the defaults (content codings, user agent). "Expect:" keeps libcurl from waiting for a
  // 100 Continue before large bodies. Requests without fields of their own share prebuilt lists.
  const auto& fields = t.request.allHTTPHeaderFields();
  const bool suppressExpect = t.uploadBody && !fields.contains("Expect");
  if (fields.empty() && config.HTTPAdditionalHeaders.empty()) {
    auto& shared = suppressExpect ? defaultFieldsForBodies : defaultFields;
    if (shared == nullptr) {
      shared = curl_slist_append(nullptr, ("Accept-Encoding: " + acceptedEncodings()).c_str());
      if (!config.userAgent.empty()) {
        shared = curl_slist_append(shared, ("User-Agent: " + config.userAgent).c_str());
      }
      if (suppressExpect) shared = curl_slist_append(shared, "Expect:");
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, shared);
  } else {
    auto append = [&t](const std::string& name, const std::string& value) {
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      t.headerList = curl_slist_append(t.headerList, line.c_str());
    };
    for (const auto& [name, value] : config.HTTPAdditionalHeaders) {
      if (!fields.contains(name) && isToken(name) && isSafeHeaderValue(value)) append(name, value);
    }
    for (const auto& [name, value] : fields) append(name, value);
    auto isSet = [&](const char* name) {
      return fields.contains(name) || config.HTTPAdditionalHeaders.contains(name);
    };
    if (!isSet("Accept-Encoding")) append("Accept-Encoding", acceptedEncodings());
    if (!isSet("User-Agent") && !config.userAgent.empty()) append("User-Agent", config.userAgent);
    if (suppressExpect) t.headerList = curl_slist_append(t.headerList, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList);
  }

  if (config.hostResolver) {
    const auto& url = *t.request.url();
    const auto addresses = config.hostResolver(*url.host());
    if (!addresses || addresses->empty()) {
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
      t.resolveList = curl_slist_append(nullptr, entry.c_str());
      curl_easy_setopt(easy, CURLOPT_RESOLVE, t.resolveList);
    }
  }

  if (t.abortCode) {
    // Refused before anything was sent; the I/O loop finishes it after this admission round.
    refusedAtStart.push_back(t.task->taskIdentifier());
    return;
  }
  curl_multi_add_handle(multi, easy);
  t.addedToMulti = true;
}

void IOState::detach(Transfer& t) {
  if (t.easy == nullptr) return;
  if (t.addedToMulti) curl_multi_remove_handle(multi, t.easy);
  t.addedToMulti = false;
  (t.cookies ? spareWithCookies : spareWithoutCookies).push_back(t.easy);
  t.easy = nullptr;
  curl_slist_free_all(t.headerList);
  t.headerList = nullptr;
  curl_slist_free_all(t.resolveList);
  t.resolveList = nullptr;
  auto it = hosts.find(t.hostKey);
  if (it != hosts.end()) --it->second.active;
}

void IOState::onHeadComplete(Transfer& t) {
  if (core.collectsMetrics()) captureTLSInfo(t);
  auto& head = t.parser.head();
  auto response = std::make_shared<const HTTPURLResponse>(
      *t.request.url(), head.statusCode, std::move(head.httpVersion), std::move(head.headers));
  t.response = response;
  if (isRedirectStatus(response->statusCode()) && response->valueForHTTPHeaderField("Location")) {
    t.redirecting = true;
    return;
  }
  {
    std::lock_guard lock(t.task->mutex_);
    t.task->response_ = response;
  }
  if (t.streaming) core.deliverResponse(t.task, response);
}

Error IOState::transportError(Transfer& t, CURLcode code) {
  std::string detail = curl_easy_strerror(code);
  if (t.errorBuffer[0] != '\0') detail += std::string(": ") + t.errorBuffer;
  ErrorUserInfo info;
  info.set(NSLocalizedDescriptionKey, std::move(detail));
  Error underlying(CURLErrorDomain, static_cast<std::int64_t>(code), std::move(info));
  long osErrno = 0;
  if (t.addedToMulti) curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osErrno);
  std::int64_t mapped = t.abortCode ? *t.abortCode : NSURLErrorCodeForCurlCode(code, osErrno);
  // Schemes are checked before a transfer starts, so here libcurl means a response it cannot
  // read as HTTP (a garbage status line is taken for refused HTTP/0.9).
  if (!t.abortCode && code == CURLE_UNSUPPORTED_PROTOCOL) mapped = NSURLErrorCannotParseResponse;
  std::string description = NSURLErrorLocalizedDescription(
      mapped, t.request.url() ? t.request.url()->host().value_or("") : "");
  return makeURLError(mapped, std::string(t.url), std::move(underlying), std::move(description));
}

void IOState::onDone(Transfer& t, CURLcode code) {
  // A transfer refused before libcurl ran it has no facts of its own on its (reused) handle.
  if (core.collectsMetrics() && t.addedToMulti) {
    t.transactions.push_back(collectTransactionMetrics(t));
  }
  std::optional<Error> error;
  if (code != CURLE_OK || t.abortCode) error = transportError(t, code);
  long httpVersion = 0;
  if (t.addedToMulti) curl_easy_getinfo(t.easy, CURLINFO_HTTP_VERSION, &httpVersion);
  const std::string hostKey = t.hostKey;
  detach(t);
  if (httpVersion == CURL_HTTP_VERSION_2_0) hosts[hostKey].multiplexed = true;

  if (error) {
    complete(t, std::move(error));
  } else if (t.redirecting) {
    followRedirect(t);
  } else {
    complete(t, std::nullopt);
  }
  admit(hostKey);
}

void IOState::followRedirect(Transfer& t) {
  const auto location = t.response->valueForHTTPHeaderField("Location").value_or("");
  auto target = URL::URLWithString(location, *t.request.url());
  if (!target) {
    complete(t, describedURLError(NSURLErrorRedirectToNonExistentLocation, t.request,
                                  "redirected to nowhere: the Location \u201C" + location +
                                      "\u201D is not a valid URL."));
    return;
  }
  if (!isHTTPScheme(target->scheme())) {
    complete(t, makeURLError(NSURLErrorUnsupportedURL, target->absoluteString()));
    return;
  }
  if (t.hops >= kMaxRedirects) {
    complete(t, makeURLError(NSURLErrorHTTPTooManyRedirects, std::string(t.url)));
    return;
  }
  URLRequest proposed = t.request;
  proposed.setURL(*target);
  const int status = t.response->statusCode();
  const std::string& method = t.request.httpMethod();
  if ((status == 303 && method != "HEAD") ||
      ((status == 301 || status == 302) && method == "POST")) {
    proposed.setHTTPMethod("GET");
    proposed.setHTTPBody(std::nullopt);
    proposed.setValue(std::nullopt, "Content-Type");
    proposed.setValue(std::nullopt, "Content-Length");
    proposed.setValue(std::nullopt, "Content-Encoding");
  }
  t.phase = Transfer::Phase::AwaitingRedirect;
  core.deliverRedirect(t.task, std::static_pointer_cast<const HTTPURLResponse>(t.response),
                       std::move(proposed));
}

void IOState::redirectDecision(const std::shared_ptr<URLSessionTask>& task,
                               std::optional<URLRequest> request) {
  auto it = transfers.find(task->taskIdentifier());
  if (it == transfers.end() || it->second->phase != Transfer::Phase::AwaitingRedirect) return;
  Transfer& t = *it->second;
  if (!request) {
    // The delegate stopped: the 3xx response and its body are the task's outcome.
    {
      std::lock_guard lock(task->mutex_);
      task->response_ = t.response;
    }
    t.body = std::move(t.redirectBody);
    t.decodedBodyBytes = static_cast<std::int64_t>(t.body.size());
    if (t.streaming) {
      core.deliverResponse(task, t.response);
      if (!t.body.empty()) flush(t);
    }
    complete(t, std::nullopt);
    return;
  }
  ++t.hops;
  t.request = std::move(*request);
  t.url = {};  // viewed the previous request
  {
    std::lock_guard lock(task->mutex_);
    task->currentRequest_ = t.request;
  }
  if (auto invalid = validateRequest(t.request)) {
    complete(t, std::move(*invalid));
    return;
  }
  enqueue(t);
}

void IOState::cancel(const std::shared_ptr<URLSessionTask>& task, std::int64_t code) {
  auto it = transfers.find(task->taskIdentifier());
  if (it == transfers.end()) return;
  Transfer& t = *it->second;
  const std::string hostKey = t.hostKey;
  switch (t.phase) {
    case Transfer::Phase::Active:
      if (core.collectsMetrics() && t.addedToMulti) {
        t.transactions.push_back(collectTransactionMetrics(t));
      }
      detach(t);
      break;
    case Transfer::Phase::Waiting: {
      auto host = hosts.find(hostKey);
      if (host != hosts.end()) {
        auto& waiting = host->second.waiting;
        waiting.erase(std::remove(waiting.begin(), waiting.end(), &t), waiting.end());
        std::make_heap(waiting.begin(), waiting.end(), byPriority);
      }
      break;
    }
    case Transfer::Phase::AwaitingRedirect:
      break;
  }
  std::string description = NSURLErrorLocalizedDescription(code);
  complete(t, makeURLError(code, t.url.empty() ? urlText(t.request) : std::string(t.url),
                           std::nullopt, std::move(description)));
  admit(hostKey);
}

void IOState::flush(Transfer& t) {
  t.dirty = false;
  if (t.body.empty()) return;
  core.deliverData(t.task, Data(std::move(t.body)));
  t.body = std::string();
}

void IOState::flushDirty() {
  for (const auto id : dirty) {
    auto it = transfers.find(id);
    if (it != transfers.end() && it->second->dirty) flush(*it->second);
  }
  dirty.clear();
}

void IOState::complete(Transfer& t, std::optional<Error> error) {
  const auto task = t.task;
  std::optional<Data> body;
  if (t.streaming) {
    if (t.dirty || !t.body.empty()) flush(t);
  } else if (!error) {
    body = Data(std::move(t.body));
  }
  URLSessionTaskMetrics metrics;
  metrics.transactionMetrics = std::move(t.transactions);
  metrics.taskInterval = DateInterval{t.taskStartDate, SteadyClock::now() - t.taskStartSteady};
  metrics.redirectCount = t.hops;
  transfers.erase(task->taskIdentifier());  // t is gone from here on
  core.finishTask(task, std::move(body), std::move(error), std::move(metrics));
}

void IOState::checkTimers(SteadyClock::time_point now) {
  std::vector<std::shared_ptr<URLSessionTask>> expired;
  for (const auto& [id, t] : transfers) {
    if (t->phase == Transfer::Phase::AwaitingRedirect) continue;
    if (now >= t->resourceDeadline || now - t->lastActivity >= t->idleTimeout)
      expired.push_back(t->task);
  }
  for (const auto& task : expired) cancel(task, NSURLErrorTimedOut);
}

// ---- SessionCore ------------------------------------------------------------------------------

SessionCore::SessionCore(URLSessionConfiguration configuration,
                         std::shared_ptr<URLSessionDelegate> delegate)
    : configuration_(std::move(configuration)),
      delegateQueue_(std::make_shared<ZELSerialQueue>("com.zelvo.URLSession.delegateQueue")),
      collectsMetrics_(delegate != nullptr),
      delegate_(std::move(delegate)) {
  ensureCurlGlobalInit();
  multi_ = curl_multi_init();
}

SessionCore::~SessionCore() = default;

void SessionCore::start() {
  std::thread([self = shared_from_this()] { self->ioThreadMain(); }).detach();
}

std::shared_ptr<URLSessionDelegate> SessionCore::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void SessionCore::sendCommand(Command command) {
  std::lock_guard lock(mutex_);
  if (ioExited_) return;  // only stale decisions for finished tasks can arrive this late
  commands_.push_back(std::move(command));
  // Only a sleeping I/O thread needs the wake-up (a syscall); a busy one looks before it polls.
  if (ioSleeping_) {
    ioSleeping_ = false;
    curl_multi_wakeup(static_cast<CURLM*>(multi_));
  }
}

namespace {
thread_local const SessionCore* tlsIOThreadOf = nullptr;
}

bool SessionCore::isIOThread() const noexcept {
  return tlsIOThreadOf == this;
}

void SessionCore::ioThreadMain() {
  tlsIOThreadOf = this;
  IOState io(*this);
  io.multi = static_cast<CURLM*>(multi_);
  io.share = curl_share_init();
  curl_share_setopt(io.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  curl_multi_setopt(io.multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  const long perHost = std::max(1, configuration_.HTTPMaximumConnectionsPerHost);
  curl_multi_setopt(io.multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost);
  // Idle connections kept for reuse. libcurl's default follows the number of handles attached,
  // which drops whenever a burst of tasks finishes at once and would close warm connections.
  curl_multi_setopt(io.multi, CURLMOPT_MAXCONNECTS, std::max(64L, perHost * 8));

  std::vector<Command> batch;
  for (;;) {
    bool stop = false;
    {
      std::lock_guard lock(mutex_);
      batch.swap(commands_);
      stop = stopRequested_;
    }
    for (auto& command : batch) {
      std::visit(
          [&](auto& c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, StartCommand>) {
              io.start(c.task);
            } else if constexpr (std::is_same_v<T, CancelCommand>) {
              io.cancel(c.task, NSURLErrorCancelled);
            } else {
              io.redirectDecision(c.task, std::move(c.request));
            }
          },
          command);
    }
    batch.clear();
    for (const auto id : std::exchange(io.refusedAtStart, {})) {
      auto it = io.transfers.find(id);
      if (it != io.transfers.end()) io.onDone(*it->second, CURLE_COULDNT_RESOLVE_HOST);
    }
    if (stop && io.transfers.empty()) break;

    int running = 0;
    curl_multi_perform(io.multi, &running);
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(io.multi, &pending)) {
      if (message->msg != CURLMSG_DONE) continue;
      Transfer* transfer = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
      const CURLcode result = message->data.result;  // message is invalid after removal
      if (transfer != nullptr) io.onDone(*transfer, result);
    }
    io.flushDirty();

    const auto now = SteadyClock::now();
    if (now >= io.nextTimerCheck) {
      io.checkTimers(now);
      io.nextTimerCheck = now + kTimerCadence;
    }
    long timeout = 1000;
    if (!io.transfers.empty()) {
      long curlTimeout = -1;
      curl_multi_timeout(io.multi, &curlTimeout);
      timeout = kTimerCadence.count();
      if (curlTimeout >= 0) timeout = std::min(timeout, curlTimeout);
    }
    // Run this round's delegate events here while the delegate queue is idle: a finished task's
    // handler usually starts the next request, which is then sent without any thread hop.
    delegateQueue_->runPendingInline();
    {
      std::lock_guard lock(mutex_);
      if (!commands_.empty() || stopRequested_) continue;
      ioSleeping_ = true;
    }
    curl_multi_poll(io.multi, nullptr, 0, static_cast<int>(timeout), nullptr);
    {
      std::lock_guard lock(mutex_);
      ioSleeping_ = false;
    }
  }

  delegateQueue_->runPendingInline();  // hands anything left to the delegate queue's thread
  if (shutDownQueueOnExit_) delegateQueue_->shutdown();
  for (CURL* easy : io.spareWithCookies) curl_easy_cleanup(easy);
  for (CURL* easy : io.spareWithoutCookies) curl_easy_cleanup(easy);
  curl_slist_free_all(io.defaultFields);
  curl_slist_free_all(io.defaultFieldsForBodies);
  {
    std::lock_guard lock(mutex_);
    ioExited_ = true;
  }
  curl_multi_cleanup(io.multi);
  curl_share_cleanup(io.share);
  ioExitedChanged_.notify_all();
}

}  // namespace zel::detail
