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
// blocks also holds up the session's transfers: hand long work to another executor. (A session
// with a delegate hands a burst of events, more than eight from one round, to a background worker
// that runs them in the same order.)
//
// HTTP/1.1 keep-alive and HTTP/2 (ALPN, multiplexed) are used as the server allows; TLS is
// verified against the system store (or the configuration's CA file); responses are
// content-decoded; redirects are followed through the delegate, at most 16 hops, http and https
// only.
//
// Destroying the last reference invalidates the session and cancels its tasks: each still ends
// exactly once with NSURLErrorCancelled, through its handler or its delegate (which is then
// handed a stand-in session object, since the application's is gone), and the destructor waits
// for the session's threads, unless it runs on one of them.
//
// Header fields the session owns: it frames every message itself and never sends a caller's
// "Content-Length", "Transfer-Encoding", "Connection" or "Host" (from the request or the
// configuration); libcurl writes them from the request's URL and body. Every other field, the
// method and the URL must be free of CR, LF and NUL (and names and methods must be tokens), or
// the task fails with NSURLErrorBadURL before anything is sent. A body goes out with any method
// but HEAD (GET included); a HEAD request with a body is refused the same way.
//
// Retries: a request the server cannot have processed is sent again, once, on a fresh
// connection: when the connection died before any byte of the response arrived and the method is
// idempotent (GET, HEAD, PUT, DELETE, OPTIONS, TRACE) — a reused HTTP/1.1 connection the server
// had closed while idle, or an HTTP/2 stream lost to a GOAWAY — and, for any method, when the
// server refused the stream (REFUSED_STREAM). The failed attempt stays in the task's metrics as
// a transaction without a response, followed by the retry's transaction. Beneath this, libcurl
// itself resends a request of any method, within the same transaction, when a reused connection
// closes before any byte of the response arrives.
//
// Memory: a completion handler's body is limited by the configuration's
// maximumResponseBodyBytes; a delegate receives the body in pieces of at most 1 MiB, and a
// transfer pauses while more than 4 MiB wait for the delegate (over HTTP/2 a paused stream
// can hold up the other streams of its connection). A compressed body that expands beyond
// maximumContentExpansionRatio fails. Both end the task with NSURLErrorDataLengthExceedsMaximum.

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
  friend class detail::SessionCore;
  // The session object a delegate is handed once the application's is gone; its destruction
  // leaves the core alone.
  [[nodiscard]] static std::unique_ptr<URLSession> makeStandIn(
      std::shared_ptr<detail::SessionCore> core);

  std::shared_ptr<detail::SessionCore> core_;
  bool standIn_ = false;
};

}  // namespace zel
