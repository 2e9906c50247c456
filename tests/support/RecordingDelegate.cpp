#include "support/RecordingDelegate.h"

#include <algorithm>

namespace zel::test {

void RecordingDelegate::note(const std::shared_ptr<URLSessionTask>& task, const char* event,
                             const std::function<void(TaskRecord&)>& fill) {
  std::lock_guard lock(mutex_);
  auto& r = records_[task->taskIdentifier()];
  // Consecutive data pieces count as one event.
  if (r.events.empty() || r.events.back() != event || r.events.back() != "data")
    r.events.push_back(event);
  fill(r);
  changed_.notify_all();
}

void RecordingDelegate::willPerformHTTPRedirection(
    URLSession&, const std::shared_ptr<URLSessionTask>& task,
    const std::shared_ptr<const HTTPURLResponse>&, const URLRequest& newRequest,
    std::function<void(std::optional<URLRequest>)> completionHandler) {
  note(task, "redirect", [](TaskRecord&) {});
  completionHandler(redirectPolicy ? redirectPolicy(newRequest)
                                   : std::optional<URLRequest>(newRequest));
}

void RecordingDelegate::didSendBodyData(URLSession&, const std::shared_ptr<URLSessionTask>& task,
                                        std::int64_t sent, std::int64_t total,
                                        std::int64_t expected) {
  note(task, "upload", [&](TaskRecord& r) { r.uploads.emplace_back(sent, total, expected); });
}

void RecordingDelegate::didFinishCollectingMetrics(URLSession&,
                                                   const std::shared_ptr<URLSessionTask>& task,
                                                   const URLSessionTaskMetrics& metrics) {
  note(task, "metrics", [&](TaskRecord& r) { r.metrics = metrics; });
}

void RecordingDelegate::didCompleteWithError(URLSession&,
                                             const std::shared_ptr<URLSessionTask>& task,
                                             const std::optional<Error>& error) {
  note(task, "complete", [&](TaskRecord& r) { r.error = error; });
}

void RecordingDelegate::didReceiveResponse(
    URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
    const std::shared_ptr<const URLResponse>& response,
    std::function<void(URLSessionResponseDisposition)> completionHandler) {
  note(task, "response", [&](TaskRecord& r) { r.response = response; });
  if (dispositionHook) {
    dispositionHook(std::move(completionHandler));
  } else {
    completionHandler(URLSessionResponseDisposition::Allow);
  }
}

void RecordingDelegate::didReceiveData(URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
                                       const Data& data) {
  note(task, "data", [&](TaskRecord& r) { r.body.append(data.stringView()); });
}

void RecordingDelegate::didBecomeInvalidWithError(URLSession&, const std::optional<Error>&) {
  std::lock_guard lock(mutex_);
  invalid_ = true;
  changed_.notify_all();
}

bool RecordingDelegate::waitFor(std::uint64_t id, const std::string& event,
                                std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return std::ranges::find(records_[id].events, event) != records_[id].events.end();
  });
}

RecordingDelegate::TaskRecord RecordingDelegate::record(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  return records_[id];
}

bool RecordingDelegate::waitForInvalid(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return invalid_; });
}

std::vector<RecordingDelegate::Fetched> RecordingDelegate::fetchAll(
    URLSession& session, const std::vector<URLRequest>& requests) {
  std::vector<OutcomeWaiter> waiters(requests.size());
  std::vector<Fetched> fetched(requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    fetched[i].task = session.dataTaskWithRequest(requests[i], waiters[i].handler());
  }
  for (auto& f : fetched) f.task->resume();
  for (std::size_t i = 0; i < requests.size(); ++i) {
    fetched[i].outcome = waiters[i].wait();
    waitFor(fetched[i].task->taskIdentifier(), "metrics");
    fetched[i].record = record(fetched[i].task->taskIdentifier());
  }
  return fetched;
}

const URLSessionTaskTransactionMetrics& RecordingDelegate::Fetched::transaction() const {
  return record.metrics.value().transactionMetrics.at(0);
}

URLSessionTask::CompletionHandler OutcomeWaiter::handler() {
  return [state = state_](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                          std::optional<Error> error) {
    std::lock_guard lock(state->mutex);
    state->outcome = Outcome{std::move(data), std::move(response), std::move(error)};
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

std::string describe(const std::optional<Outcome>& outcome) {
  if (!outcome) return "no outcome";
  if (!outcome->error) return "success";
  return std::to_string(outcome->error->code()) + " " + outcome->error->localizedDescription();
}

}  // namespace zel::test
