#pragma once
// URLSessionDelegate — what a session tells its delegate, on the session's delegate queue, one
// callback at a time, in event order.
//
// Every callback has a default that is the platform's default handling: follow redirects, allow
// responses, ignore the rest. A task made with a completion handler delivers its outcome there;
// its delegate then sees only redirects, upload progress and metrics.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "zel/platform/Data.h"
#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel {

class URLSession;
class URLSessionTask;
class URLSessionDataTask;

enum class URLSessionResponseDisposition {
  Cancel = 0,
  Allow = 1,
  BecomeDownload = 2,
  BecomeStream = 3
};

class URLSessionDelegate {
 public:
  virtual ~URLSessionDelegate() = default;

  /// A 3xx response with a Location arrived. Call completionHandler (at once or later, from any
  /// thread) with the request to follow — the proposed one, a changed one — or with absent to
  /// stop and have the 3xx response delivered as the task's response.
  virtual void willPerformHTTPRedirection(
      URLSession& session, const std::shared_ptr<URLSessionTask>& task,
      const std::shared_ptr<const HTTPURLResponse>& response, const URLRequest& newRequest,
      std::function<void(std::optional<URLRequest>)> completionHandler);

  /// Request body bytes went out: this event's count, the total so far, the total expected.
  virtual void didSendBodyData(URLSession& session, const std::shared_ptr<URLSessionTask>& task,
                               std::int64_t bytesSent, std::int64_t totalBytesSent,
                               std::int64_t totalBytesExpectedToSend);

  /// The task's metrics, once per task, before or after its completion.
  virtual void didFinishCollectingMetrics(URLSession& session,
                                          const std::shared_ptr<URLSessionTask>& task,
                                          const URLSessionTaskMetrics& metrics);

  /// The task ended; error is absent on success.
  virtual void didCompleteWithError(URLSession& session,
                                    const std::shared_ptr<URLSessionTask>& task,
                                    const std::optional<Error>& error);

  /// The response head arrived. Call completionHandler (at once or later, from any thread);
  /// body bytes are held back until then. Cancel ends the task with NSURLErrorCancelled.
  virtual void didReceiveResponse(
      URLSession& session, const std::shared_ptr<URLSessionDataTask>& task,
      const std::shared_ptr<const URLResponse>& response,
      std::function<void(URLSessionResponseDisposition)> completionHandler);

  /// Body bytes, in order (decoded when the response was content-encoded).
  virtual void didReceiveData(URLSession& session, const std::shared_ptr<URLSessionDataTask>& task,
                              const Data& data);

  /// The session was invalidated and finished its last task; the delegate is released after.
  virtual void didBecomeInvalidWithError(URLSession& session, const std::optional<Error>& error);
};

}  // namespace zel
