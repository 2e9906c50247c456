#include "zel/futures/ZELSerialQueue.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

#include "zel/foundation/ZELAssertion.h"

namespace zel {

struct ZELSerialQueue::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Work> queue;
  bool stopping = false;
  bool exited = false;
  std::thread::id thread;

  // Takes the whole backlog at once, so a busy queue costs one lock round trip per batch.
  void run() {
    std::vector<Work> batch;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !queue.empty() || stopping; });
        if (queue.empty()) break;
        batch.swap(queue);
      }
      for (auto& work : batch) {
        try {
          work();
        } catch (const std::exception& e) {
          ZELCAssertionFailure(std::string("Work on a serial queue threw: ") + e.what());
        } catch (...) {
          ZELCAssertionFailure("Work on a serial queue threw an unknown exception");
        }
        work = nullptr;  // release captures before the next item runs
      }
      batch.clear();
    }
    std::lock_guard lock(mutex);
    exited = true;
    changed.notify_all();
  }
};

ZELSerialQueue::ZELSerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  std::thread thread([state = state_] { state->run(); });
  state_->thread = thread.get_id();
  thread.detach();
}

ZELSerialQueue::~ZELSerialQueue() { shutdown(); }

void ZELSerialQueue::execute(Work work) { (void)tryExecute(work); }

bool ZELSerialQueue::tryExecute(Work& work) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) return false;
    state_->queue.push_back(std::move(work));
  }
  state_->changed.notify_one();
  return true;
}

bool ZELSerialQueue::isCurrent() const noexcept {
  return std::this_thread::get_id() == state_->thread;
}

void ZELSerialQueue::shutdown() {
  std::unique_lock lock(state_->mutex);
  state_->stopping = true;
  state_->changed.notify_all();
  if (isCurrent()) return;
  state_->changed.wait(lock, [this] { return state_->exited; });
}

}  // namespace zel
