#pragma once
// ZELHTTPRequest — how a running request is seen outside the session transport: its request and
// response, the two futures that complete when the session reports on it, the blocks called
// while it runs, and the calls through which the session's events reach it.
//
// ZELNetworkingClientTask implements it. Every member may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "zel/foundation/ZELAPIResponseLinkHeader.h"
#include "zel/futures/ZELFuture.h"
#include "zel/futures/ZELNSURLSessionDataTaskResult.h"
#include "zel/platform/Data.h"
#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel {

/// Called for each upload progress event: the bytes sent in this event, the total sent so far and
/// the total expected (as the session reports them), on the session's delegate queue.
using ZELUploadProgressBlock = std::function<void(
    std::uint64_t bytesSent, std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)>;

/// Called with the parsed `Link` header when the response head arrives.
using ZELResponseHeaderBlock = std::function<void(const ZELAPIResponseLinkHeader&)>;

class ZELHTTPRequest {
 public:
  virtual ~ZELHTTPRequest() = default;

  /// Completes metricsFuture() with the metrics; later calls have no effect.
  virtual void resolveFutureWithMetrics(const URLSessionTaskMetrics& metrics) = 0;
  /// Appends body bytes to the collected body. Absent data is refused with an assertion report.
  virtual void receivePartialData(std::optional<Data> data) = 0;
  /// Completes resultFuture() with the collected body (absent when no byte arrived), the
  /// response and the error; later calls have no effect.
  virtual void receiveFullResponse(std::shared_ptr<const HTTPURLResponse> response,
                                   std::optional<Error> error) = 0;

  /// Resumes the session task.
  virtual void start() = 0;
  /// Cancels the session task; it ends through the session like any other task, with
  /// NSURLErrorDomain -999 inside the result.
  virtual void cancel() = 0;

  /// The session task's current request.
  [[nodiscard]] virtual URLRequest request() const = 0;
  /// The session task's response once its head arrived; nullptr before, or when the response is
  /// not an HTTP response.
  [[nodiscard]] virtual std::shared_ptr<const HTTPURLResponse> response() const = 0;

  /// Completes with the task's metrics; never fails.
  [[nodiscard]] virtual ZELFuture<URLSessionTaskMetrics> metricsFuture() const = 0;
  /// Completes with the task's outcome; never fails: a transport error travels inside the record.
  [[nodiscard]] virtual ZELFuture<ZELNSURLSessionDataTaskResult> resultFuture() const = 0;

  /// Empty when none is set.
  [[nodiscard]] virtual ZELUploadProgressBlock uploadProgressBlock() const = 0;
  virtual void setUploadProgressBlock(ZELUploadProgressBlock block) = 0;
  /// Empty when none is set.
  [[nodiscard]] virtual ZELResponseHeaderBlock headerBlock() const = 0;
  virtual void setHeaderBlock(ZELResponseHeaderBlock block) = 0;

 protected:
  ZELHTTPRequest() = default;
  ZELHTTPRequest(const ZELHTTPRequest&) = default;
  ZELHTTPRequest& operator=(const ZELHTTPRequest&) = default;
};

}  // namespace zel
