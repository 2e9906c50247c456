#pragma once
// A session data task whose outcome arrives as a future.
//
//   auto [task, future] = zel::zelfuture_dataTaskWithRequest(session, request,
//                                                            zel::URLSessionTaskPriorityHigh);
//   future.executeOnMainSuccess([](const zel::ZELNSURLSessionDataTaskResult& r) { ... }, nullptr);
//
// The task is started already. The future always resolves (never fails): a transport error
// travels inside the result record.

#include <memory>

#include "zel/futures/ZELFuture.h"
#include "zel/futures/ZELNSURLSessionDataTaskResult.h"
#include "zel/transport/URLSession.h"

namespace zel {

struct ZELDataTaskAndResultFuture {
  std::shared_ptr<URLSessionDataTask> task;
  ZELFuture<ZELNSURLSessionDataTaskResult> resultFuture;
};

/// zelfuture_dataTaskWithRequest:priority: — makes the data task with that priority, resumes it
/// and resolves resultFuture with its body, response and error when it ends.
[[nodiscard]] ZELDataTaskAndResultFuture zelfuture_dataTaskWithRequest(
    const std::shared_ptr<URLSession>& session, URLRequest request, float priority);

}  // namespace zel
