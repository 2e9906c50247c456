#pragma once
// While a BackgroundWakeBatch lives on a thread, work that thread hands the background executor
// while a worker is awake to take it wakes no further worker until the batch ends: a burst of
// items (the outcomes of one round of the session's I/O thread) then costs one wake-up, not one
// per item. With every worker asleep an item wakes one at once, so nothing waits on the batch's
// end. A thread about to block in ZELFuture::wait wakes the deferred workers first.

namespace zel::detail {

class BackgroundWakeBatch {
 public:
  BackgroundWakeBatch() noexcept;
  ~BackgroundWakeBatch();
  BackgroundWakeBatch(const BackgroundWakeBatch&) = delete;
  BackgroundWakeBatch& operator=(const BackgroundWakeBatch&) = delete;

  /// Wakes a worker now for work the calling thread queued inside a batch (before it blocks).
  static void wakeDeferred() noexcept;

 private:
  bool outer_;  // batches nest; the outermost one wakes
};

}  // namespace zel::detail
