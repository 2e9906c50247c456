// The SessionCore's other half: task bookkeeping, invalidation, and delivery of events to the
// delegate (or completion handler) on the delegate queue.

#include <curl/curl.h>

#include "SessionCore.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/transport/URLError.h"

namespace zel::detail {

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

void SessionCore::postToDelegateQueue(std::function<void()> work) {
  // The I/O thread drains the queue itself after each round (no wake-up needed); others wake it.
  const bool queued = isIOThread() ? delegateQueue_->tryEnqueueWithoutWaking(work)
                                   : delegateQueue_->tryExecute(work);
  // Once the queue has shut down (the session is gone), outcomes still reach their handlers.
  if (!queued) ZELExecutor::background()->execute(std::move(work));
}

void SessionCore::resumeTask(const std::shared_ptr<URLSessionTask>& task) {
  bool known = false;
  {
    std::lock_guard lock(mutex_);
    known = liveTasks_.contains(task->taskIdentifier()) && !ioExited_;
  }
  if (!known) {
    finishTask(task, std::nullopt,
               makeURLError(NSURLErrorCancelled,
                            task->originalRequest().url()
                                ? std::optional(task->originalRequest().url()->absoluteString())
                                : std::nullopt),
               URLSessionTaskMetrics{{}, DateInterval{std::chrono::system_clock::now(), {}}, 0});
    return;
  }
  sendCommand(StartCommand{task});
}

void SessionCore::cancelRunningTask(const std::shared_ptr<URLSessionTask>& task) {
  sendCommand(CancelCommand{task});
}

void SessionCore::cancelUnstartedTask(const std::shared_ptr<URLSessionTask>& task) {
  const auto& url = task->originalRequest().url();
  finishTask(
      task, std::nullopt,
      makeURLError(NSURLErrorCancelled, url ? std::optional(url->absoluteString()) : std::nullopt),
      URLSessionTaskMetrics{{}, DateInterval{std::chrono::system_clock::now(), {}}, 0});
}

void SessionCore::deliverResponse(const std::shared_ptr<URLSessionTask>& task,
                                  std::shared_ptr<const URLResponse> response) {
  postToDelegateQueue([self = shared_from_this(), task, response = std::move(response)] {
    URLSession* session = self->facade_.load();
    const auto delegate = self->delegate();
    if (session == nullptr || !delegate || task->dispositionCancelled_) return;
    auto called = std::make_shared<std::atomic<bool>>(false);
    task->awaitingDisposition_ = true;
    delegate->didReceiveResponse(*session, std::static_pointer_cast<URLSessionDataTask>(task),
                                 response,
                                 [self, task, called](URLSessionResponseDisposition disposition) {
                                   if (called->exchange(true)) return;
                                   auto apply = [self, task, disposition] {
                                     task->awaitingDisposition_ = false;
                                     if (disposition == URLSessionResponseDisposition::Cancel) {
                                       task->dispositionCancelled_ = true;
                                       task->cancel();
                                     }
                                     auto deferred = std::move(task->deferredEvents_);
                                     task->deferredEvents_.clear();
                                     for (auto& event : deferred) event();
                                   };
                                   if (self->delegateQueue_->isCurrent()) {
                                     apply();
                                   } else {
                                     self->postToDelegateQueue(std::move(apply));
                                   }
                                 });
  });
}

namespace {

// Runs the event now, or after the delegate has decided on the task's response.
void runOrDefer(std::function<void()> event, bool awaiting,
                std::vector<std::function<void()>>& deferred) {
  if (awaiting) {
    deferred.push_back(std::move(event));
  } else {
    event();
  }
}

}  // namespace

void SessionCore::deliverData(const std::shared_ptr<URLSessionTask>& task, Data data) {
  task->bytesReceived_.fetch_add(static_cast<std::int64_t>(data.size()));
  postToDelegateQueue([self = shared_from_this(), task, data = std::move(data)] {
    auto event = [self, task, data] {
      URLSession* session = self->facade_.load();
      const auto delegate = self->delegate();
      if (session == nullptr || !delegate || task->dispositionCancelled_) return;
      delegate->didReceiveData(*session, std::static_pointer_cast<URLSessionDataTask>(task), data);
    };
    runOrDefer(std::move(event), task->awaitingDisposition_, task->deferredEvents_);
  });
}

void SessionCore::deliverUploadProgress(const std::shared_ptr<URLSessionTask>& task,
                                        std::int64_t sent, std::int64_t total,
                                        std::int64_t expected) {
  task->bytesSent_.store(total);
  postToDelegateQueue([self = shared_from_this(), task, sent, total, expected] {
    URLSession* session = self->facade_.load();
    const auto delegate = self->delegate();
    if (session != nullptr && delegate)
      delegate->didSendBodyData(*session, task, sent, total, expected);
  });
}

void SessionCore::deliverRedirect(const std::shared_ptr<URLSessionTask>& task,
                                  std::shared_ptr<const HTTPURLResponse> response,
                                  URLRequest proposed) {
  postToDelegateQueue([self = shared_from_this(), task, response = std::move(response),
                       proposed = std::move(proposed)] {
    URLSession* session = self->facade_.load();
    const auto delegate = self->delegate();
    if (session == nullptr || !delegate) {
      self->sendCommand(RedirectCommand{task, proposed});
      return;
    }
    auto called = std::make_shared<std::atomic<bool>>(false);
    delegate->willPerformHTTPRedirection(
        *session, task, response, proposed,
        [self, task, called](std::optional<URLRequest> request) {
          if (called->exchange(true)) return;
          self->sendCommand(RedirectCommand{task, std::move(request)});
        });
  });
}

void SessionCore::finishTask(const std::shared_ptr<URLSessionTask>& task, std::optional<Data> body,
                             std::optional<Error> error, URLSessionTaskMetrics metrics) {
  URLSessionTask::CompletionHandler handler;
  std::shared_ptr<const URLResponse> response;
  {
    std::lock_guard lock(task->mutex_);
    task->state_ = URLSessionTaskState::Completed;
    task->error_ = error;
    handler = std::move(task->completionHandler_);
    task->completionHandler_ = nullptr;
    response = task->response_;
  }
  // One heap record per completion, moved (not copied) through the queue.
  struct Completion {
    std::shared_ptr<SessionCore> self;
    std::shared_ptr<URLSessionTask> task;
    std::optional<Data> body;
    std::optional<Error> error;
    URLSessionTaskMetrics metrics;
    URLSessionTask::CompletionHandler handler;
    std::shared_ptr<const URLResponse> response;

    void deliver() {
      if (task->dispositionCancelled_ && !error) {
        const auto request = task->currentRequest();
        const auto& url = request.url();
        error = makeURLError(NSURLErrorCancelled,
                             url ? std::optional(url->absoluteString()) : std::nullopt);
      }
      // Each callback looks the session up anew: the one before may have let it go.
      if (auto* session = self->facade_.load()) {
        if (const auto delegate = self->delegate()) {
          delegate->didFinishCollectingMetrics(*session, task, metrics);
        }
      }
      if (handler) {
        if (error) body.reset();
        handler(std::move(body), std::move(response), std::move(error));
      } else if (auto* session = self->facade_.load()) {
        if (const auto delegate = self->delegate()) {
          delegate->didCompleteWithError(*session, task, error);
        }
      }
      self->deliveryDone();
    }
  };
  {
    std::lock_guard lock(mutex_);
    ++pendingDeliveries_;
  }
  auto completion = std::make_shared<Completion>(
      Completion{shared_from_this(), task, std::move(body), std::move(error), std::move(metrics),
                 std::move(handler), std::move(response)});
  postToDelegateQueue([completion] {
    auto& task = *completion->task;
    if (task.awaitingDisposition_) {
      task.deferredEvents_.push_back([completion] { completion->deliver(); });
    } else {
      completion->deliver();
    }
  });
  taskEnded(task->taskIdentifier());
}

void SessionCore::taskEnded(std::uint64_t identifier) {
  {
    std::lock_guard lock(mutex_);
    liveTasks_.erase(identifier);
  }
  finishInvalidationIfIdle();
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

void SessionCore::deliveryDone() {
  {
    std::lock_guard lock(mutex_);
    --pendingDeliveries_;
  }
  finishInvalidationIfIdle();
}

// An invalidated session stops its I/O thread once no task is left, and tells its delegate
// once every outcome has also been delivered (some may wait on a response disposition).
void SessionCore::finishInvalidationIfIdle() {
  {
    std::lock_guard lock(mutex_);
    if (!invalidated_ || !liveTasks_.empty()) return;
    if (!stopRequested_) {
      stopRequested_ = true;
      if (!ioExited_) {
        ioSleeping_ = false;
        curl_multi_wakeup(static_cast<CURLM*>(multi_));
      }
    }
    if (invalidationFinished_ || pendingDeliveries_ > 0) return;
    invalidationFinished_ = true;
  }
  postToDelegateQueue([self = shared_from_this()] {
    URLSession* session = self->facade_.load();
    const auto delegate = self->delegate();
    if (session != nullptr && delegate) delegate->didBecomeInvalidWithError(*session, std::nullopt);
    std::lock_guard lock(self->mutex_);
    self->delegate_.reset();
  });
}

void SessionCore::shutdownFromFacade() {
  facade_.store(nullptr);
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
