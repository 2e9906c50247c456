#pragma once
// The engine behind a URLSession: the libcurl multi handle driven by one I/O thread, and the
// serial delegate queue on which every callback of the session runs.
//
// Reading order for a transfer's whole life:
//   URLSessionTask::resume → SessionCore::resumeTask (SessionTasks.cpp) → a start command →
//   the loop in SessionThread.cpp → SessionIO.h, whose steps live in SessionCore.cpp,
//   RequestValidation.cpp, HostAdmission.h, TransferSetup.cpp, TransferCallbacks.cpp,
//   ResponseHeadParser.cpp, RedirectProposal.cpp, RetryPolicy.cpp, TransferErrors.cpp,
//   TransferMetrics.cpp →
//   the outcome on the delegate queue (DelegateDelivery.cpp).
//
// Threads: public calls (task creation, resume, cancel, invalidation) arrive from any thread
// and reach the I/O thread as commands (a locked vector plus curl_multi_wakeup). Everything in
// IOState is touched only by the I/O thread. Delegate callbacks run on the delegate queue, which
// the I/O thread drains itself between rounds, or a background worker for a delegate session's
// bursts (DelegateDelivery.cpp).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <variant>
#include <vector>

#include "CurlHandles.h"
#include "zel/futures/ZELSerialQueue.h"
#include "zel/transport/URLSession.h"

namespace zel::detail {

struct StreamBacklog;

class SessionCore : public std::enable_shared_from_this<SessionCore> {
 public:
  SessionCore(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate);
  ~SessionCore();

  /// Starts the I/O thread; called once, right after construction.
  void start();
  /// Transaction metrics are read off libcurl only when a delegate can receive them.
  [[nodiscard]] bool collectsMetrics() const noexcept { return collectsMetrics_; }
  void attachFacade(URLSession* facade) noexcept { facade_.store(facade); }
  /// The application let its last reference go: cancels everything, lets every task end
  /// through its handler or delegate, and waits for the session's threads (unless called on
  /// one of them).
  void shutdownFromFacade();

  [[nodiscard]] const URLSessionConfiguration& configuration() const noexcept {
    return configuration_;
  }
  /// Why this configuration's own header fields cannot be sent, checked once.
  [[nodiscard]] const std::optional<std::string>& configurationProblem() const noexcept {
    return configurationProblem_;
  }
  [[nodiscard]] std::shared_ptr<URLSessionDelegate> delegate() const;
  [[nodiscard]] const std::shared_ptr<ZELSerialQueue>& delegateQueue() const noexcept {
    return delegateQueue_;
  }

  // ---- tasks (SessionTasks.cpp) ----
  template <class TaskType>
  std::shared_ptr<TaskType> makeTask(URLRequest request, URLSessionTask::CompletionHandler handler);
  void getTasks(std::function<void(std::vector<std::shared_ptr<URLSessionDataTask>>,
                                   std::vector<std::shared_ptr<URLSessionUploadTask>>,
                                   std::vector<std::shared_ptr<URLSessionTask>>)>
                    handler);
  void invalidate(bool cancelTasks);
  void resumeTask(const std::shared_ptr<URLSessionTask>& task);
  void cancelTask(const std::shared_ptr<URLSessionTask>& task, bool started);

  // ---- events for the delegate queue (DelegateDelivery.cpp) ----
  void deliverResponse(const std::shared_ptr<URLSessionTask>& task,
                       std::shared_ptr<const URLResponse> response);
  void deliverData(const std::shared_ptr<URLSessionTask>& task, Data data,
                   std::shared_ptr<StreamBacklog> backlog);
  void deliverUploadProgress(const std::shared_ptr<URLSessionTask>& task, std::int64_t sent,
                             std::int64_t total, std::int64_t expected);
  void deliverRedirect(const std::shared_ptr<URLSessionTask>& task,
                       std::shared_ptr<const HTTPURLResponse> response, URLRequest proposed);
  /// The task's one ending: its handler (or delegate) hears of it on the delegate queue.
  void deliverCompletion(const std::shared_ptr<URLSessionTask>& task, std::optional<Data> body,
                         std::optional<Error> error, URLSessionTaskMetrics metrics);

  // ---- commands to the I/O thread ----
  struct StartCommand {
    std::shared_ptr<URLSessionTask> task;
  };
  struct CancelCommand {
    std::shared_ptr<URLSessionTask> task;
  };
  struct RedirectCommand {
    std::shared_ptr<URLSessionTask> task;
    std::optional<URLRequest> request;
  };
  // The delegate caught up with a paused streaming transfer.
  struct ResumeCommand {
    std::shared_ptr<URLSessionTask> task;
  };
  using Command = std::variant<StartCommand, CancelCommand, RedirectCommand, ResumeCommand>;
  void sendCommand(Command command);

 private:
  void ioThreadMain();
  // Asks the I/O thread to stop once its transfers are done; called with mutex_ held.
  void requestStop();
  [[nodiscard]] bool isIOThread() const noexcept;
  void postToDelegateQueue(std::function<void()> work);
  // After each round of the I/O thread: runs the events it queued, or hands them to a worker.
  void runRoundDelegateEvents();
  // Calls fn(session, delegate) when both are there.
  template <class Fn>
  void withDelegate(Fn&& fn) {
    if (!collectsMetrics_) return;  // made without a delegate: there never is one
    URLSession* session = facade_.load();
    const auto current = delegate();
    if (session != nullptr && current) fn(*session, *current);
  }
  void forgetTask(std::uint64_t identifier);
  void outcomeDelivered();
  void finishInvalidationIfIdle();

  const URLSessionConfiguration configuration_;
  const std::optional<std::string> configurationProblem_;
  const std::shared_ptr<ZELSerialQueue> delegateQueue_;
  const bool collectsMetrics_;
  const CurlMulti multi_;  // made before the thread starts, so other threads can wake it
  std::atomic<URLSession*> facade_{nullptr};
  int roundDelegateEvents_ = 0;  // queued by the I/O thread this round; I/O thread only
  std::atomic<bool> delegateDrainPending_{false};  // a worker is yet to drain the delegate queue
  // Stands in for the application's session once it is gone, until every task has ended.
  std::unique_ptr<URLSession> standIn_;

  mutable std::mutex mutex_;  // guards the fields below
  std::shared_ptr<URLSessionDelegate> delegate_;
  std::unordered_map<std::uint64_t, std::shared_ptr<URLSessionTask>> liveTasks_;
  std::uint64_t nextIdentifier_ = 1;
  bool invalidated_ = false;
  bool invalidationFinished_ = false;
  std::vector<Command> commands_;
  bool stopRequested_ = false;
  bool ioSleeping_ = false;  // the I/O thread is (about to be) blocked in curl_multi_poll
  bool ioExited_ = false;
  bool shutDownQueueOnExit_ = false;   // the session was destroyed on the I/O thread
  std::size_t pendingDeliveries_ = 0;  // completions posted but not yet delivered
  std::condition_variable ioExitedChanged_;
};

}  // namespace zel::detail
