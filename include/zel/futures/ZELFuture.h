#pragma once
// ZELFuture<T> — a one-shot result: a value of T or an Error.
//
// A future completes once; later completions are ignored. Callbacks attached after completion
// still run. Futures are cheap handles: copies observe the same result.
//
//   auto f = zel::ZELFuture<int>::withBlock([](auto resolve, auto reject) { resolve(42); });
//   auto g = zel::ZELFutureMap::map(f, zel::ZELExecutor::background(),
//                                   [](const int& v) { return std::to_string(v); });
//   g.executeOnMainSuccess([](const std::string& s) { /* on the main queue */ }, nullptr);
//
// Transforms and blocks that throw complete their future with an error in
// ZELFutureErrorDomain (code ZELFutureErrorCodeThrew) instead of letting the exception escape.
// A success or failure block that throws is reported; the other listeners still run, whatever
// the executor.

#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "zel/futures/ZELExecutor.h"
#include "zel/platform/Error.h"
#include "zel/platform/Result.h"

namespace zel {

inline constexpr const char* ZELFutureErrorDomain = "ZELFutureErrorDomain";
/// wait() gave up after its timeout.
inline constexpr std::int64_t ZELFutureErrorCodeTimedOut = 1;
/// wait() was called on the main queue for a future that had not completed.
inline constexpr std::int64_t ZELFutureErrorCodeWaitOnMainQueue = 2;
/// A block or transform threw; the exception's text is the localized description.
inline constexpr std::int64_t ZELFutureErrorCodeThrew = 3;

template <class T>
class ZELFuture;
template <class T>
class ZELPromise;

namespace detail {

Error errorFromCurrentException();
Error waitError(std::int64_t code, const char* text);
bool waitingWouldBlockMainQueue();
/// Lets background work the calling thread queued run while it blocks.
void prepareToBlock() noexcept;
/// Reports the exception in flight (call from a catch block) as one that a listener let out.
void reportListenerException() noexcept;

/// Runs one listener of a future. An exception it lets out is reported and stops there: the
/// thread completing the future and the listeners after this one go on.
template <class T>
void runListener(const std::function<void(const Result<T>&)>& listener,
                 const Result<T>& result) noexcept {
  try {
    listener(result);
  } catch (...) {
    reportListenerException();
  }
}

template <class T>
class FutureState {
 public:
  using Callback = std::function<void(const Result<T>&)>;

  /// Returns false when the future had already completed.
  bool complete(Result<T>&& result) {
    Callback first;
    std::vector<Callback> more;
    {
      std::lock_guard lock(mutex_);
      if (result_) return false;
      result_.emplace(std::move(result));
      first.swap(first_);
      more.swap(more_);
    }
    completed_.notify_all();
    // The result is immutable from here on, so it is read without the lock.
    if (first) runListener(first, *result_);
    for (auto& callback : more) runListener(callback, *result_);
    return true;
  }

  void subscribe(Callback callback) {
    if (!callback) return;  // an empty listener has nothing to run
    {
      std::lock_guard lock(mutex_);
      if (!result_) {
        // Most futures have one listener: it needs no vector of its own.
        if (!first_ && more_.empty()) {
          first_ = std::move(callback);
        } else {
          more_.push_back(std::move(callback));
        }
        return;
      }
    }
    runListener(callback, *result_);
  }

  std::optional<Result<T>> peek() const {
    std::lock_guard lock(mutex_);
    return result_;
  }

  bool isCompleted() const {
    std::lock_guard lock(mutex_);
    return result_.has_value();
  }

  template <class Rep, class Period>
  std::optional<Result<T>> waitFor(std::chrono::duration<Rep, Period> timeout) const {
    std::unique_lock lock(mutex_);
    if (!completed_.wait_for(lock, timeout, [this] { return result_.has_value(); })) {
      return std::nullopt;
    }
    return result_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable completed_;
  std::optional<Result<T>> result_;
  Callback first_;              // the first listener, in subscription order
  std::vector<Callback> more_;  // the listeners after it
};

/// What `co_await future` waits with: the coroutine resumes with the future's Result, inline on
/// the thread that completes the future, or on the executor when one is given.
template <class T>
class FutureAwaiter {
 public:
  FutureAwaiter(std::shared_ptr<FutureState<T>> state, std::shared_ptr<ZELExecutor> executor)
      : state_(std::move(state)), executor_(std::move(executor)) {}

  bool await_ready() {
    if (executor_ && !executor_->isImmediate()) return false;  // always hop to the executor
    if (auto done = state_->peek()) result_.emplace(std::move(*done));
    return result_.has_value();
  }
  void await_suspend(std::coroutine_handle<> handle) {
    // The coroutine may resume (and this awaiter go away) before subscribe() returns.
    state_->subscribe([this, handle, executor = executor_](const Result<T>& result) {
      result_.emplace(result);
      if (!executor || executor->isImmediate()) {
        handle.resume();
      } else {
        executor->execute([handle] { handle.resume(); });
      }
    });
  }
  Result<T> await_resume() { return std::move(*result_); }

 private:
  std::shared_ptr<FutureState<T>> state_;
  std::shared_ptr<ZELExecutor> executor_;
  std::optional<Result<T>> result_;
};

/// Runs fn(result) on the executor; inline (no copy) for the immediate executor.
template <class T, class Fn>
void dispatch(const std::shared_ptr<ZELExecutor>& executor, const Result<T>& result, Fn&& fn) {
  if (executor->isImmediate()) {
    fn(result);
  } else {
    executor->execute([fn = std::forward<Fn>(fn), result]() mutable { fn(result); });
  }
}

}  // namespace detail

template <class T>
class ZELFuture {
 public:
  using Value = T;
  using Resolve = std::function<void(T)>;
  using Reject = std::function<void(Error)>;
  using SuccessBlock = std::function<void(const T&)>;
  using FailureBlock = std::function<void(const Error&)>;

  /// withValue: — a future already resolved.
  [[nodiscard]] static ZELFuture withValue(T value) {
    ZELFuture future;
    future.state_->complete(Result<T>(std::move(value)));
    return future;
  }

  /// withError: — a future already failed.
  [[nodiscard]] static ZELFuture withError(Error error) {
    ZELFuture future;
    future.state_->complete(Result<T>(std::move(error)));
    return future;
  }

  /// withBlock: — runs the block once, before returning; the first resolve or reject wins.
  /// resolve and reject may be kept and called later, from any thread.
  [[nodiscard]] static ZELFuture withBlock(const std::function<void(Resolve, Reject)>& block) {
    ZELFuture future;
    auto state = future.state_;
    try {
      block([state](T value) { state->complete(Result<T>(std::move(value))); },
            [state](Error error) { state->complete(Result<T>(std::move(error))); });
    } catch (...) {
      state->complete(Result<T>(detail::errorFromCurrentException()));
    }
    return future;
  }

  /// executor:block: — runs the block on the executor; the result takes its future's outcome.
  [[nodiscard]] static ZELFuture executor(const std::shared_ptr<ZELExecutor>& executor,
                                          std::function<ZELFuture()> block) {
    ZELFuture future;
    executor->execute([state = future.state_, block = std::move(block)] {
      try {
        block().forwardTo(state);
      } catch (...) {
        state->complete(Result<T>(detail::errorFromCurrentException()));
      }
    });
    return future;
  }

  /// executor:success:failure: — exactly one of the blocks runs on the executor; either may be
  /// empty (nil).
  void executor(const std::shared_ptr<ZELExecutor>& executor, SuccessBlock success,
                FailureBlock failure) const {
    state_->subscribe([executor, success = std::move(success),
                       failure = std::move(failure)](const Result<T>& result) {
      if (result.ok() ? !success : !failure) return;
      detail::dispatch(executor, result, [success, failure](const Result<T>& r) {
        if (r.ok()) {
          success(r.value());
        } else {
          failure(r.error());
        }
      });
    });
  }

  /// executor:flatMapError: — on failure the block runs on the executor and the result takes
  /// its future's outcome; a value passes unchanged.
  [[nodiscard]] ZELFuture flatMapError(const std::shared_ptr<ZELExecutor>& executor,
                                       std::function<ZELFuture(const Error&)> block) const {
    ZELFuture next;
    state_->subscribe(
        [executor, block = std::move(block), state = next.state_](const Result<T>& result) {
          if (result.ok()) {
            state->complete(Result<T>(result));
            return;
          }
          detail::dispatch(executor, result, [block, state](const Result<T>& r) {
            try {
              block(r.error()).forwardTo(state);
            } catch (...) {
              state->complete(Result<T>(detail::errorFromCurrentException()));
            }
          });
        });
    return next;
  }

  /// executeOnBackgroundSuccess:failure: — executor:success:failure: on the background executor.
  void executeOnBackgroundSuccess(SuccessBlock success, FailureBlock failure) const {
    executor(ZELExecutor::background(), std::move(success), std::move(failure));
  }

  /// executeOnMainSuccess:failure: — executor:success:failure: on the main queue.
  void executeOnMainSuccess(SuccessBlock success, FailureBlock failure) const {
    executor(ZELExecutor::main(), std::move(success), std::move(failure));
  }

  /// Runs the callback with the outcome on the thread that completes the future (or at once).
  void onComplete(std::function<void(const Result<T>&)> callback) const {
    state_->subscribe(std::move(callback));
  }

  [[nodiscard]] bool isCompleted() const { return state_->isCompleted(); }
  /// The outcome when completed, without waiting.
  [[nodiscard]] std::optional<Result<T>> peek() const { return state_->peek(); }

  /// Blocks until the future completes or the timeout passes (then an error with
  /// ZELFutureErrorCodeTimedOut). On the main queue an incomplete future is refused at once
  /// (ZELFutureErrorCodeWaitOnMainQueue, and an assertion report): the work it waits for may
  /// need the main queue, and waiting there would hang forever.
  template <class Rep, class Period>
  [[nodiscard]] Result<T> wait(std::chrono::duration<Rep, Period> timeout) const {
    if (auto done = state_->peek()) return std::move(*done);
    detail::prepareToBlock();
    if (detail::waitingWouldBlockMainQueue()) {
      return detail::waitError(ZELFutureErrorCodeWaitOnMainQueue,
                               "A future was waited for on the main queue");
    }
    if (auto done = state_->waitFor(timeout)) return std::move(*done);
    return detail::waitError(ZELFutureErrorCodeTimedOut, "Timed out waiting for a future");
  }

  /// `co_await future` yields the Result (value or error, never an exception), resuming inline
  /// on the thread that completes the future; `co_await future.on(executor)` resumes on the
  /// executor instead.
  [[nodiscard]] detail::FutureAwaiter<T> operator co_await() const { return {state_, nullptr}; }
  [[nodiscard]] detail::FutureAwaiter<T> on(std::shared_ptr<ZELExecutor> executor) const {
    return {state_, std::move(executor)};
  }

  /// True when both handles observe the same result.
  [[nodiscard]] bool isSameFuture(const ZELFuture& other) const noexcept {
    return state_ == other.state_;
  }

 private:
  template <class>
  friend class ZELFuture;
  template <class>
  friend class ZELPromise;
  friend struct ZELFutureMap;

  ZELFuture() : state_(std::make_shared<detail::FutureState<T>>()) {}
  explicit ZELFuture(std::shared_ptr<detail::FutureState<T>> state) : state_(std::move(state)) {}

  void forwardTo(const std::shared_ptr<detail::FutureState<T>>& target) const {
    state_->subscribe([target](const Result<T>& result) { target->complete(Result<T>(result)); });
  }

  std::shared_ptr<detail::FutureState<T>> state_;
};

/// The producing side of a future, for code that completes it from a callback.
template <class T>
class ZELPromise {
 public:
  ZELPromise() = default;

  [[nodiscard]] ZELFuture<T> future() const { return future_; }
  /// Returns false when the future had already completed (the value is ignored).
  bool resolve(T value) const { return future_.state_->complete(Result<T>(std::move(value))); }
  bool reject(Error error) const { return future_.state_->complete(Result<T>(std::move(error))); }
  bool complete(Result<T> result) const { return future_.state_->complete(std::move(result)); }

 private:
  ZELFuture<T> future_;
};

namespace detail {

/// The promise of a coroutine that returns ZELFuture<T>: `co_return value;` resolves it,
/// `co_return error;` (an Error) fails it, and an exception the body lets out fails it with
/// ZELFutureErrorCodeThrew. The coroutine runs at once, up to its first suspension.
template <class T>
struct FutureCoroutinePromise {
  ZELPromise<T> promise;

  ZELFuture<T> get_return_object() { return promise.future(); }
  std::suspend_never initial_suspend() noexcept { return {}; }
  std::suspend_never final_suspend() noexcept { return {}; }
  void return_value(T value) { promise.resolve(std::move(value)); }
  void return_value(Error error) { promise.reject(std::move(error)); }
  void unhandled_exception() { promise.reject(errorFromCurrentException()); }
};

}  // namespace detail
}  // namespace zel

/// Lets `ZELFuture<T> f(...)` be written as a coroutine.
template <class T, class... Args>
struct std::coroutine_traits<zel::ZELFuture<T>, Args...> {
  using promise_type = zel::detail::FutureCoroutinePromise<T>;
};
