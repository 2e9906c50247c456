#include "zel/transport/ZELNetworkingSessionDelegate.h"

#include <string>
#include <string_view>
#include <utility>

#include "RedirectProposal.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/transport/URLSessionTask.h"

namespace zel {

namespace {

constexpr const char* kStreamingRequired =
    "Invalid parameter not satisfying: self.streamingEnabled";

std::string describe(const std::optional<URL>& url) {
  return url ? url->absoluteString() : std::string("(null)");
}

}  // namespace

ZELNetworkingSessionDelegate::ZELNetworkingSessionDelegate(bool streamingEnabled)
    : streamingEnabled_(streamingEnabled) {}

std::shared_ptr<ZELNetworkingSessionDelegate>
ZELNetworkingSessionDelegate::initWithStreamingEnabled(bool streamingEnabled) {
  return std::make_shared<ZELNetworkingSessionDelegate>(streamingEnabled);
}

void ZELNetworkingSessionDelegate::setClientTask(
    std::shared_ptr<ZELNetworkingClientTask> clientTask,
    const std::shared_ptr<URLSessionTask>& sessionTask) {
  if (!sessionTask) {
    ZELAssertionFailure("Invalid parameter not satisfying: sessionTask",
                        "-[ZELNetworkingSessionDelegate setClientTask:forSessionTask:]");
    return;
  }
  // The entry it replaces dies after the lock is released: its futures' listeners may call back.
  std::shared_ptr<ZELNetworkingClientTask> previous;
  std::lock_guard lock(propertyLock_);
  if (clientTask) {
    auto& slot = sessionTaskToClientTaskMap_[sessionTask];
    previous = std::exchange(slot, std::move(clientTask));
  } else if (auto node = sessionTaskToClientTaskMap_.extract(sessionTask)) {
    previous = std::move(node.mapped());
  }
}

std::size_t ZELNetworkingSessionDelegate::clientTaskCount() const {
  std::lock_guard lock(propertyLock_);
  return sessionTaskToClientTaskMap_.size();
}

std::shared_ptr<ZELNetworkingClientTask> ZELNetworkingSessionDelegate::clientTaskForSessionTask(
    const std::shared_ptr<URLSessionTask>& sessionTask) const {
  std::lock_guard lock(propertyLock_);
  const auto it = sessionTaskToClientTaskMap_.find(sessionTask);
  return it == sessionTaskToClientTaskMap_.end() ? nullptr : it->second;
}

void ZELNetworkingSessionDelegate::willPerformHTTPRedirection(
    URLSession&, const std::shared_ptr<URLSessionTask>& task,
    const std::shared_ptr<const HTTPURLResponse>& response, const URLRequest& newRequest,
    std::function<void(std::optional<URLRequest>)> completionHandler) {
  if (!response || !task) {
    if (completionHandler) completionHandler(newRequest);
    return;
  }
  constexpr const char* kMethod =
      "-[ZELNetworkingSessionDelegate "
      "URLSession:task:willPerformHTTPRedirection:newRequest:completionHandler:]";
  const URLRequest& original = task->originalRequest();
  const auto& originalURL = original.url();
  const std::string originalText = describe(originalURL);
  const std::string path = originalURL ? originalURL->percentEncodedPath() : std::string();
  if (!path.ends_with('/')) {
    ZELAssertionFailure(
        "The API served an HTTP redirect response. This is a bad performance pattern. Make sure "
        "that the requested URL has a trailing slash. Original request: " +
            originalText,
        kMethod);
  }
  ZELAssertionFailure(
      "The API served an HTTP redirect response. This is a bad performance pattern. Original "
      "request: " +
          originalText + ", new request: " + describe(newRequest.url()),
      kMethod);

  // The session's proposal may have turned the request into a GET without body; the API wants
  // the request as it was made.
  URLRequest follow = original;
  follow.setURL(newRequest.url());
  if (originalURL && newRequest.url() && !detail::isSameOrigin(*originalURL, *newRequest.url())) {
    // Credentials stay with the origin they were made for.
    follow.setValue(std::nullopt, "Authorization");
    follow.setValue(std::nullopt, "Cookie");
  }
  if (completionHandler) completionHandler(std::move(follow));
}

void ZELNetworkingSessionDelegate::didSendBodyData(URLSession&,
                                                   const std::shared_ptr<URLSessionTask>& task,
                                                   std::int64_t bytesSent,
                                                   std::int64_t totalBytesSent,
                                                   std::int64_t totalBytesExpectedToSend) {
  const auto clientTask = clientTaskForSessionTask(task);
  if (!clientTask) return;
  if (const auto block = clientTask->uploadProgressBlock()) {
    block(static_cast<std::uint64_t>(std::max<std::int64_t>(bytesSent, 0)), totalBytesSent,
          totalBytesExpectedToSend);
  }
}

void ZELNetworkingSessionDelegate::didFinishCollectingMetrics(
    URLSession&, const std::shared_ptr<URLSessionTask>& task,
    const URLSessionTaskMetrics& metrics) {
  if (const auto clientTask = clientTaskForSessionTask(task)) {
    clientTask->resolveFutureWithMetrics(metrics);
  }
}

void ZELNetworkingSessionDelegate::didCompleteWithError(URLSession&,
                                                        const std::shared_ptr<URLSessionTask>& task,
                                                        const std::optional<Error>& error) {
  if (!streamingEnabled()) {
    ZELAssertionFailure(kStreamingRequired,
                        "-[ZELNetworkingSessionDelegate URLSession:task:didCompleteWithError:]");
    return;
  }
  auto response =
      task ? std::dynamic_pointer_cast<const HTTPURLResponse>(task->response()) : nullptr;
  if (const auto clientTask = clientTaskForSessionTask(task)) {
    clientTask->receiveFullResponse(std::move(response), error);
  }
}

void ZELNetworkingSessionDelegate::didReceiveResponse(
    URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
    const std::shared_ptr<const URLResponse>& response,
    std::function<void(URLSessionResponseDisposition)> completionHandler) {
  if (!streamingEnabled()) {
    ZELAssertionFailure(kStreamingRequired,
                        "-[ZELNetworkingSessionDelegate "
                        "URLSession:dataTask:didReceiveResponse:completionHandler:]");
    // With a completion handler, the task's outcome goes there and the result step calls the
    // header block; without one, the head goes on to the header block here.
    if (completionHandler) {
      completionHandler(URLSessionResponseDisposition::Allow);
      return;
    }
  }
  if (const auto clientTask = clientTaskForSessionTask(task)) {
    if (const auto block = clientTask->headerBlock()) {
      if (const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response)) {
        if (const auto links =
                ZELAPIResponseLinkHeader::initWithHeaderFields(http->allHeaderFields())) {
          block(*links);
        }
      }
    }
  }
  if (completionHandler) completionHandler(URLSessionResponseDisposition::Allow);
}

void ZELNetworkingSessionDelegate::didReceiveData(URLSession&,
                                                  const std::shared_ptr<URLSessionDataTask>& task,
                                                  const Data& data) {
  if (!streamingEnabled()) {
    ZELAssertionFailure(kStreamingRequired,
                        "-[ZELNetworkingSessionDelegate URLSession:dataTask:didReceiveData:]");
    return;
  }
  // Data is immutable: sharing the session's buffer is as safe as a copy.
  if (const auto clientTask = clientTaskForSessionTask(task)) clientTask->receivePartialData(data);
}

}  // namespace zel
