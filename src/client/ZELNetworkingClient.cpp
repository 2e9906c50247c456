#include "zel/client/ZELNetworkingClient.h"

#include <atomic>

#include "zel/foundation/ZELAssertion.h"
#include "zel/transport/URLSessionTask.h"

namespace zel {

namespace {

constexpr const char* kInitMethod =
    "-[ZELNetworkingClient initWithBaseURL:authenticationProvider:requestProvider:session:"
    "signRequestsAsMetrics:assumeRequestsHTTP3Capable:HTTPAdditionalHeaders:networkRecorder:]";

std::atomic<bool> gShouldLogNetworkMetrics{false};
std::atomic<bool> gShouldLogNetworkErrors{false};

}  // namespace

std::shared_ptr<ZELNetworkingClient> ZELNetworkingClient::initWithBaseURL(
    std::optional<URL> baseURL,
    std::shared_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider,
    std::shared_ptr<ZELNetworkRequestStateProvider> requestProvider,
    std::shared_ptr<URLSession> session, bool signRequestsAsMetrics,
    bool assumeRequestsHTTP3Capable, HTTPHeaders HTTPAdditionalHeaders,
    std::shared_ptr<ZELNetworkRecorder> networkRecorder) {
  return std::make_shared<ZELNetworkingClient>(
      ConstructionKey{}, std::move(baseURL), std::move(authenticationProvider),
      std::move(requestProvider), std::move(session), signRequestsAsMetrics,
      assumeRequestsHTTP3Capable, std::move(HTTPAdditionalHeaders), std::move(networkRecorder));
}

ZELNetworkingClient::ZELNetworkingClient(
    ConstructionKey, std::optional<URL> baseURL,
    std::shared_ptr<ZELNetworkingAPIAuthenticationProvider> authenticationProvider,
    std::shared_ptr<ZELNetworkRequestStateProvider> requestProvider,
    std::shared_ptr<URLSession> session, bool signRequestsAsMetrics,
    bool assumeRequestsHTTP3Capable, HTTPHeaders HTTPAdditionalHeaders,
    std::shared_ptr<ZELNetworkRecorder> networkRecorder)
    : signRequestsAsMetrics_(signRequestsAsMetrics),
      assumeRequestsHTTP3Capable_(assumeRequestsHTTP3Capable),
      authenticationProvider_(authenticationProvider),
      baseURL_(baseURL),
      HTTPAdditionalHeaders_(std::move(HTTPAdditionalHeaders)),
      session_(std::move(session)),
      requestProvider_(std::move(requestProvider)),
      originalBaseURL_(std::move(baseURL)),
      backgroundExecutor_(ZELExecutor::background()),
      networkRecorder_(std::move(networkRecorder)) {
  if (!originalBaseURL_)
    ZELAssertionFailure("Invalid parameter not satisfying: baseURL", kInitMethod);
  if (!session_) ZELAssertionFailure("Invalid parameter not satisfying: session", kInitMethod);

  // The delegate is looked at only here; replacing it later does not affect the client.
  if (auto delegate = session_ ? session_->delegate() : nullptr) {
    if (auto conforming =
            std::dynamic_pointer_cast<ZELNetworkingSessionDelegateProtocol>(delegate)) {
      sessionDelegate_ = conforming;
    } else {
      ZELAssertionFailure(
          "If not nil, session.delegate must conform to ZELNetworkingSessionDelegate protocol",
          kInitMethod);
    }
  }
}

std::optional<URL> ZELNetworkingClient::baseURL() const {
  return propertyLock_.lockWithBlock([&] { return baseURL_; });
}

void ZELNetworkingClient::setBaseURL(std::optional<URL> baseURL) {
  propertyLock_.lockWithBlock([&] { baseURL_ = baseURL ? std::move(baseURL) : originalBaseURL_; });
}

std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>
ZELNetworkingClient::authenticationProvider() const {
  return propertyLock_.lockWithBlock([&] { return authenticationProvider_.lock(); });
}

void ZELNetworkingClient::setAuthenticationProvider(
    const std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>& authenticationProvider) {
  propertyLock_.lockWithBlock([&] { authenticationProvider_ = authenticationProvider; });
}

std::shared_ptr<ZELExecutor> ZELNetworkingClient::backgroundExecutor() const {
  return backgroundExecutor_.load().lock();
}

void ZELNetworkingClient::setBackgroundExecutor(
    const std::shared_ptr<ZELExecutor>& backgroundExecutor) {
  backgroundExecutor_.store(backgroundExecutor);
}

bool ZELNetworkingClient::shouldLogNetworkMetrics() noexcept {
  return gShouldLogNetworkMetrics.load(std::memory_order_relaxed);
}

void ZELNetworkingClient::setShouldLogNetworkMetrics(bool shouldLog) noexcept {
  gShouldLogNetworkMetrics.store(shouldLog, std::memory_order_relaxed);
}

bool ZELNetworkingClient::shouldLogNetworkErrors() noexcept {
  return gShouldLogNetworkErrors.load(std::memory_order_relaxed);
}

void ZELNetworkingClient::setShouldLogNetworkErrors(bool shouldLog) noexcept {
  gShouldLogNetworkErrors.store(shouldLog, std::memory_order_relaxed);
}

void ZELNetworkingClient::cancelAllRequests() {
  if (!session_) return;
  session_->getTasksWithCompletionHandler(
      [](const auto& dataTasks, const auto& uploadTasks, const auto& downloadTasks) {
        for (const auto& task : dataTasks) task->cancel();
        for (const auto& task : uploadTasks) task->cancel();
        for (const auto& task : downloadTasks) task->cancel();
      });
}

float ZELNetworkingClient::mapAPIClientRequestPriorityToNSURLSessionTaskPriority(
    ZELAPIClientRequestPriority priority) noexcept {
  switch (priority) {
    case ZELAPIClientRequestPriority::High:
      return URLSessionTaskPriorityHigh;
    case ZELAPIClientRequestPriority::Low:
      return URLSessionTaskPriorityLow;
    case ZELAPIClientRequestPriority::Default:
      break;
  }
  return URLSessionTaskPriorityDefault;
}

}  // namespace zel
