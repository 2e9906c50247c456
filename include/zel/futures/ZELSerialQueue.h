#pragma once
// ZELSerialQueue — an executor that runs work one item at a time, in enqueue order, on a thread
// of its own.
//
// Used as a URL session's delegate queue. Another thread may drain the queue itself with
// runPendingInline() while no item runs (the session's I/O thread, or a background worker it
// hands a burst to, sparing this queue's thread a wake-up per event); items still run one at a
// time, in order. shutdown() lets the queued work finish and then stops the thread; work
// enqueued after shutdown() is dropped. The queue may be destroyed from inside one of its items:
// its thread then exits on its own.

#include <memory>
#include <string>

#include "zel/futures/ZELExecutor.h"

namespace zel {

class ZELSerialQueue final : public ZELExecutor {
 public:
  explicit ZELSerialQueue(std::string label = {});
  ~ZELSerialQueue() override;
  ZELSerialQueue(const ZELSerialQueue&) = delete;
  ZELSerialQueue& operator=(const ZELSerialQueue&) = delete;

  void execute(Work work) override;
  /// As execute(), but says whether the work was taken (false once shutdown() began); work is
  /// left untouched when it was not.
  [[nodiscard]] bool tryExecute(Work& work);

  /// Enqueues without waking the queue's thread: for a caller that will call runPendingInline()
  /// next (which wakes the thread if anything is left for it).
  [[nodiscard]] bool tryEnqueueWithoutWaking(Work& work);

  /// Runs the queued items on the calling thread unless another runner holds the queue;
  /// returns whether it ran any.
  bool runPendingInline();

  /// True when the caller is running one of this queue's items.
  [[nodiscard]] bool isCurrent() const noexcept;
  [[nodiscard]] const std::string& label() const noexcept { return label_; }

  /// Finishes the queued work, then stops. Waits for the thread unless called from it.
  void shutdown();

 private:
  struct State;
  const std::string label_;
  std::shared_ptr<State> state_;
};

}  // namespace zel
