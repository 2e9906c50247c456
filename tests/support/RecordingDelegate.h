#pragma once
// A URLSessionDelegate that records every callback, in order, for transport tests.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zel/transport/URLSession.h"

namespace zel::test {

/// Collects a completion handler's outcome.
struct Outcome {
  std::optional<Data> data;
  std::shared_ptr<const URLResponse> response;
  std::optional<Error> error;
};

class OutcomeWaiter {
 public:
  URLSessionTask::CompletionHandler handler();
  std::optional<Outcome> wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// How often the handler was called so far.
  int calls();

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Outcome> outcome;
    int calls = 0;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

class RecordingDelegate : public URLSessionDelegate {
 public:
  struct TaskRecord {
    // "redirect", "upload", "response", "data", "metrics", "complete"
    std::vector<std::string> events;
    std::shared_ptr<const URLResponse> response;
    std::string body;
    std::optional<URLSessionTaskMetrics> metrics;
    std::optional<Error> error;
  };

  /// A completion-handler task, its outcome and what the delegate recorded of it.
  struct Fetched {
    std::shared_ptr<URLSessionDataTask> task;
    OutcomeWaiter waiter;
    std::optional<Outcome> outcome;
    TaskRecord record;

    [[nodiscard]] const URLSessionTaskTransactionMetrics& transaction() const {
      return record.metrics.value().transactionMetrics.at(0);
    }
  };

  /// What to answer to a redirect: the proposed request (default), another one, or absent.
  std::function<std::optional<URLRequest>(const URLRequest& proposed)> redirectPolicy;
  /// Answers response dispositions: at once with Allow unless replaced.
  std::function<void(std::function<void(URLSessionResponseDisposition)>)> dispositionHook =
      [](auto answer) { answer(URLSessionResponseDisposition::Allow); };

  void willPerformHTTPRedirection(
      URLSession&, const std::shared_ptr<URLSessionTask>& task,
      const std::shared_ptr<const HTTPURLResponse>&, const URLRequest& newRequest,
      std::function<void(std::optional<URLRequest>)> completionHandler) override {
    note(task->taskIdentifier(), "redirect");
    completionHandler(redirectPolicy ? redirectPolicy(newRequest)
                                     : std::optional<URLRequest>(newRequest));
  }
  void didSendBodyData(URLSession&, const std::shared_ptr<URLSessionTask>& task, std::int64_t,
                       std::int64_t, std::int64_t) override {
    note(task->taskIdentifier(), "upload");
  }
  void didFinishCollectingMetrics(URLSession&, const std::shared_ptr<URLSessionTask>& task,
                                  const URLSessionTaskMetrics& metrics) override {
    note(task->taskIdentifier(), "metrics", [&](TaskRecord& r) { r.metrics = metrics; });
  }
  void didCompleteWithError(URLSession&, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<Error>& error) override {
    note(task->taskIdentifier(), "complete", [&](TaskRecord& r) { r.error = error; });
  }
  void didReceiveResponse(
      URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
      const std::shared_ptr<const URLResponse>& response,
      std::function<void(URLSessionResponseDisposition)> completionHandler) override {
    note(task->taskIdentifier(), "response", [&](TaskRecord& r) { r.response = response; });
    dispositionHook(std::move(completionHandler));
  }
  void didReceiveData(URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
                      const Data& data) override {
    note(task->taskIdentifier(), "data", [&](TaskRecord& r) { r.body.append(data.stringView()); });
  }
  void didBecomeInvalidWithError(URLSession&, const std::optional<Error>&) override {
    note(kSession, "invalid");
  }

  /// Waits until the task completed (streaming) or its metrics arrived (completion handler).
  bool waitFor(std::uint64_t taskIdentifier, const std::string& event,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
  [[nodiscard]] TaskRecord record(std::uint64_t taskIdentifier);
  bool waitForInvalid(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return waitFor(kSession, "invalid", timeout);
  }

  /// Resumes a completion-handler task for each request at once, then waits for each outcome
  /// and its metrics.
  std::vector<Fetched> fetchAll(URLSession& session, const std::vector<URLRequest>& requests);
  Fetched fetch(URLSession& session, URLRequest request) {
    return std::move(fetchAll(session, {std::move(request)}).front());
  }

 private:
  // The session's own events are recorded under an identifier no task has.
  static constexpr std::uint64_t kSession = ~std::uint64_t{0};

  void note(std::uint64_t id, const char* event,
            const std::function<void(TaskRecord&)>& fill = nullptr);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, TaskRecord> records_;
};

/// A GET request for the URL text (which must parse).
[[nodiscard]] inline URLRequest requestFor(const std::string& url) {
  return URLRequest(*URL::URLWithString(url));
}
/// Runs the request as a completion-handler task and waits for its outcome.
[[nodiscard]] std::optional<Outcome> run(URLSession& session, URLRequest request);
/// "success", "no outcome", or the error's code and description.
[[nodiscard]] std::string describe(const std::optional<Outcome>& outcome);

}  // namespace zel::test
