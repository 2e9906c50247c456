#pragma once
// ZELNetworkRecorder — keeps the most recent finished HTTP transactions while capturing is on,
// for in-app network inspectors and diagnostics.
//
// insertHTTPTransactionAsyncIfCapturing() never blocks the caller on the recorder's storage:
// it returns at once and the transaction is stored on the background executor. The recorder
// keeps at most `capacity` transactions, dropping the oldest first.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "zel/futures/ZELFuture.h"
#include "zel/futures/ZELNSURLSessionDataTaskResult.h"

namespace zel {

struct URLSessionTaskMetrics;

/// The task's metrics, once the session has collected them (HAR export reads the request and
/// the timings from there). Fails when the task never reports metrics.
using ZELRecordedMetricsFuture = ZELFuture<std::shared_ptr<const URLSessionTaskMetrics>>;

struct ZELRecordedHTTPTransaction {
  /// Assigned in order of insertion, from 1.
  std::uint64_t sequenceNumber = 0;
  std::chrono::system_clock::time_point recordedAt;
  ZELNSURLSessionDataTaskResult result;
  /// Absent when the inserting code had no metrics to give.
  std::optional<ZELRecordedMetricsFuture> metrics;
};

class ZELNetworkRecorder : public std::enable_shared_from_this<ZELNetworkRecorder> {
 public:
  static constexpr std::size_t kDefaultCapacity = 200;

  [[nodiscard]] static std::shared_ptr<ZELNetworkRecorder> create(
      std::size_t capacity = kDefaultCapacity);

  [[nodiscard]] bool isCapturing() const noexcept;
  void setCapturing(bool capturing) noexcept;

  /// Stores the finished task's result when capturing is on; returns at once.
  void insertHTTPTransactionAsyncIfCapturing(ZELNSURLSessionDataTaskResult result);
  /// The same, with the future of the task's metrics (the client passes it).
  void insertHTTPTransactionAsyncIfCapturing(ZELNSURLSessionDataTaskResult result,
                                             ZELRecordedMetricsFuture metrics);

  /// The stored transactions, oldest first.
  [[nodiscard]] std::vector<ZELRecordedHTTPTransaction> transactions() const;
  /// How many insertions were accepted so far (including ones already dropped or still pending).
  [[nodiscard]] std::uint64_t acceptedCount() const noexcept;
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  void removeAllTransactions();

  /// Called on the background executor after each stored transaction (for live inspectors).
  /// Runs outside the recorder's lock.
  void setOnInsert(std::function<void(const ZELRecordedHTTPTransaction&)> observer);

 private:
  // Only the factory can name it: {} cannot stand in for it.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  ZELNetworkRecorder(ConstructionKey, std::size_t capacity);

 private:
  void insert(ZELNSURLSessionDataTaskResult result,
              std::optional<ZELRecordedMetricsFuture> metrics);
  void store(ZELRecordedHTTPTransaction transaction);

  const std::size_t capacity_;
  std::atomic<bool> capturing_{false};
  std::atomic<std::uint64_t> accepted_{0};
  mutable std::mutex mutex_;
  std::deque<ZELRecordedHTTPTransaction> transactions_;
  std::function<void(const ZELRecordedHTTPTransaction&)> onInsert_;
};

}  // namespace zel
