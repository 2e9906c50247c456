#pragma once
// The types of request execution: what a request resolves with, the block that can replace the
// envelope parser, the request-task triple, and the one-member interface for code that only runs
// prepared requests.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "zel/client/ZELHTTPMethod.h"
#include "zel/client/ZELNetworkingClientProtocol.h"
#include "zel/futures/ZELFutureAndCancelToken.h"
#include "zel/futures/ZELNSURLSessionDataTaskResult.h"
#include "zel/platform/Data.h"
#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"
#include "zel/transport/URLSessionTask.h"

namespace zel {

/// Makes the response from a non-empty body instead of the envelope parser, whatever the status.
/// The HTTP response is nullptr when the session gave none. Runs on a background thread.
using ZELCustomResponseCreationBlock = std::function<std::shared_ptr<ZELAPIResponse>(
    std::shared_ptr<const HTTPURLResponse> response, const Data& body)>;

/// A request as built, its started session task, and the future of the task's outcome (a
/// transport error travels inside the record).
struct ZELRequestTaskResultTriple {
  URLRequest request;
  std::shared_ptr<URLSessionDataTask> task;
  ZELFuture<ZELNSURLSessionDataTaskResult> resultFuture;

  /// newWithrequest:task:resultFuture:
  [[nodiscard]] static ZELRequestTaskResultTriple newWithrequest(
      URLRequest request, std::shared_ptr<URLSessionDataTask> task,
      ZELFuture<ZELNSURLSessionDataTaskResult> resultFuture) {
    return {std::move(request), std::move(task), std::move(resultFuture)};
  }
};

/// Runs prepared requests with a custom response block; ZELNetworkingClient implements it, so a
/// test double can stand in where only this is needed.
class ZELNetworkingDataTaskClientProtocol {
 public:
  virtual ~ZELNetworkingDataTaskClientProtocol() = default;
  /// executeDataTaskWithRequest:priority:customResponseCreationBlock:
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken
  executeDataTaskWithCustomResponseCreationBlock(
      std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
      ZELCustomResponseCreationBlock customResponseCreationBlock) = 0;
};

/// A signpost name for a request: none, for every request. Nothing in the library calls it.
[[nodiscard]] std::optional<std::string> ZELSignpostNameForRequest(const URLRequest& request);

}  // namespace zel
