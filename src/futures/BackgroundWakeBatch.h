#pragma once
// While a BackgroundWakeBatch lives on a thread, work that thread hands the background executor
// while a worker is awake to take it wakes no further worker until the batch ends: a burst of
// items (the outcomes of one round of the session's I/O thread) then costs one wake-up, not one
// per item. With every worker asleep an item wakes one at once, so nothing waits on the batch's
// end. A thread about to block in ZELFuture::wait wakes workers for everything queued first.

namespace zel::detail {

class BackgroundWakeBatch {
 public:
  BackgroundWakeBatch() noexcept;
  ~BackgroundWakeBatch();
  BackgroundWakeBatch(const BackgroundWakeBatch&) = delete;
  BackgroundWakeBatch& operator=(const BackgroundWakeBatch&) = delete;

  /// Wakes a worker for work the calling thread queued inside a batch, as its end does.
  static void wakeDeferred() noexcept;
  /// Before the calling thread blocks: wakes as many workers as queued work needs, none left to
  /// a busy worker (the work may be what the thread waits for).
  static void wakeBeforeBlocking() noexcept;

 private:
  bool outer_;  // batches nest; the outermost one wakes
};

}  // namespace zel::detail
