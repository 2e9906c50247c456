#pragma once
// ZELNetworkingClient — the library's entry class: one client per API endpoint family.
//
//   auto delegate = std::make_shared<zel::ZELNetworkingSessionDelegate>(true);
//   auto session = zel::URLSession::sessionWithConfiguration(
//       zel::zelnetworking_defaultSessionConfiguration(), delegate);
//   auto client = zel::ZELNetworkingClient::initWithBaseURL(
//       zel::URL::URLWithString("https://api.example.test/v3/"), auth, nullptr, session,
//       /*signRequestsAsMetrics=*/false, /*assumeRequestsHTTP3Capable=*/false, {}, nullptr);
//
// The client holds its session, request provider and network recorder strongly, and its
// authentication provider, session delegate and background executor weakly: the application
// keeps those three alive. Any thread may use a client. baseURL and authenticationProvider are
// read and written under the client's property lock, one field per acquisition.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include <boost/json/value.hpp>

#include "zel/client/ZELHTTPMethod.h"
#include "zel/client/ZELNetworkRequestStateProvider.h"
#include "zel/client/ZELNetworkingAPIAuthenticationProvider.h"
#include "zel/client/ZELNetworkingClientProtocol.h"
#include "zel/client/ZELRequestExecution.h"
#include "zel/foundation/ZELLock.h"
#include "zel/foundation/ZELNetworkRecorder.h"
#include "zel/futures/ZELExecutor.h"
#include "zel/futures/ZELFuture.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/multipart/ZELMultipartFormData.h"
#include "zel/platform/Data.h"
#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/ParameterDictionary.h"
#include "zel/platform/URL.h"
#include "zel/platform/URLRequest.h"
#include "zel/transport/URLSession.h"
#include "zel/transport/ZELNetworkingSessionDelegateProtocol.h"

namespace zel {

/// The outcome of signing: the path to resolve (for POST and PUT it may carry the signature in a
/// query) and the parameters to send.
struct ZELSignedParameters {
  std::string path;
  ParameterDictionary parameters;
};

class ZELNetworkingClientTask;

class ZELNetworkingClient : public ZELNetworkingClientProtocol,
                            public ZELNetworkingDataTaskClientProtocol,
                            public std::enable_shared_from_this<ZELNetworkingClient> {
 public:
  /// Makes a client. A missing base URL or session, or a session delegate that does not
  /// implement ZELNetworkingSessionDelegateProtocol, is reported through the assertion facility
  /// and the client is still made: without a base URL each path is read as a complete URL;
  /// without a conforming delegate the client has no sessionDelegate. The header fields are
  /// copied.
  [[nodiscard]] static std::shared_ptr<ZELNetworkingClient> initWithBaseURL(
      std::optional<URL> baseURL,
      std::shared_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider,
      std::shared_ptr<ZELNetworkRequestStateProvider> requestProvider,
      std::shared_ptr<URLSession> session, bool signRequestsAsMetrics,
      bool assumeRequestsHTTP3Capable, HTTPHeaders HTTPAdditionalHeaders,
      std::shared_ptr<ZELNetworkRecorder> networkRecorder);

  ZELNetworkingClient(const ZELNetworkingClient&) = delete;
  ZELNetworkingClient& operator=(const ZELNetworkingClient&) = delete;

  // ---- configuration ---------------------------------------------------------------------------

  /// The URL request paths are resolved against.
  [[nodiscard]] std::optional<URL> baseURL() const override;
  /// Requests built afterwards use the new URL; absent restores originalBaseURL().
  void setBaseURL(std::optional<URL> baseURL);
  [[nodiscard]] const std::optional<URL>& originalBaseURL() const noexcept {
    return originalBaseURL_;
  }

  [[nodiscard]] std::shared_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider()
      const override;
  /// Stored weakly.
  void setAuthenticationProvider(
      const std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>& authenticationProvider);

  /// Where multipart requests are finished (body, content type, gzip); the shared background
  /// executor unless set. Stored weakly: whoever sets an executor keeps it alive.
  [[nodiscard]] std::shared_ptr<ZELExecutor> backgroundExecutor() const;
  void setBackgroundExecutor(const std::shared_ptr<ZELExecutor>& backgroundExecutor);

  /// Header fields added to every request.
  [[nodiscard]] const HTTPHeaders& HTTPAdditionalHeaders() const noexcept override {
    return HTTPAdditionalHeaders_;
  }
  [[nodiscard]] const std::shared_ptr<URLSession>& session() const noexcept { return session_; }
  /// The session's delegate as it was when the client was made, if it conforms; nullptr once
  /// the application has let it go.
  [[nodiscard]] std::shared_ptr<ZELNetworkingSessionDelegateProtocol> sessionDelegate() const {
    return sessionDelegate_.lock();
  }
  [[nodiscard]] const std::shared_ptr<ZELNetworkRequestStateProvider>& requestProvider()
      const noexcept {
    return requestProvider_;
  }
  [[nodiscard]] const std::shared_ptr<ZELNetworkRecorder>& networkRecorder() const noexcept {
    return networkRecorder_;
  }
  /// Guards baseURL and authenticationProvider.
  [[nodiscard]] ZELLock& propertyLock() const noexcept { return propertyLock_; }

  /// A metrics client always signs, sends JSON instead of form bodies, keeps parameters out of
  /// multipart bodies and accepts service codes up to 399.
  [[nodiscard]] bool signRequestsAsMetrics() const noexcept { return signRequestsAsMetrics_; }
  /// Always false; kept for callers that read it.
  [[nodiscard]] bool encodesParametersIntoMultipart() const noexcept { return false; }
  /// Copied onto every built request as its HTTP/3 hint.
  [[nodiscard]] bool assumeRequestsHTTP3Capable() const noexcept {
    return assumeRequestsHTTP3Capable_;
  }

  // ---- process-wide switches (off at start; read when a request starts) ------------------------

  [[nodiscard]] static bool shouldLogNetworkMetrics() noexcept;
  static void setShouldLogNetworkMetrics(bool shouldLog) noexcept;
  [[nodiscard]] static bool shouldLogNetworkErrors() noexcept;
  static void setShouldLogNetworkErrors(bool shouldLog) noexcept;

  // ---- requests --------------------------------------------------------------------------------

  /// Asks the session for its tasks and cancels every data, upload and download task when it
  /// answers. Returns at once.
  void cancelAllRequests() override;

  /// The session-task priority of a request priority: High 0.75, Default 0.5, Low 0.25.
  [[nodiscard]] static float mapAPIClientRequestPriorityToNSURLSessionTaskPriority(
      ZELAPIClientRequestPriority priority) noexcept;

  // ---- verbs (see ZELNetworkingClientProtocol) -------------------------------------------------

  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters) override;
  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             ZELAPIClientRequestPriority priority) override;
  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             ZELAPIClientRequestPriority priority,
                                             NetworkServiceType networkServiceType) override;
  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             ZELAPIClientRequestPriority priority,
                                             NetworkServiceType networkServiceType,
                                             ZELResponseHeaderBlock responseHeaderBlock) override;
  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             bool urlSanityCheck,
                                             ZELAPIClientRequestPriority priority) override;
  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             bool urlSanityCheck,
                                             ZELAPIClientRequestPriority priority,
                                             NetworkServiceType networkServiceType) override;
  ZELAPIResponseFutureAndCancelToken getPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             bool urlSanityCheck,
                                             ZELAPIClientRequestPriority priority,
                                             NetworkServiceType networkServiceType,
                                             ZELResponseHeaderBlock responseHeaderBlock) override;
  ZELAPIResponseFutureAndCancelToken getBaseURL(const URL& baseURL, std::string_view path,
                                                const ParameterDictionary& parameters,
                                                ZELAPIClientRequestPriority priority) override;
  ZELAPIResponseFutureAndCancelToken getBaseURL(const URL& baseURL, std::string_view path,
                                                const ParameterDictionary& parameters,
                                                ZELAPIClientRequestPriority priority,
                                                NetworkServiceType networkServiceType) override;
  ZELAPIResponseFutureAndCancelToken deletePath(std::string_view path,
                                                const ParameterDictionary& parameters) override;
  ZELAPIResponseFutureAndCancelToken putPath(std::string_view path,
                                             const ParameterDictionary& parameters) override;
  ZELAPIResponseFutureAndCancelToken putPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             ZELBodyChunksBlock bodyChunksBlock) override;
  ZELAPIResponseFutureAndCancelToken putPath(std::string_view path,
                                             const ParameterDictionary& parameters,
                                             ZELBodyChunksBlock bodyChunksBlock,
                                             ZELUploadProgressBlock uploadProgressBlock) override;
  ZELAPIResponseFutureAndCancelToken postPath(std::string_view path,
                                              const ParameterDictionary& parameters) override;
  ZELAPIResponseFutureAndCancelToken postPath(std::string_view path,
                                              const ParameterDictionary& parameters,
                                              ZELBodyChunksBlock bodyChunksBlock) override;
  ZELAPIResponseFutureAndCancelToken postPath(std::string_view path,
                                              const ParameterDictionary& parameters,
                                              ZELBodyChunksBlock bodyChunksBlock,
                                              bool compressRequestBody) override;
  ZELAPIResponseFutureAndCancelToken postPath(std::string_view path,
                                              const ParameterDictionary& parameters,
                                              ZELBodyChunksBlock bodyChunksBlock,
                                              ZELUploadProgressBlock uploadProgressBlock) override;
  ZELAPIResponseFutureAndCancelToken patchPath(std::string_view path,
                                               const ParameterDictionary& parameters) override;

  // ---- execution -------------------------------------------------------------------------------
  //
  // Runs a request future: starts its session task with the priority, judges status and body,
  // parses the envelope (or calls the custom block), refines every error and tells the
  // authentication provider of code 3 (authorizationFailed) and code 2 (accessTokenInvalid...).
  // Without a request future: one report and the empty response. The mode (streaming or
  // completion handler) is the session delegate's.
  //
  // Threads: parsing, the custom block and refinement run on the background executor; the
  // provider calls run on the main queue (ZELMainQueue). An application without a run loop of
  // its own (a command-line tool, a server) lets the library run the main queue on a thread of
  // its own, which it does unless a dispatcher was installed:
  //
  //   auto request = client->getPath("users/me", {});
  //   auto outcome = request.future.wait(std::chrono::seconds(30));  // not on the main queue
  //   if (outcome.ok()) use(outcome.value()->data());
  //
  // or hands the callbacks to its own loop with ZELMainQueue::setDispatcher before the first
  // request.

  [[nodiscard]] ZELAPIResponseFutureAndCancelToken executeDataTaskWithRequest(
      std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
      ZELUploadProgressBlock uploadProgressBlock);
  [[nodiscard]] ZELAPIResponseFutureAndCancelToken executeDataTaskWithCustomResponseCreationBlock(
      std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
      ZELCustomResponseCreationBlock customResponseCreationBlock) override;
  [[nodiscard]] ZELAPIResponseFutureAndCancelToken executeDataTaskWithRequest(
      std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
      ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock);
  /// The full form.
  [[nodiscard]] ZELAPIResponseFutureAndCancelToken executeDataTaskWithRequest(
      std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
      ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock,
      ZELCustomResponseCreationBlock customResponseCreationBlock);
  /// Completion-handler mode, for a started triple (the priority is not used).
  [[nodiscard]] ZELAPIResponseFuture executeDataTaskWithRequestWithTriple(
      const ZELRequestTaskResultTriple& triple, ZELAPIClientRequestPriority priority,
      ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock,
      ZELCustomResponseCreationBlock customResponseCreationBlock);
  /// Streaming mode, for a started triple (the priority is not used).
  [[nodiscard]] ZELAPIResponseFuture executeDataTaskWithRequestWithTripleV2(
      const ZELRequestTaskResultTriple& triple, ZELAPIClientRequestPriority priority,
      ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock,
      ZELCustomResponseCreationBlock customResponseCreationBlock);

  // ---- request building ------------------------------------------------------------------------
  //
  // Each form returns a future of the finished request, already completed unless the body is
  // multipart (assembled on the shared background executor, finished on backgroundExecutor()).
  // Absent, with an assertion report, when the path holds "../" or "#" or no URL can be formed.
  // With the URL sanity check on, a non-empty path without a trailing "/" gets one (reported).

  /// The client's base URL, sanity check on, default service type, no chunks, no compression.
  [[nodiscard]] std::optional<ZELFuture<URLRequest>> requestForPath(
      std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters) const;
  [[nodiscard]] std::optional<ZELFuture<URLRequest>> requestForPath(
      std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters,
      ZELBodyChunksBlock bodyChunksBlock, bool compressRequestBody) const;
  [[nodiscard]] std::optional<ZELFuture<URLRequest>> requestForPath(
      std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters,
      NetworkServiceType networkServiceType, ZELBodyChunksBlock bodyChunksBlock,
      bool compressRequestBody) const;
  [[nodiscard]] std::optional<ZELFuture<URLRequest>> requestForPath(
      std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters,
      bool urlSanityCheck, NetworkServiceType networkServiceType,
      ZELBodyChunksBlock bodyChunksBlock, bool compressRequestBody) const;
  /// The core form: every argument given, the base URL included.
  [[nodiscard]] std::optional<ZELFuture<URLRequest>> requestForBaseURL(
      const std::optional<URL>& baseURL, std::string_view path, ZELHTTPMethod method,
      const ParameterDictionary& parameters, bool urlSanityCheck,
      NetworkServiceType networkServiceType, ZELBodyChunksBlock bodyChunksBlock,
      bool compressRequestBody) const;

  /// The core form done entirely on the calling thread (multipart included), returning the
  /// request itself; the body is never compressed.
  [[nodiscard]] std::optional<URLRequest> requestPathForBaseURL(
      const std::optional<URL>& baseURL, std::string_view path, ZELHTTPMethod method,
      const ParameterDictionary& parameters, bool urlSanityCheck,
      NetworkServiceType networkServiceType, const ZELBodyChunksBlock& bodyChunksBlock) const;
  /// requestPathForBaseURL with the client's base URL, PUT, sanity check on, default type.
  [[nodiscard]] std::optional<URLRequest> requestPutPath(
      std::string_view path, const ParameterDictionary& parameters,
      const ZELBodyChunksBlock& bodyChunksBlock) const override;

  // ---- building steps (used by the forms above; public for callers that assemble their own) ----

  /// The path with a trailing "/" appended (and reported) when it is not empty and lacks one.
  [[nodiscard]] static std::string urlSanityCheckForPath(std::string_view path);

  /// Signs when the access token is empty or this is a metrics client: adds "client_id" and
  /// "timestamp" and places the HMAC-SHA256 signature in the parameters ("oauth_signature") or,
  /// for POST and PUT, in a query appended to the path. Otherwise returns both unchanged.
  [[nodiscard]] ZELSignedParameters signParameters(const ParameterDictionary& parameters,
                                                   const std::optional<URL>& baseURL,
                                                   std::string_view URLPath, ZELHTTPMethod method,
                                                   std::string_view accessToken) const;
  /// The 64 hexadecimal digits of HMAC-SHA256, keyed with the client secret, over
  /// "METHOD&encoded(URL)" followed by "&encoded(name)=encoded(value)" for each parameter in
  /// case-insensitive name order.
  [[nodiscard]] static std::string signatureForURL(std::string_view signedURL,
                                                   const ParameterDictionary& signedSet,
                                                   std::string_view clientSecret,
                                                   ZELHTTPMethod method);

  /// A new request with its method, service type, HTTP/3 hint, "X-Zelvo-AppState" and
  /// "Authorization" (Basic for the token-refresh POST, else Bearer when there is a token).
  [[nodiscard]] URLRequest createRequestWithURL(
      const URL& url, ZELHTTPMethod method, NetworkServiceType networkServiceType,
      const std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>& authenticationProvider,
      std::string_view accessToken) const;
  /// Sets HTTPAdditionalHeaders(), then the request provider's headers for the request's URL.
  void updateRequestWithAdditionalParameters(URLRequest& request) const;
  /// A form body (the query text), or for a metrics client a JSON body, with its content type.
  void addParametersToRequestWithEmptyBodyChunk(URLRequest& request,
                                                const ParameterDictionary& parameters,
                                                std::string_view query) const;
  /// One form part per parameter (none for a metrics client), then the block's chunks.
  [[nodiscard]] std::shared_ptr<ZELMultipartFormData> createMultipartFormDataWithParameters(
      const ParameterDictionary& parameters, const ZELBodyChunksBlock& bodyChunksBlock) const;
  /// Sets "Content-Type" to "multipart/form-data; boundary=<boundary>".
  static void addAdditionalHeadersForRequest(URLRequest& request,
                                             const ZELMultipartFormData& multipartFormData);

  // ---- response parsing (each returns an already completed future) -----------------------------

  /// parseAPIResponse of the envelope read from a JSON value.
  [[nodiscard]] ZELAPIResponseFuture parseResponse(
      const boost::json::value* responseObject) const override;
  /// Reads a response body: no data fails with NSURLErrorDomain 2006 "nil payload"; text that is
  /// not a JSON object or array fails with the reader's error plus the status under
  /// ZELNetworkingClientErrorUserInfoHttpStatusCodeKey; otherwise the envelope (with the body in
  /// `data` and the status in `statusCode`) goes to parseAPIResponse.
  [[nodiscard]] ZELAPIResponseFuture parseData(const std::optional<Data>& data,
                                               std::int64_t statusCode) const;
  /// Accepts a response that exists, says success and has service code 0 (a metrics client:
  /// at most 399); anything else fails with the service error for its code, message, detail
  /// and data object.
  [[nodiscard]] ZELAPIResponseFuture parseAPIResponse(
      std::shared_ptr<ZELAPIResponse> response) const;

 private:
  // Only the factory can name it: {} cannot stand in for it.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  ZELNetworkingClient(
      ConstructionKey, std::optional<URL> baseURL,
      std::shared_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider,
      std::shared_ptr<ZELNetworkRequestStateProvider> requestProvider,
      std::shared_ptr<URLSession> session, bool signRequestsAsMetrics,
      bool assumeRequestsHTTP3Capable, HTTPHeaders HTTPAdditionalHeaders,
      std::shared_ptr<ZELNetworkRecorder> networkRecorder);

 private:
  // The path resolved against the base URL, or read alone without one.
  [[nodiscard]] static std::optional<URL> resolvePath(std::string_view path,
                                                      const std::optional<URL>& baseURL);
  // The request as built before its body is encoded: shared by the asynchronous and the
  // synchronous forms.
  struct PreparedRequest {
    URLRequest request;
    ParameterDictionary parameters;
    std::string query;
  };
  // Reports name reportingMethod, the public form the caller used.
  [[nodiscard]] std::optional<PreparedRequest> prepareRequest(
      const std::optional<URL>& baseURL, std::string_view path, ZELHTTPMethod method,
      const ParameterDictionary& parameters, bool urlSanityCheck,
      NetworkServiceType networkServiceType, std::string_view reportingMethod) const;
  // Sets a multipart body and its content type.
  static void setMultipartBody(URLRequest& request, ZELMultipartFormData& multipartFormData,
                               std::string_view reportingMethod);
  // gzip of a body of 150 bytes or more, unless "Content-Encoding" already says gzip.
  static void gzipRequestBody(URLRequest& request);

  // Execution's steps (ZELNetworkingClientExecution.cpp).
  [[nodiscard]] bool streamingEnabled() const;
  [[nodiscard]] ZELRequestTaskResultTriple startTask(
      const URLRequest& request, bool streaming, ZELAPIClientRequestPriority priority,
      const ZELUploadProgressBlock& uploadProgressBlock,
      const ZELResponseHeaderBlock& responseHeaderBlock);
  [[nodiscard]] ZELAPIResponseFuture runTriple(const ZELRequestTaskResultTriple& triple,
                                               bool streaming,
                                               ZELUploadProgressBlock uploadProgressBlock,
                                               ZELResponseHeaderBlock responseHeaderBlock,
                                               ZELCustomResponseCreationBlock customBlock);
  [[nodiscard]] ZELAPIResponseFuture judgeResult(const ZELNSURLSessionDataTaskResult& result,
                                                 const std::shared_ptr<URLSessionDataTask>& task,
                                                 bool streaming,
                                                 const ZELResponseHeaderBlock& responseHeaderBlock,
                                                 const ZELCustomResponseCreationBlock& customBlock);
  void requestFailed(const Error& error, const URLRequest& request,
                     const std::string& accessTokenAtStart,
                     const std::shared_ptr<ZELNetworkingClientTask>& clientTask) const;

  // The side channels (ZELNetworkingClientReporting.cpp): request notifications, the network
  // recorder, and the metrics and error reports. One report per request, shared by the steps
  // that need it (defined in src/client/RequestReport.h).
  struct RequestReport;
  void reportWillStart(const std::shared_ptr<const RequestReport>& report) const;
  void postDidCollectMetrics(const RequestReport& report,
                             const URLSessionTaskMetrics& metrics) const;
  void reportDidFinish(const RequestReport& report,
                       const ZELNSURLSessionDataTaskResult& result) const;
  void reportSuccess(const RequestReport& report) const;
  void reportFailure(const RequestReport& report, const Error& error) const;

  const bool signRequestsAsMetrics_;
  const bool assumeRequestsHTTP3Capable_;
  std::weak_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider_;  // propertyLock_
  std::optional<URL> baseURL_;                                                    // propertyLock_
  const HTTPHeaders HTTPAdditionalHeaders_;
  mutable ZELLock propertyLock_{"com.zelvo.ZELNetworkingClient.propertyLock"};
  const std::shared_ptr<URLSession> session_;
  std::weak_ptr<ZELNetworkingSessionDelegateProtocol> sessionDelegate_;
  const std::shared_ptr<ZELNetworkRequestStateProvider> requestProvider_;
  const std::optional<URL> originalBaseURL_;
  // Not under the property lock; atomic so that a read racing a write is not a data race.
  std::atomic<std::weak_ptr<ZELExecutor>> backgroundExecutor_;
  const std::shared_ptr<ZELNetworkRecorder> networkRecorder_;
};

}  // namespace zel
