#pragma once
// ZELNetworkingSessionDelegate — the delegate of the URLSession a client runs its requests on.
// It maps each session task to the client task that runs it and routes the session's events for
// that task there.
//
//   auto delegate = zel::ZELNetworkingSessionDelegate::initWithStreamingEnabled(true);
//   auto session = zel::URLSession::sessionWithConfiguration(configuration, delegate);
//   auto sessionTask = session->dataTaskWithRequest(request);
//   auto clientTask = zel::ZELNetworkingClientTask::initWithURLSessionTask(sessionTask);
//   delegate->setClientTask(clientTask, sessionTask);  // before the task starts
//   clientTask->start();
//   ...
//   delegate->setClientTask(nullptr, sessionTask);     // once its result is processed
//
// Streaming mode (streamingEnabled() true): tasks run without completion handlers; the response
// head calls the client task's header block, body bytes are collected by the client task and the
// task's end completes its result future. Completion-handler mode: the session delivers the
// outcome to the handler; a response head, body bytes or an end arriving here is reported as a
// fault (a response head is still allowed). In both modes redirects are followed (and reported:
// an API should not redirect), upload progress calls the client task's upload block and metrics
// complete its metrics future.
//
// Events for a session task without a client task are dropped; its response is still allowed
// and its redirects still followed. The delegate never cancels a task.
//
// Thread safety: the map is guarded by a mutex held for one map operation, never while a client
// task or a block is called; registration and lookup may happen on any thread. The session calls
// the callbacks on its delegate queue.

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "zel/transport/ZELNetworkingClientTask.h"
#include "zel/transport/ZELNetworkingSessionDelegateProtocol.h"

namespace zel {

class ZELNetworkingSessionDelegate : public ZELNetworkingSessionDelegateProtocol {
 public:
  explicit ZELNetworkingSessionDelegate(bool streamingEnabled);
  [[nodiscard]] static std::shared_ptr<ZELNetworkingSessionDelegate> initWithStreamingEnabled(
      bool streamingEnabled);

  ZELNetworkingSessionDelegate(const ZELNetworkingSessionDelegate&) = delete;
  ZELNetworkingSessionDelegate& operator=(const ZELNetworkingSessionDelegate&) = delete;

  /// A missing session task is reported and the map left unchanged. The map holds the client task
  /// strongly until it is replaced or removed.
  void setClientTask(std::shared_ptr<ZELNetworkingClientTask> clientTask,
                     const std::shared_ptr<URLSessionTask>& sessionTask) override;
  [[nodiscard]] std::shared_ptr<ZELNetworkingClientTask> clientTaskForSessionTask(
      const std::shared_ptr<URLSessionTask>& sessionTask) const override;

  [[nodiscard]] bool streamingEnabled() const override { return streamingEnabled_.load(); }
  /// How many session tasks have a client task registered (execution removes each entry when
  /// its request ends).
  [[nodiscard]] std::size_t clientTaskCount() const;
  /// Affects the events that arrive afterwards.
  void setStreamingEnabled(bool streamingEnabled) { streamingEnabled_.store(streamingEnabled); }

  // ---- session events ------------------------------------------------------------------------

  /// Reports the redirect (twice when the original URL's path lacks a trailing "/") and follows it
  /// with the task's original request (method, header fields, body) at the new URL. When the new
  /// URL leaves the original's origin (scheme, host, port), "Authorization" and "Cookie" are not
  /// sent there. Without a redirect response the new request passes unchanged.
  void willPerformHTTPRedirection(
      URLSession& session, const std::shared_ptr<URLSessionTask>& task,
      const std::shared_ptr<const HTTPURLResponse>& response, const URLRequest& newRequest,
      std::function<void(std::optional<URLRequest>)> completionHandler) override;
  /// Calls the client task's upload progress block with the session's numbers.
  void didSendBodyData(URLSession& session, const std::shared_ptr<URLSessionTask>& task,
                       std::int64_t bytesSent, std::int64_t totalBytesSent,
                       std::int64_t totalBytesExpectedToSend) override;
  /// Completes the client task's metrics future.
  void didFinishCollectingMetrics(URLSession& session, const std::shared_ptr<URLSessionTask>& task,
                                  const URLSessionTaskMetrics& metrics) override;
  /// Streaming mode: completes the client task's result with the task's HTTP response and error.
  void didCompleteWithError(URLSession& session, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<Error>& error) override;
  /// Streaming mode: calls the header block with the response's `Link` header, when it has one.
  /// Always allows the response.
  void didReceiveResponse(
      URLSession& session, const std::shared_ptr<URLSessionDataTask>& task,
      const std::shared_ptr<const URLResponse>& response,
      std::function<void(URLSessionResponseDisposition)> completionHandler) override;
  /// Streaming mode: hands the bytes to the client task.
  void didReceiveData(URLSession& session, const std::shared_ptr<URLSessionDataTask>& task,
                      const Data& data) override;

 private:
  std::atomic<bool> streamingEnabled_;
  mutable std::mutex propertyLock_;
  // Guarded by propertyLock_.
  std::unordered_map<std::shared_ptr<URLSessionTask>, std::shared_ptr<ZELNetworkingClientTask>>
      sessionTaskToClientTaskMap_;
};

}  // namespace zel
