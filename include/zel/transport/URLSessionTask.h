#pragma once
// URLSessionTask — one HTTP request run by a URLSession (redirect hops included).
//
// Tasks start suspended; resume() starts them. cancel() ends a task with NSURLErrorDomain -999
// like any other end: the delegate (or completion handler) hears of it on the delegate queue.
// All members may be called from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "zel/platform/Data.h"
#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"

namespace zel {

namespace detail {
class SessionCore;
// Only the session engine can make one: it unlocks the members below that run a task's life.
struct TaskEngineKey;
}  // namespace detail

enum class URLSessionTaskState { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

inline constexpr float URLSessionTaskPriorityLow = 0.25f;
inline constexpr float URLSessionTaskPriorityDefault = 0.5f;
inline constexpr float URLSessionTaskPriorityHigh = 0.75f;

class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  using CompletionHandler = std::function<void(
      std::optional<Data>, std::shared_ptr<const URLResponse>, std::optional<Error>)>;

  virtual ~URLSessionTask();
  URLSessionTask(const URLSessionTask&) = delete;
  URLSessionTask& operator=(const URLSessionTask&) = delete;

  /// Unique within the session, from 1.
  [[nodiscard]] std::uint64_t taskIdentifier() const noexcept { return identifier_; }
  [[nodiscard]] URLSessionTaskState state() const;

  /// Starts a suspended task; does nothing otherwise.
  void resume();
  /// Ends the task with NSURLErrorCancelled unless it already completed.
  void cancel();

  /// 0.0–1.0: orders transfers waiting for a connection and sets the HTTP/2 stream weight.
  /// Values outside the range are clamped.
  [[nodiscard]] float priority() const noexcept { return priority_.load(); }
  void setPriority(float priority) noexcept;

  /// The request the task was made with.
  [[nodiscard]] const URLRequest& originalRequest() const noexcept { return originalRequest_; }
  /// The request of the current transaction (differs from the original after a redirect).
  [[nodiscard]] URLRequest currentRequest() const;
  /// The response head once it arrived; absent before.
  [[nodiscard]] std::shared_ptr<const URLResponse> response() const;
  /// The error the task ended with, once completed with one.
  [[nodiscard]] std::optional<Error> error() const;

  [[nodiscard]] std::int64_t countOfBytesSent() const noexcept { return bytesSent_.load(); }
  [[nodiscard]] std::int64_t countOfBytesReceived() const noexcept { return bytesReceived_.load(); }
  [[nodiscard]] std::int64_t countOfBytesExpectedToSend() const noexcept;

  /// Kind of task, for getTasksWithCompletionHandler.
  enum class Kind { Data, Upload, Download };
  [[nodiscard]] Kind kind() const noexcept { return kind_; }

 protected:
  URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request,
                 std::weak_ptr<detail::SessionCore> core, CompletionHandler handler);

 public:
  // ---- for the session engine (callable only with its key) ------------------------------

  /// Events held back on the delegate queue until the delegate decides on the response.
  /// Touched only on the session's delegate queue.
  struct ResponseGate {
    bool awaitingDisposition = false;
    bool cancelledByDisposition = false;
    std::vector<std::function<void()>> heldEvents;
  };
  /// What the task hands over when it completes.
  struct Ending {
    CompletionHandler handler;
    std::shared_ptr<const URLResponse> response;
  };

  struct StartFacts {
    bool reportsToDelegate;  // no completion handler
    bool canceling;          // cancel() came before the engine started the task
  };
  [[nodiscard]] StartFacts startFacts(const detail::TaskEngineKey&) const;
  void setResponse(const detail::TaskEngineKey&, std::shared_ptr<const URLResponse> response);
  void setCurrentRequest(const detail::TaskEngineKey&, URLRequest request);
  void addBytesReceived(const detail::TaskEngineKey&, std::int64_t count) noexcept;
  void setBytesSent(const detail::TaskEngineKey&, std::int64_t total) noexcept;
  /// Completed, with the error; hands over the handler (once) and the response.
  [[nodiscard]] Ending complete(const detail::TaskEngineKey&, const std::optional<Error>& error);
  [[nodiscard]] ResponseGate& responseGate(const detail::TaskEngineKey&) noexcept {
    return responseGate_;
  }

 private:
  void finishWithoutSession();

  const Kind kind_;
  const std::uint64_t identifier_;
  const URLRequest originalRequest_;
  const std::weak_ptr<detail::SessionCore> core_;
  std::atomic<float> priority_{URLSessionTaskPriorityDefault};
  std::atomic<std::int64_t> bytesSent_{0};
  std::atomic<std::int64_t> bytesReceived_{0};

  mutable std::mutex mutex_;  // guards the fields below
  URLSessionTaskState state_ = URLSessionTaskState::Suspended;
  URLRequest currentRequest_;
  std::shared_ptr<const URLResponse> response_;
  std::optional<Error> error_;
  CompletionHandler completionHandler_;

  ResponseGate responseGate_;
};

class URLSessionDataTask : public URLSessionTask {
 public:
  URLSessionDataTask(std::uint64_t identifier, URLRequest request,
                     std::weak_ptr<detail::SessionCore> core, CompletionHandler handler,
                     Kind kind = Kind::Data)
      : URLSessionTask(kind, identifier, std::move(request), std::move(core), std::move(handler)) {}
};

/// A data task whose body was given at creation (the request's body is replaced by it).
class URLSessionUploadTask : public URLSessionDataTask {
 public:
  URLSessionUploadTask(std::uint64_t identifier, URLRequest request,
                       std::weak_ptr<detail::SessionCore> core, CompletionHandler handler)
      : URLSessionDataTask(identifier, std::move(request), std::move(core), std::move(handler),
                           Kind::Upload) {}
};

}  // namespace zel
