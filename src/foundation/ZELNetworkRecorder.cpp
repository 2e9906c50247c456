#include "zel/foundation/ZELNetworkRecorder.h"

#include "zel/futures/ZELExecutor.h"

namespace zel {

ZELNetworkRecorder::ZELNetworkRecorder(ConstructionKey, std::size_t capacity)
    : capacity_(capacity) {}

std::shared_ptr<ZELNetworkRecorder> ZELNetworkRecorder::create(std::size_t capacity) {
  return std::make_shared<ZELNetworkRecorder>(ConstructionKey{}, capacity);
}

bool ZELNetworkRecorder::isCapturing() const noexcept {
  return capturing_.load();
}

void ZELNetworkRecorder::setCapturing(bool capturing) noexcept {
  capturing_.store(capturing);
}

void ZELNetworkRecorder::insertHTTPTransactionAsyncIfCapturing(
    ZELNSURLSessionDataTaskResult result) {
  insert(std::move(result), std::nullopt);
}

void ZELNetworkRecorder::insertHTTPTransactionAsyncIfCapturing(ZELNSURLSessionDataTaskResult result,
                                                               ZELRecordedMetricsFuture metrics) {
  insert(std::move(result), std::move(metrics));
}

void ZELNetworkRecorder::insert(ZELNSURLSessionDataTaskResult result,
                                std::optional<ZELRecordedMetricsFuture> metrics) {
  if (!capturing_.load() || capacity_ == 0) return;
  ZELRecordedHTTPTransaction transaction{accepted_.fetch_add(1) + 1,
                                         std::chrono::system_clock::now(), std::move(result),
                                         std::move(metrics)};
  ZELExecutor::background()->execute(
      [self = shared_from_this(), transaction = std::move(transaction)]() mutable {
        self->store(std::move(transaction));
      });
}

void ZELNetworkRecorder::store(ZELRecordedHTTPTransaction transaction) {
  std::function<void(const ZELRecordedHTTPTransaction&)> observer;
  {
    std::lock_guard lock(mutex_);
    // Background threads may store out of order; keep the deque sorted by sequence number.
    auto it = transactions_.end();
    while (it != transactions_.begin() &&
           std::prev(it)->sequenceNumber > transaction.sequenceNumber) {
      --it;
    }
    transactions_.insert(it, transaction);
    while (transactions_.size() > capacity_) transactions_.pop_front();
    observer = onInsert_;
  }
  if (observer) observer(transaction);
}

std::vector<ZELRecordedHTTPTransaction> ZELNetworkRecorder::transactions() const {
  std::lock_guard lock(mutex_);
  return {transactions_.begin(), transactions_.end()};
}

std::uint64_t ZELNetworkRecorder::acceptedCount() const noexcept {
  return accepted_.load();
}

void ZELNetworkRecorder::removeAllTransactions() {
  std::lock_guard lock(mutex_);
  transactions_.clear();
}

void ZELNetworkRecorder::setOnInsert(
    std::function<void(const ZELRecordedHTTPTransaction&)> observer) {
  std::lock_guard lock(mutex_);
  onInsert_ = std::move(observer);
}

}  // namespace zel
