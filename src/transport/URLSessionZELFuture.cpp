#include "zel/transport/URLSessionZELFuture.h"

namespace zel {

ZELDataTaskAndResultFuture zelfuture_dataTaskWithRequest(const std::shared_ptr<URLSession>& session,
                                                         URLRequest request, float priority) {
  ZELPromise<ZELNSURLSessionDataTaskResult> promise;
  auto task = session->dataTaskWithRequest(
      std::move(request),
      [promise](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                std::optional<Error> error) {
        promise.resolve(ZELNSURLSessionDataTaskResult::resultWithData(
            std::move(data), std::move(response), std::move(error)));
      });
  task->setPriority(priority);
  task->resume();
  return {std::move(task), promise.future()};
}

}  // namespace zel
