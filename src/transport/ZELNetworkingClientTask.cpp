#include "zel/transport/ZELNetworkingClientTask.h"

#include "zel/foundation/ZELAssertion.h"

namespace zel {

namespace {

constexpr const char* kInitMethod = "-[ZELNetworkingClientTask initWithURLSessionTask:]";

// A pending future and its resolver; these futures never fail.
template <class Pending>
Pending makePending() {
  using Future = decltype(Pending::future);
  ZELPromise<typename Future::Value> promise;
  auto future = promise.future();
  return Pending{std::move(future), [promise = std::move(promise)](typename Future::Value value) {
                   promise.resolve(std::move(value));
                 }};
}

}  // namespace

std::shared_ptr<ZELNetworkingClientTask> ZELNetworkingClientTask::initWithURLSessionTask(
    std::shared_ptr<URLSessionTask> task) {
  if (!task) ZELAssertionFailure("Invalid parameter not satisfying: task", kInitMethod);
  return std::make_shared<ZELNetworkingClientTask>(
      ConstructionKey{}, std::move(task), makePending<Pending<URLSessionTaskMetrics>>(),
      makePending<Pending<ZELNSURLSessionDataTaskResult>>());
}

ZELNetworkingClientTask::ZELNetworkingClientTask(ConstructionKey,
                                                 std::shared_ptr<URLSessionTask> task,
                                                 Pending<URLSessionTaskMetrics> metrics,
                                                 Pending<ZELNSURLSessionDataTaskResult> result)
    : task_(std::move(task)),
      propertyLock_("com.zelvo.ZELAPIClientTask.propertyLock"),
      metricsFuture_(std::move(metrics.future)),
      resultFuture_(std::move(result.future)),
      resolveMetricsBlock_(std::move(metrics.resolve)),
      resolveResultBlock_(std::move(result.resolve)) {}

void ZELNetworkingClientTask::resolveFutureWithMetrics(const URLSessionTaskMetrics& metrics) {
  if (resolveMetricsBlock_) resolveMetricsBlock_(metrics);
}

void ZELNetworkingClientTask::receivePartialData(std::optional<Data> data) {
  if (!data) {
    ZELAssertionFailure("Invalid parameter not satisfying: data",
                        "-[ZELNetworkingClientTask receivePartialData:]");
    return;
  }
  std::lock_guard lock(bodyMutex_);
  if (bodyDelivered_) return;
  if (!bodyBuffer_) bodyBuffer_.emplace();
  const auto bytes = data->bytes();
  bodyBuffer_->insert(bodyBuffer_->end(), bytes.begin(), bytes.end());
}

void ZELNetworkingClientTask::receiveFullResponse(std::shared_ptr<const HTTPURLResponse> response,
                                                  std::optional<Error> error) {
  if (!resolveMetricsBlock_) {
    ZELAssertionFailure("Invalid parameter not satisfying: self.resolveMetricsBlock",
                        "-[ZELNetworkingClientTask receiveFullResponse:withError:]");
  }
  if (!resolveResultBlock_) return;
  std::optional<Data> body;
  {
    std::lock_guard lock(bodyMutex_);
    if (!bodyDelivered_) {
      bodyDelivered_ = true;
      if (bodyBuffer_) deliveredBody_.emplace(std::move(*bodyBuffer_));
      bodyBuffer_.reset();
    }
    body = deliveredBody_;
  }
  resolveResultBlock_(ZELNSURLSessionDataTaskResult::resultWithData(
      std::move(body), std::move(response), std::move(error)));
}

void ZELNetworkingClientTask::start() {
  if (task_) task_->resume();
}

void ZELNetworkingClientTask::cancel() {
  if (task_) task_->cancel();
}

URLRequest ZELNetworkingClientTask::request() const {
  return task_ ? task_->currentRequest() : URLRequest();
}

std::shared_ptr<const HTTPURLResponse> ZELNetworkingClientTask::response() const {
  return task_ ? std::dynamic_pointer_cast<const HTTPURLResponse>(task_->response()) : nullptr;
}

ZELFuture<URLSessionTaskMetrics> ZELNetworkingClientTask::metricsFuture() const {
  return propertyLock_.lockWithBlock([&] { return metricsFuture_; });
}

void ZELNetworkingClientTask::setMetricsFuture(ZELFuture<URLSessionTaskMetrics> future) {
  // The old handle is released after the lock: its last listener may call back in.
  propertyLock_.lockWithBlock([&] { std::swap(metricsFuture_, future); });
}

ZELFuture<ZELNSURLSessionDataTaskResult> ZELNetworkingClientTask::resultFuture() const {
  return propertyLock_.lockWithBlock([&] { return resultFuture_; });
}

void ZELNetworkingClientTask::setResultFuture(ZELFuture<ZELNSURLSessionDataTaskResult> future) {
  propertyLock_.lockWithBlock([&] { std::swap(resultFuture_, future); });
}

ZELUploadProgressBlock ZELNetworkingClientTask::uploadProgressBlock() const {
  return propertyLock_.lockWithBlock([&] { return uploadProgressBlock_; });
}

void ZELNetworkingClientTask::setUploadProgressBlock(ZELUploadProgressBlock block) {
  // What the old block captured is destroyed after the lock is released.
  propertyLock_.lockWithBlock([&] { std::swap(uploadProgressBlock_, block); });
}

ZELResponseHeaderBlock ZELNetworkingClientTask::headerBlock() const {
  return propertyLock_.lockWithBlock([&] { return headerBlock_; });
}

void ZELNetworkingClientTask::setHeaderBlock(ZELResponseHeaderBlock block) {
  propertyLock_.lockWithBlock([&] { std::swap(headerBlock_, block); });
}

std::optional<Data> ZELNetworkingClientTask::responseBodyData() const {
  std::lock_guard lock(bodyMutex_);
  if (bodyDelivered_) return deliveredBody_;
  if (!bodyBuffer_) return std::nullopt;
  return Data::copy(*bodyBuffer_);
}

}  // namespace zel
