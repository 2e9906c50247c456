#pragma once
// While a BackgroundWakeBatch lives on a thread, work that thread hands the background executor
// is queued at once but wakes a sleeping worker only when the batch ends: a burst of items (the
// outcomes of one round of the session's I/O thread) then costs one wake-up, not one per item.
// An awake worker still takes the items as they come. A thread about to block (ZELFuture::wait)
// wakes a worker first, so work it handed over can run while it waits.

namespace zel::detail {

class BackgroundWakeBatch {
 public:
  BackgroundWakeBatch() noexcept;
  ~BackgroundWakeBatch();

  /// Wakes a worker now for work the calling thread queued inside a batch (before it blocks).
  static void wakeDeferred() noexcept;
  BackgroundWakeBatch(const BackgroundWakeBatch&) = delete;
  BackgroundWakeBatch& operator=(const BackgroundWakeBatch&) = delete;

 private:
  bool outer_;  // batches nest; the outermost one wakes
};

}  // namespace zel::detail
