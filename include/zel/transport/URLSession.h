#pragma once
// URLSession — runs HTTP tasks over libcurl's multi interface.
//
//   auto session = zel::URLSession::sessionWithConfiguration(
//       zel::URLSessionConfiguration::defaultSessionConfiguration(), delegate);
//   auto task = session->dataTaskWithRequest(request, [](auto data, auto response, auto error) {
//     // on the session's delegate queue
//   });
//   task->resume();
//
// One I/O thread per session drives the transfers; one serial delegate queue per session runs
// every delegate callback and completion handler, one at a time, in event order. When the queue
// is idle the I/O thread runs its items itself (no thread hop per request), so a callback that
// blocks also holds up the session's transfers: hand long work to another executor. HTTP/1.1
// keep-alive and HTTP/2 (ALPN, multiplexed) are used as the server allows; TLS is verified against
// the system store (or the configuration's CA file); responses are content-decoded; redirects are
// followed through the delegate, at most 16 hops, http and https only.
//
// Destroying the last reference invalidates the session and cancels its tasks (each still ends
// with NSURLErrorCancelled through its handler) and waits for the session's threads, unless that
// happens on one of them.

#include <functional>
#include <memory>
#include <vector>

#include "zel/futures/ZELExecutor.h"
#include "zel/transport/URLSessionConfiguration.h"
#include "zel/transport/URLSessionDelegate.h"
#include "zel/transport/URLSessionTask.h"

namespace zel {

namespace detail {
class SessionCore;
}

class URLSession {
 public:
  /// A session with the configuration (copied) and delegate (held until invalidation ends).
  [[nodiscard]] static std::shared_ptr<URLSession> sessionWithConfiguration(
      URLSessionConfiguration configuration,
      std::shared_ptr<URLSessionDelegate> delegate = nullptr);

  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  [[nodiscard]] const URLSessionConfiguration& configuration() const noexcept;
  /// The delegate until the session is invalidated; nullptr after, or when none was given.
  [[nodiscard]] std::shared_ptr<URLSessionDelegate> delegate() const;
  /// The serial queue on which every delegate callback and completion handler runs.
  [[nodiscard]] std::shared_ptr<ZELExecutor> delegateQueue() const;

  /// A suspended data task; its events go to the delegate.
  [[nodiscard]] std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(URLRequest request);
  /// A suspended data task whose outcome goes to the handler (on the delegate queue).
  [[nodiscard]] std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(
      URLRequest request, URLSessionTask::CompletionHandler completionHandler);
  /// A suspended upload task sending body (in place of the request's own body).
  [[nodiscard]] std::shared_ptr<URLSessionUploadTask> uploadTaskWithRequest(
      URLRequest request, Data body, URLSessionTask::CompletionHandler completionHandler = nullptr);

  /// Calls the handler on the delegate queue with the tasks not yet completed.
  void getTasksWithCompletionHandler(
      std::function<void(std::vector<std::shared_ptr<URLSessionDataTask>> dataTasks,
                         std::vector<std::shared_ptr<URLSessionUploadTask>> uploadTasks,
                         std::vector<std::shared_ptr<URLSessionTask>> downloadTasks)>
          completionHandler);

  /// No new tasks; running ones finish; then the delegate hears didBecomeInvalidWithError.
  void finishTasksAndInvalidate();
  /// As finishTasksAndInvalidate, cancelling every task first.
  void invalidateAndCancel();

 private:
  // Only the factory can name it: {} cannot stand in for it.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  URLSession(ConstructionKey, std::shared_ptr<detail::SessionCore> core);

 private:
  std::shared_ptr<detail::SessionCore> core_;
};

}  // namespace zel
