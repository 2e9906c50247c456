// Events on their way to the delegate (or completion handler): each is posted to the session's
// delegate queue, where it runs in event order. Body pieces and the ending wait while the
// delegate decides on the response.

#include "../futures/BackgroundWakeBatch.h"
#include "RequestValidation.h"
#include "SessionCore.h"
#include "TaskEngineKey.h"
#include "Transfer.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

const TaskEngineKey kKey{};

// Runs the event now, or after the delegate has decided on the task's response.
template <class Event>
void runOrHold(URLSessionTask& task, Event&& event) {
  auto& gate = task.responseGate(kKey);
  if (gate.awaitingDisposition) {
    gate.heldEvents.emplace_back(std::forward<Event>(event));
  } else {
    event();
  }
}

}  // namespace

void SessionCore::postToDelegateQueue(std::function<void()> work) {
  // The I/O thread sees to the queue after each round (no wake-up needed); others wake it.
  const bool onIOThread = isIOThread();
  const bool queued =
      onIOThread ? delegateQueue_->tryEnqueueWithoutWaking(work) : delegateQueue_->tryExecute(work);
  if (queued && onIOThread) ++roundDelegateEvents_;
  // Once the queue has shut down (the session is gone), outcomes still reach their handlers.
  if (!queued) ZELExecutor::background()->execute(std::move(work));
}

// A round's events usually run right here, while the queue is idle: a finished task's handler
// often starts the next request, which is then sent without a thread hop. A delegate session's
// delegate hears of every task (its response, metrics and end), so a burst of its events goes to a
// worker instead and the I/O thread returns to its sockets; the queue still runs them one at a
// time, in order, whoever drains it. A round of two finished tasks still runs here: handing it
// over would cost a second hop, as its handlers usually post their own work to the background.
void SessionCore::runRoundDelegateEvents() {
  constexpr int kInlineBurst = 8;  // a delegate session's events of one round still run inline
  const int events = std::exchange(roundDelegateEvents_, 0);
  const bool delegateSession = collectsMetrics_;  // metrics are collected exactly for those
  if (delegateSession && (events > kInlineBurst || delegateDrainPending_.load())) {
    // A drain still pending takes this round's events too.
    if (delegateDrainPending_.exchange(true)) return;
    ZELExecutor::background()->execute([self = shared_from_this()] {
      self->delegateDrainPending_.store(false);  // first: later events get a drain of their own
      const BackgroundWakeBatch wakeOnce;
      self->delegateQueue_->runPendingInline();
    });
    return;
  }
  const BackgroundWakeBatch wakeOnce;
  delegateQueue_->runPendingInline();
}

void SessionCore::deliverResponse(const std::shared_ptr<URLSessionTask>& task,
                                  std::shared_ptr<const URLResponse> response) {
  postToDelegateQueue([self = shared_from_this(), task, response = std::move(response)] {
    auto& gate = task->responseGate(kKey);
    if (gate.cancelledByDisposition) return;
    self->withDelegate([&](URLSession& session, URLSessionDelegate& delegate) {
      auto called = std::make_shared<std::atomic<bool>>(false);
      gate.awaitingDisposition = true;
      delegate.didReceiveResponse(session, std::static_pointer_cast<URLSessionDataTask>(task),
                                  response,
                                  [self, task, called](URLSessionResponseDisposition disposition) {
                                    if (called->exchange(true)) return;
                                    auto apply = [task, disposition] {
                                      auto& gate = task->responseGate(kKey);
                                      gate.awaitingDisposition = false;
                                      if (disposition == URLSessionResponseDisposition::Cancel) {
                                        gate.cancelledByDisposition = true;
                                        task->cancel();
                                      }
                                      for (auto& event : std::exchange(gate.heldEvents, {}))
                                        event();
                                    };
                                    if (self->delegateQueue_->isCurrent()) {
                                      apply();
                                    } else {
                                      self->postToDelegateQueue(std::move(apply));
                                    }
                                  });
    });
  });
}

void SessionCore::deliverData(const std::shared_ptr<URLSessionTask>& task, Data data,
                              std::shared_ptr<StreamBacklog> backlog) {
  postToDelegateQueue([self = shared_from_this(), task, data = std::move(data),
                       backlog = std::move(backlog)]() mutable {
    runOrHold(*task, [self, task, data = std::move(data), backlog = std::move(backlog)] {
      if (!task->responseGate(kKey).cancelledByDisposition) {
        self->withDelegate([&](URLSession& session, URLSessionDelegate& delegate) {
          delegate.didReceiveData(session, std::static_pointer_cast<URLSessionDataTask>(task),
                                  data);
        });
      }
      // The delegate took the piece: a transfer paused for it may go on.
      const auto size = static_cast<std::int64_t>(data.size());
      const auto left = backlog->bytes.fetch_sub(size) - size;
      if (left < StreamBacklog::kResumeBelow && backlog->pauseRequested.exchange(false)) {
        self->sendCommand(ResumeCommand{task});
      }
    });
  });
}

void SessionCore::deliverUploadProgress(const std::shared_ptr<URLSessionTask>& task,
                                        std::int64_t sent, std::int64_t total,
                                        std::int64_t expected) {
  postToDelegateQueue([self = shared_from_this(), task, sent, total, expected] {
    self->withDelegate([&](URLSession& session, URLSessionDelegate& delegate) {
      delegate.didSendBodyData(session, task, sent, total, expected);
    });
  });
}

void SessionCore::deliverRedirect(const std::shared_ptr<URLSessionTask>& task,
                                  std::shared_ptr<const HTTPURLResponse> response,
                                  URLRequest proposed) {
  postToDelegateQueue([self = shared_from_this(), task, response = std::move(response),
                       proposed = std::move(proposed)] {
    bool asked = false;
    self->withDelegate([&](URLSession& session, URLSessionDelegate& delegate) {
      asked = true;
      auto called = std::make_shared<std::atomic<bool>>(false);
      delegate.willPerformHTTPRedirection(
          session, task, response, proposed,
          [self, task, called](std::optional<URLRequest> request) {
            if (called->exchange(true)) return;
            self->sendCommand(RedirectCommand{task, std::move(request)});
          });
    });
    if (!asked) self->sendCommand(RedirectCommand{task, proposed});
  });
}

void SessionCore::deliverCompletion(const std::shared_ptr<URLSessionTask>& task,
                                    std::optional<Data> body, std::optional<Error> error,
                                    URLSessionTaskMetrics metrics) {
  auto ending = task->complete(kKey, error);
  struct Completion {
    std::shared_ptr<SessionCore> self;
    std::shared_ptr<URLSessionTask> task;
    std::optional<Data> body;
    std::optional<Error> error;
    URLSessionTaskMetrics metrics;
    URLSessionTask::Ending ending;

    void deliver() {
      if (task->responseGate(kKey).cancelledByDisposition && !error) {
        error = makeURLError(NSURLErrorCancelled, urlText(task->currentRequest()));
      }
      // Each callback looks the session up anew: the one before may have let it go.
      self->withDelegate([&](URLSession& session, URLSessionDelegate& delegate) {
        delegate.didFinishCollectingMetrics(session, task, metrics);
      });
      if (ending.handler) {
        if (error) body.reset();
        ending.handler(std::move(body), std::move(ending.response), std::move(error));
      } else {
        self->withDelegate([&](URLSession& session, URLSessionDelegate& delegate) {
          delegate.didCompleteWithError(session, task, error);
        });
      }
      self->outcomeDelivered();
    }
  };
  {
    std::lock_guard lock(mutex_);
    ++pendingDeliveries_;
  }
  // The record lives in the queued work itself: one allocation. Held behind a response
  // disposition (streaming only), it moves on into the held event.
  postToDelegateQueue(
      [completion = Completion{shared_from_this(), task, std::move(body), std::move(error),
                               std::move(metrics), std::move(ending)}]() mutable {
        auto& gate = completion.task->responseGate(kKey);
        if (gate.awaitingDisposition) {
          gate.heldEvents.emplace_back(
              [completion = std::move(completion)]() mutable { completion.deliver(); });
        } else {
          completion.deliver();
        }
      });
  forgetTask(task->taskIdentifier());
}

}  // namespace zel::detail
