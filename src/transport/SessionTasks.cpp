// The session's tasks: creation, listing, resume and cancel, invalidation and shutdown.

#include "RequestValidation.h"
#include "SessionCore.h"
#include "TaskEngineKey.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

URLSessionTaskMetrics emptyMetrics() {
  return URLSessionTaskMetrics{{}, DateInterval{std::chrono::system_clock::now(), {}}, 0};
}

}  // namespace

template <class TaskType>
std::shared_ptr<TaskType> SessionCore::makeTask(URLRequest request,
                                                URLSessionTask::CompletionHandler handler) {
  std::lock_guard lock(mutex_);
  auto task = std::make_shared<TaskType>(nextIdentifier_++, std::move(request), weak_from_this(),
                                         std::move(handler));
  if (invalidated_) {
    ZELCAssertionFailure("A task was created on an invalidated URL session; it will fail");
  } else {
    liveTasks_.emplace(task->taskIdentifier(), task);
  }
  return task;
}

template std::shared_ptr<URLSessionDataTask> SessionCore::makeTask<URLSessionDataTask>(
    URLRequest, URLSessionTask::CompletionHandler);
template std::shared_ptr<URLSessionUploadTask> SessionCore::makeTask<URLSessionUploadTask>(
    URLRequest, URLSessionTask::CompletionHandler);

void SessionCore::resumeTask(const std::shared_ptr<URLSessionTask>& task) {
  bool known = false;
  {
    std::lock_guard lock(mutex_);
    known = liveTasks_.contains(task->taskIdentifier()) && !ioExited_;
  }
  if (!known) {
    // Made on an invalidated session: it ends at once, cancelled.
    deliverCompletion(task, std::nullopt,
                      makeURLError(NSURLErrorCancelled, urlText(task->originalRequest())),
                      emptyMetrics());
    return;
  }
  sendCommand(StartCommand{task});
}

void SessionCore::cancelTask(const std::shared_ptr<URLSessionTask>& task, bool started) {
  if (started) {
    sendCommand(CancelCommand{task});
    return;
  }
  deliverCompletion(task, std::nullopt,
                    makeURLError(NSURLErrorCancelled, urlText(task->originalRequest())),
                    emptyMetrics());
}

void SessionCore::forgetTask(std::uint64_t identifier) {
  std::unique_lock lock(mutex_);
  liveTasks_.erase(identifier);
  if (invalidated_) {
    lock.unlock();
    finishInvalidationIfIdle();
  }
}

void SessionCore::getTasks(std::function<void(std::vector<std::shared_ptr<URLSessionDataTask>>,
                                              std::vector<std::shared_ptr<URLSessionUploadTask>>,
                                              std::vector<std::shared_ptr<URLSessionTask>>)>
                               handler) {
  std::vector<std::shared_ptr<URLSessionDataTask>> data;
  std::vector<std::shared_ptr<URLSessionUploadTask>> uploads;
  std::vector<std::shared_ptr<URLSessionTask>> downloads;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, task] : liveTasks_) {
      switch (task->kind()) {
        case URLSessionTask::Kind::Data:
          data.push_back(std::static_pointer_cast<URLSessionDataTask>(task));
          break;
        case URLSessionTask::Kind::Upload:
          uploads.push_back(std::static_pointer_cast<URLSessionUploadTask>(task));
          break;
        case URLSessionTask::Kind::Download:
          downloads.push_back(task);
          break;
      }
    }
  }
  auto byIdentifier = [](const auto& a, const auto& b) {
    return a->taskIdentifier() < b->taskIdentifier();
  };
  std::sort(data.begin(), data.end(), byIdentifier);
  std::sort(uploads.begin(), uploads.end(), byIdentifier);
  postToDelegateQueue([handler = std::move(handler), data = std::move(data),
                       uploads = std::move(uploads), downloads = std::move(downloads)]() mutable {
    if (handler) handler(std::move(data), std::move(uploads), std::move(downloads));
  });
}

void SessionCore::invalidate(bool cancelTasks) {
  std::vector<std::shared_ptr<URLSessionTask>> toCancel;
  {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
    if (cancelTasks) {
      for (const auto& [id, task] : liveTasks_) toCancel.push_back(task);
    }
  }
  for (const auto& task : toCancel) task->cancel();
  finishInvalidationIfIdle();
}

void SessionCore::outcomeDelivered() {
  std::unique_lock lock(mutex_);
  --pendingDeliveries_;
  if (invalidated_) {
    lock.unlock();
    finishInvalidationIfIdle();
  }
}

// An invalidated session stops its I/O thread once no task is left, and tells its delegate
// once every outcome has also been delivered (some may wait on a response disposition).
void SessionCore::finishInvalidationIfIdle() {
  {
    std::lock_guard lock(mutex_);
    if (!invalidated_ || !liveTasks_.empty()) return;
    requestStop();
    if (invalidationFinished_ || pendingDeliveries_ > 0) return;
    invalidationFinished_ = true;
  }
  postToDelegateQueue([self = shared_from_this()] {
    self->withDelegate([](URLSession& session, URLSessionDelegate& delegate) {
      delegate.didBecomeInvalidWithError(session, std::nullopt);
    });
    std::unique_ptr<URLSession> standIn;
    {
      std::lock_guard lock(self->mutex_);
      self->delegate_.reset();
      // Nothing names the session any more: the stand-in (and its hold on the core) can go.
      if (self->standIn_) {
        self->facade_.store(nullptr);
        standIn = std::move(self->standIn_);
      }
    }
  });
}

void SessionCore::shutdownFromFacade() {
  {
    // From here on a delegate still to hear of its tasks sees a stand-in: the application's
    // session object is going.
    std::lock_guard lock(mutex_);
    if (delegate_ && !invalidationFinished_) {
      standIn_ = URLSession::makeStandIn(shared_from_this());
      facade_.store(standIn_.get());
    } else {
      facade_.store(nullptr);
    }
  }
  invalidate(true);
  if (isIOThread()) {
    // Destroyed from a callback the I/O thread runs: the cancellations it is about to finish
    // must still go through the queue, so the queue stops when that thread does.
    std::lock_guard lock(mutex_);
    shutDownQueueOnExit_ = true;
    return;
  }
  {
    std::unique_lock lock(mutex_);
    ioExitedChanged_.wait(lock, [this] { return ioExited_; });
  }
  delegateQueue_->shutdown();
}

}  // namespace zel::detail
