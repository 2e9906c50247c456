#pragma once
// The engine behind a URLSession: the libcurl multi handle driven by one I/O thread, and the
// serial delegate queue on which every callback of the session runs.
//
// Threads: public calls (task creation, resume, cancel, invalidation) arrive from any thread
// and reach the I/O thread as commands (a locked vector plus curl_multi_wakeup). Everything in
// IOState is touched only by the I/O thread. Delegate callbacks run on the delegate queue.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <variant>
#include <vector>

#include "zel/futures/ZELSerialQueue.h"
#include "zel/transport/URLSession.h"

namespace zel::detail {

struct Transfer;
struct IOState;

class SessionCore : public std::enable_shared_from_this<SessionCore> {
 public:
  SessionCore(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate);
  ~SessionCore();

  /// Starts the I/O thread; called once, right after construction.
  void start();
  /// Transaction metrics are read off libcurl only when a delegate can receive them.
  [[nodiscard]] bool collectsMetrics() const noexcept { return collectsMetrics_; }
  void attachFacade(URLSession* facade) noexcept { facade_.store(facade); }
  /// Cancels everything and waits for the session's threads (unless called on one of them).
  void shutdownFromFacade();

  [[nodiscard]] const URLSessionConfiguration& configuration() const noexcept {
    return configuration_;
  }
  [[nodiscard]] std::shared_ptr<URLSessionDelegate> delegate() const;
  [[nodiscard]] const std::shared_ptr<ZELSerialQueue>& delegateQueue() const noexcept {
    return delegateQueue_;
  }

  template <class TaskType>
  std::shared_ptr<TaskType> makeTask(URLRequest request, URLSessionTask::CompletionHandler handler);

  void getTasks(std::function<void(std::vector<std::shared_ptr<URLSessionDataTask>>,
                                   std::vector<std::shared_ptr<URLSessionUploadTask>>,
                                   std::vector<std::shared_ptr<URLSessionTask>>)>
                    handler);
  void invalidate(bool cancelTasks);

  // Called by URLSessionTask.
  void resumeTask(const std::shared_ptr<URLSessionTask>& task);
  void cancelRunningTask(const std::shared_ptr<URLSessionTask>& task);
  void cancelUnstartedTask(const std::shared_ptr<URLSessionTask>& task);

  // Used by the I/O side (SessionCore.cpp, Transfer.cpp).
  void postToDelegateQueue(std::function<void()> work);
  void deliverResponse(const std::shared_ptr<URLSessionTask>& task,
                       std::shared_ptr<const URLResponse> response);
  void deliverData(const std::shared_ptr<URLSessionTask>& task, Data data);
  void deliverUploadProgress(const std::shared_ptr<URLSessionTask>& task, std::int64_t sent,
                             std::int64_t total, std::int64_t expected);
  void deliverRedirect(const std::shared_ptr<URLSessionTask>& task,
                       std::shared_ptr<const HTTPURLResponse> response, URLRequest proposed);
  void finishTask(const std::shared_ptr<URLSessionTask>& task, std::optional<Data> body,
                  std::optional<Error> error, URLSessionTaskMetrics metrics);

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
  using Command = std::variant<StartCommand, CancelCommand, RedirectCommand>;
  void sendCommand(Command command);

 private:
  void ioThreadMain();
  [[nodiscard]] bool isIOThread() const noexcept;
  void processCommands(IOState& io);
  void taskEnded(std::uint64_t identifier);
  void deliveryDone();
  void finishInvalidationIfIdle();

  // Runs delegate work now if the delegate queue cannot take it (the session is shutting down).
  template <class Fn>
  void withDelegate(Fn&& fn);

  const URLSessionConfiguration configuration_;
  const std::shared_ptr<ZELSerialQueue> delegateQueue_;
  std::atomic<URLSession*> facade_{nullptr};
  const bool collectsMetrics_;

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
  void* multi_ = nullptr;  // CURLM*, created before the thread starts, for curl_multi_wakeup
};

}  // namespace zel::detail
