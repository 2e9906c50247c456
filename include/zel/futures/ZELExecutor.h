#pragma once
// ZELExecutor — where a future's callbacks and transforms run.
//
//   ZELExecutor::immediate()   runs work at once, on the thread that completes the future.
//   ZELExecutor::background()  one process-wide pool (hardware threads, at least 2); the same
//                              long-lived executor at every call. While a worker is busy a few
//                              items may wait for it rather than wake a sleeping one; an item
//                              held up behind long or blocking work gets a worker of its own
//                              within about two milliseconds.
//   ZELExecutor::main()        the serial main queue (see ZELMainQueue.h).
//
// Applications may implement their own executors (a serial queue, a UI loop) by overriding
// execute(). The three shared executors are created once and never destroyed.

#include <functional>
#include <memory>

namespace zel {

class ZELExecutor {
 public:
  using Work = std::function<void()>;

  virtual ~ZELExecutor() = default;

  /// Runs the work on this executor. Must not block the caller for the work's duration,
  /// except for the immediate executor, which runs it inline.
  virtual void execute(Work work) = 0;

  /// True for the executor that runs work inline; lets callers skip a copy of the value.
  [[nodiscard]] virtual bool isImmediate() const noexcept { return false; }

  [[nodiscard]] static const std::shared_ptr<ZELExecutor>& immediate();
  [[nodiscard]] static const std::shared_ptr<ZELExecutor>& background();
  [[nodiscard]] static const std::shared_ptr<ZELExecutor>& main();

  /// True when the caller runs on one of the background executor's threads: work meant for the
  /// background executor may then run inline instead of taking another trip through its queue.
  [[nodiscard]] static bool isBackgroundThread() noexcept;
};

/// True when the caller runs on the main queue (the application's main thread when it handed
/// its run loop to ZELMainQueue, otherwise the main queue's own thread).
[[nodiscard]] bool isMainThread() noexcept;

}  // namespace zel
