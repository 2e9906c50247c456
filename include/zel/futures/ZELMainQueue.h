#pragma once
// ZELMainQueue — the serial queue that stands for the application's main thread.
//
// By default the queue runs on a thread of its own, started on first use. An application with
// its own run loop hands it a dispatcher before the queue is first used:
//
//   zel::ZELMainQueue::shared().setDispatcher([&](std::function<void()> drain) {
//     myRunLoop.post(std::move(drain));   // drain() must run on the application's main thread
//   });
//
// setDispatcher records the calling thread as the main thread. Work runs one item at a time in
// the order it was enqueued. The queue is created once and never destroyed.

#include <functional>
#include <thread>

#include "zel/futures/ZELExecutor.h"

namespace zel {

class ZELMainQueue {
 public:
  using Dispatcher = std::function<void(std::function<void()> drain)>;

  static ZELMainQueue& shared();

  /// Hands the queue to the application's run loop. Must be called on the main thread, before
  /// any work was enqueued; a later call is reported through the assertion facility and ignored.
  /// Returns whether the dispatcher was installed.
  bool setDispatcher(Dispatcher dispatcher);

  /// Enqueues work to run on the main thread.
  void enqueue(ZELExecutor::Work work);

  /// True when the caller runs on the main thread.
  [[nodiscard]] bool isCurrent() const noexcept;

  ZELMainQueue(const ZELMainQueue&) = delete;
  ZELMainQueue& operator=(const ZELMainQueue&) = delete;

 private:
  ZELMainQueue();
  struct State;
  State* state_;  // never destroyed, like the queue itself
};

}  // namespace zel
