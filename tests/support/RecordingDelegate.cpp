#include "support/RecordingDelegate.h"

#include <algorithm>

namespace zel::test {

void RecordingDelegate::willPerformHTTPRedirection(
    URLSession&, const std::shared_ptr<URLSessionTask>& task,
    const std::shared_ptr<const HTTPURLResponse>&, const URLRequest& newRequest,
    std::function<void(std::optional<URLRequest>)> completionHandler) {
  {
    std::lock_guard lock(mutex_);
    auto& r = records_[task->taskIdentifier()];
    r.events.push_back("redirect");
    r.proposedRedirects.push_back(newRequest);
  }
  changed_.notify_all();
  completionHandler(redirectPolicy ? redirectPolicy(newRequest)
                                   : std::optional<URLRequest>(newRequest));
}

void RecordingDelegate::didSendBodyData(URLSession&, const std::shared_ptr<URLSessionTask>& task,
                                        std::int64_t sent, std::int64_t total,
                                        std::int64_t expected) {
  std::lock_guard lock(mutex_);
  auto& r = records_[task->taskIdentifier()];
  r.events.push_back("upload");
  r.uploads.emplace_back(sent, total, expected);
}

void RecordingDelegate::didFinishCollectingMetrics(URLSession&,
                                                   const std::shared_ptr<URLSessionTask>& task,
                                                   const URLSessionTaskMetrics& metrics) {
  {
    std::lock_guard lock(mutex_);
    auto& r = records_[task->taskIdentifier()];
    r.events.push_back("metrics");
    r.metrics = metrics;
  }
  changed_.notify_all();
}

void RecordingDelegate::didCompleteWithError(URLSession&,
                                             const std::shared_ptr<URLSessionTask>& task,
                                             const std::optional<Error>& error) {
  {
    std::lock_guard lock(mutex_);
    auto& r = records_[task->taskIdentifier()];
    r.events.push_back("complete");
    r.error = error;
    r.completed = true;
  }
  changed_.notify_all();
}

void RecordingDelegate::didReceiveResponse(
    URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
    const std::shared_ptr<const URLResponse>& response,
    std::function<void(URLSessionResponseDisposition)> completionHandler) {
  {
    std::lock_guard lock(mutex_);
    auto& r = records_[task->taskIdentifier()];
    r.events.push_back("response");
    r.response = response;
  }
  changed_.notify_all();
  if (dispositionHook) {
    dispositionHook(std::move(completionHandler));
  } else {
    completionHandler(URLSessionResponseDisposition::Allow);
  }
}

void RecordingDelegate::didReceiveData(URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
                                       const Data& data) {
  std::lock_guard lock(mutex_);
  auto& r = records_[task->taskIdentifier()];
  if (r.events.empty() || r.events.back() != "data") r.events.push_back("data");
  r.body.append(data.stringView());
}

void RecordingDelegate::didBecomeInvalidWithError(URLSession&, const std::optional<Error>&) {
  {
    std::lock_guard lock(mutex_);
    invalid_ = true;
  }
  changed_.notify_all();
}

bool RecordingDelegate::waitFor(std::uint64_t id, const std::string& event,
                                std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    auto it = records_.find(id);
    if (it == records_.end()) return false;
    const auto& events = it->second.events;
    return std::find(events.begin(), events.end(), event) != events.end();
  });
}

RecordingDelegate::TaskRecord RecordingDelegate::record(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  return records_[id];
}

bool RecordingDelegate::becameInvalid() {
  std::lock_guard lock(mutex_);
  return invalid_;
}

bool RecordingDelegate::waitForInvalid(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return invalid_; });
}

URLSessionTask::CompletionHandler OutcomeWaiter::handler() {
  return [state = state_](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                          std::optional<Error> error) {
    {
      std::lock_guard lock(state->mutex);
      state->outcome = Outcome{std::move(data), std::move(response), std::move(error)};
    }
    state->done.notify_all();
  };
}

std::optional<Outcome> OutcomeWaiter::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  state_->done.wait_for(lock, timeout, [&] { return state_->outcome.has_value(); });
  return state_->outcome;
}

URLRequest requestFor(const std::string& url) {
  return URLRequest(*URL::URLWithString(url));
}

std::optional<Outcome> run(URLSession& session, URLRequest request) {
  OutcomeWaiter waiter;
  session.dataTaskWithRequest(std::move(request), waiter.handler())->resume();
  return waiter.wait();
}

}  // namespace zel::test
