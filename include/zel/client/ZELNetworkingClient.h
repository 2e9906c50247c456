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
#include "zel/foundation/ZELLock.h"
#include "zel/foundation/ZELNetworkRecorder.h"
#include "zel/futures/ZELExecutor.h"
#include "zel/platform/Data.h"
#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/URL.h"
#include "zel/transport/URLSession.h"
#include "zel/transport/ZELNetworkingSessionDelegateProtocol.h"

namespace zel {

class ZELNetworkingClient : public ZELNetworkingClientProtocol,
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
  struct ConstructionKey {};

 public:
  ZELNetworkingClient(
      ConstructionKey, std::optional<URL> baseURL,
      std::shared_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider,
      std::shared_ptr<ZELNetworkRequestStateProvider> requestProvider,
      std::shared_ptr<URLSession> session, bool signRequestsAsMetrics,
      bool assumeRequestsHTTP3Capable, HTTPHeaders HTTPAdditionalHeaders,
      std::shared_ptr<ZELNetworkRecorder> networkRecorder);

 private:
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
