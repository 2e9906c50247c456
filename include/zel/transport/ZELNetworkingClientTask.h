#pragma once
// ZELNetworkingClientTask — one request on its way through a URLSession: the session task, the
// blocks to call while it runs, the body collected so far and the two futures that complete
// when the session reports the task's metrics and its end.
//
//   auto clientTask = zel::ZELNetworkingClientTask::initWithURLSessionTask(
//       session->dataTaskWithRequest(request));
//   clientTask->setHeaderBlock([](const zel::ZELAPIResponseLinkHeader& links) { /* ... */ });
//   sessionDelegate->setClientTask(clientTask, clientTask->task());
//   clientTask->resultFuture().executeOnBackgroundSuccess(
//       [](const zel::ZELNSURLSessionDataTaskResult& result) { /* body, response, error */ },
//       nullptr);
//   clientTask->start();
//
// The session delegate feeds it: body bytes through receivePartialData(), the end through
// receiveFullResponse(), metrics through resolveFutureWithMetrics(). Both futures complete only
// with a value, in either order; the first completion of each wins.
//
// Thread safety: every member may be called from any thread. The two blocks and the two futures
// are read and written under the property lock, one field per acquisition; the body has a lock
// of its own. No lock is held while a block, a future's listener or the session task is called.
// The blocks are called on the session's delegate queue and must not throw.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "zel/foundation/ZELLock.h"
#include "zel/transport/URLSessionTask.h"
#include "zel/transport/ZELHTTPRequest.h"

namespace zel {

class ZELNetworkingClientTask final : public ZELHTTPRequest {
 public:
  using MetricsResolver = ZELFuture<URLSessionTaskMetrics>::Resolve;
  using ResultResolver = ZELFuture<ZELNSURLSessionDataTaskResult>::Resolve;

  /// Wraps the session task (which it holds strongly) with both futures pending. A missing task is
  /// reported; the client task is still made, and then start() and cancel() do nothing, request()
  /// is an empty request and response() is nullptr.
  [[nodiscard]] static std::shared_ptr<ZELNetworkingClientTask> initWithURLSessionTask(
      std::shared_ptr<URLSessionTask> task);

  ZELNetworkingClientTask(const ZELNetworkingClientTask&) = delete;
  ZELNetworkingClientTask& operator=(const ZELNetworkingClientTask&) = delete;

  // ---- ZELHTTPRequest
  // ----------------------------------------------------------------------------

  void resolveFutureWithMetrics(const URLSessionTaskMetrics& metrics) override;
  /// Bytes that arrive after the result was delivered are dropped: the delivered body never
  /// changes.
  void receivePartialData(std::optional<Data> data) override;
  /// The collected bytes are handed to the result without a copy.
  void receiveFullResponse(std::shared_ptr<const HTTPURLResponse> response,
                           std::optional<Error> error) override;
  void start() override;
  void cancel() override;
  [[nodiscard]] URLRequest request() const override;
  [[nodiscard]] std::shared_ptr<const HTTPURLResponse> response() const override;
  [[nodiscard]] ZELFuture<URLSessionTaskMetrics> metricsFuture() const override;
  [[nodiscard]] ZELFuture<ZELNSURLSessionDataTaskResult> resultFuture() const override;
  [[nodiscard]] ZELUploadProgressBlock uploadProgressBlock() const override;
  void setUploadProgressBlock(ZELUploadProgressBlock block) override;
  [[nodiscard]] ZELResponseHeaderBlock headerBlock() const override;
  void setHeaderBlock(ZELResponseHeaderBlock block) override;

  // ---- the task's own
  // ----------------------------------------------------------------------------

  /// Replaces the future that metricsFuture() returns. The session's metrics still complete the
  /// future made at construction (the one resolveMetricsBlock() completes).
  void setMetricsFuture(ZELFuture<URLSessionTaskMetrics> future);
  /// Replaces the future that resultFuture() returns; as setMetricsFuture().
  void setResultFuture(ZELFuture<ZELNSURLSessionDataTaskResult> future);

  /// The wrapped session task; nullptr only when the task was made without one.
  [[nodiscard]] const std::shared_ptr<URLSessionTask>& task() const noexcept { return task_; }
  /// Labelled "com.zelvo.ZELAPIClientTask.propertyLock".
  [[nodiscard]] ZELLock& propertyLock() const noexcept { return propertyLock_; }
  /// A copy of the body bytes collected so far; absent until the first chunk arrives. After the
  /// result was delivered, the delivered body.
  [[nodiscard]] std::optional<Data> responseBodyData() const;
  /// The resolvers of the futures made at construction; present from construction on.
  [[nodiscard]] const MetricsResolver& resolveMetricsBlock() const noexcept {
    return resolveMetricsBlock_;
  }
  [[nodiscard]] const ResultResolver& resolveResultBlock() const noexcept {
    return resolveResultBlock_;
  }

 private:
  template <class T>
  struct Pending {
    ZELFuture<T> future;
    typename ZELFuture<T>::Resolve resolve;
  };

  // Only the factory can name it.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  ZELNetworkingClientTask(ConstructionKey, std::shared_ptr<URLSessionTask> task,
                          Pending<URLSessionTaskMetrics> metrics,
                          Pending<ZELNSURLSessionDataTaskResult> result);

 private:
  const std::shared_ptr<URLSessionTask> task_;
  mutable ZELLock propertyLock_;
  // Guarded by propertyLock_.
  ZELUploadProgressBlock uploadProgressBlock_;
  ZELResponseHeaderBlock headerBlock_;
  ZELFuture<URLSessionTaskMetrics> metricsFuture_;
  ZELFuture<ZELNSURLSessionDataTaskResult> resultFuture_;

  const MetricsResolver resolveMetricsBlock_;
  const ResultResolver resolveResultBlock_;

  mutable std::mutex bodyMutex_;
  // Guarded by bodyMutex_. Until the result is delivered the bytes grow in bodyBuffer_ (absent
  // until the first chunk); delivery moves them into deliveredBody_ and seals the body.
  std::optional<std::vector<std::uint8_t>> bodyBuffer_;
  std::optional<Data> deliveredBody_;
  bool bodyDelivered_ = false;
};

}  // namespace zel
