#include "support/RecordingDelegate.h"

#include <algorithm>

namespace zel::test {

void RecordingDelegate::note(std::uint64_t id, const char* event,
                             const std::function<void(TaskRecord&)>& fill) {
  std::lock_guard lock(mutex_);
  auto& r = records_[id];
  // Consecutive data pieces count as one event.
  if (r.events.empty() || r.events.back() != event || r.events.back() != "data")
    r.events.push_back(event);
  if (fill) fill(r);
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

std::vector<RecordingDelegate::Fetched> RecordingDelegate::fetchAll(
    URLSession& session, const std::vector<URLRequest>& requests) {
  std::vector<Fetched> fetched(requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    fetched[i].task = session.dataTaskWithRequest(requests[i], fetched[i].waiter.handler());
  }
  for (auto& f : fetched) f.task->resume();
  for (auto& f : fetched) {
    f.outcome = f.waiter.wait();
    waitFor(f.task->taskIdentifier(), "metrics");
    f.record = record(f.task->taskIdentifier());
  }
  return fetched;
}

URLSessionTask::CompletionHandler OutcomeWaiter::handler() {
  return [state = state_](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                          std::optional<Error> error) {
    std::lock_guard lock(state->mutex);
    state->outcome = Outcome{std::move(data), std::move(response), std::move(error)};
    ++state->calls;
    state->done.notify_all();
  };
}

std::optional<Outcome> OutcomeWaiter::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  state_->done.wait_for(lock, timeout, [&] { return state_->outcome.has_value(); });
  return state_->outcome;
}

int OutcomeWaiter::calls() {
  std::lock_guard lock(state_->mutex);
  return state_->calls;
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
