#include "zel/transport/URLSessionTask.h"

#include <algorithm>

#include "SessionCore.h"
#include "TaskEngineKey.h"
#include "zel/futures/ZELExecutor.h"
#include "zel/transport/URLError.h"

namespace zel {

URLSessionTask::URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request,
                               std::weak_ptr<detail::SessionCore> core, CompletionHandler handler)
    : kind_(kind),
      identifier_(identifier),
      originalRequest_(request),
      core_(std::move(core)),
      currentRequest_(std::move(request)),
      completionHandler_(std::move(handler)) {}

URLSessionTask::~URLSessionTask() = default;

URLSessionTaskState URLSessionTask::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void URLSessionTask::setPriority(float priority) noexcept {
  priority_.store(std::clamp(priority, 0.0f, 1.0f));
}

URLRequest URLSessionTask::currentRequest() const {
  std::lock_guard lock(mutex_);
  return currentRequest_;
}

std::shared_ptr<const URLResponse> URLSessionTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<Error> URLSessionTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::int64_t URLSessionTask::countOfBytesExpectedToSend() const noexcept {
  const auto& body = originalRequest_.httpBody();
  return body ? static_cast<std::int64_t>(body->size()) : 0;
}

void URLSessionTask::resume() {
  {
    std::lock_guard lock(mutex_);
    if (state_ != URLSessionTaskState::Suspended) return;
    state_ = URLSessionTaskState::Running;
  }
  if (auto core = core_.lock()) {
    core->resumeTask(shared_from_this());
  } else {
    finishWithoutSession();
  }
}

// The session is gone: the task still ends, cancelled, so its handler is not left waiting.
void URLSessionTask::finishWithoutSession() {
  CompletionHandler handler;
  std::optional<Error> error;
  {
    std::lock_guard lock(mutex_);
    if (state_ == URLSessionTaskState::Completed) return;
    state_ = URLSessionTaskState::Completed;
    const auto& url = originalRequest_.url();
    error_ = makeURLError(NSURLErrorCancelled,
                          url ? std::optional(url->absoluteString()) : std::nullopt);
    error = error_;
    handler = std::move(completionHandler_);
    completionHandler_ = nullptr;
  }
  if (handler) {
    ZELExecutor::background()->execute([handler = std::move(handler), error = std::move(error)] {
      handler(std::nullopt, nullptr, error);
    });
  }
}

void URLSessionTask::cancel() {
  URLSessionTaskState previous;
  {
    std::lock_guard lock(mutex_);
    previous = state_;
    if (previous == URLSessionTaskState::Completed || previous == URLSessionTaskState::Canceling) {
      return;
    }
    state_ = URLSessionTaskState::Canceling;
  }
  auto core = core_.lock();
  if (!core) {
    finishWithoutSession();
    return;
  }
  core->cancelTask(shared_from_this(), previous != URLSessionTaskState::Suspended);
}

URLSessionTask::StartFacts URLSessionTask::startFacts(const detail::TaskEngineKey&) const {
  std::lock_guard lock(mutex_);
  return {!completionHandler_, state_ == URLSessionTaskState::Canceling};
}

void URLSessionTask::setResponse(const detail::TaskEngineKey&,
                                 std::shared_ptr<const URLResponse> response) {
  std::lock_guard lock(mutex_);
  response_ = std::move(response);
}

void URLSessionTask::setCurrentRequest(const detail::TaskEngineKey&, URLRequest request) {
  std::lock_guard lock(mutex_);
  currentRequest_ = std::move(request);
}

void URLSessionTask::addBytesReceived(const detail::TaskEngineKey&, std::int64_t count) noexcept {
  bytesReceived_.fetch_add(count);
}

void URLSessionTask::setBytesSent(const detail::TaskEngineKey&, std::int64_t total) noexcept {
  bytesSent_.store(total);
}

URLSessionTask::Ending URLSessionTask::complete(const detail::TaskEngineKey&,
                                                const std::optional<Error>& error) {
  std::lock_guard lock(mutex_);
  state_ = URLSessionTaskState::Completed;
  error_ = error;
  return Ending{std::exchange(completionHandler_, nullptr), response_};
}

}  // namespace zel
