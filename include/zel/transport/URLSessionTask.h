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
struct IOState;
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

 private:
  friend class detail::SessionCore;
  void finishWithoutSession();
  friend struct detail::IOState;

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

  // Touched only on the session's delegate queue: events held back until the delegate decides
  // what to do with the response.
  bool awaitingDisposition_ = false;
  bool dispositionCancelled_ = false;
  std::vector<std::function<void()>> deferredEvents_;
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
