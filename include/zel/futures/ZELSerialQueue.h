#pragma once
// ZELSerialQueue — an executor that runs work one item at a time, in enqueue order, on a thread
// of its own.
//
// Used as a URL session's delegate queue. shutdown() lets the queued work finish and then stops
// the thread; work enqueued after shutdown() is dropped. The queue may be destroyed from its own
// thread (from inside a work item): the thread then exits on its own once that item returns.

#include <memory>
#include <string>
#include <thread>

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

  /// True when the caller runs on this queue's thread.
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
