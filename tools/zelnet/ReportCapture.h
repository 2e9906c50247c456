#pragma once
// Everything the library tells an application about its requests, collected while the capture
// lives: notification names in the order posted, the metrics and error reports handed to the
// reporting callbacks, and (when asked) the assertion reports. Installs the process-wide
// callbacks and observers on construction and takes them away on destruction.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "zel/foundation/ZELFoundationDevLogger.h"
#include "zel/platform/NotificationCenter.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zelnet {

class ReportCapture {
 public:
  struct Options {
    bool metrics = false;        // turn the metrics switch on; collect "network_metrics" reports
    bool networkErrors = false;  // turn the error switch on; collect error reports
    bool asserts = false;        // turn assertion logging on and collect every report
  };

  explicit ReportCapture(Options options);
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  struct Snapshot {
    std::vector<std::string> notifications;
    std::vector<boost::json::object> metrics;  // each report's additional information
    std::vector<boost::json::object> networkErrors;
    std::vector<std::string> asserts;
    std::vector<zel::URLSessionTaskMetrics> taskMetrics;  // from did-collect-metrics
  };
  [[nodiscard]] Snapshot snapshot() const;

  /// Waits until every request that will-start announced has had its metrics collected and the
  /// reports those metrics make have arrived (one metrics report per request when metrics are
  /// on; one error report per failed request when errors are on), or until the timeout.
  /// Returns whether everything arrived.
  bool waitForReports(std::size_t failedRequests, std::chrono::milliseconds timeout) const;

 private:
  class AssertSink;
  // Shared with the callbacks, which may still be running on another thread when the capture
  // goes away.
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    Snapshot collected;
    std::size_t started = 0;
    std::size_t metricsCollected = 0;
  };

  const Options options_;
  const std::shared_ptr<State> state_ = std::make_shared<State>();
  std::vector<zel::ObserverToken> observers_;
  std::shared_ptr<AssertSink> assertSink_;
  std::shared_ptr<zel::ZELFoundationDevLoggerRemote> previousRemote_;
  bool previousAssertsEnabled_ = true;
};

}  // namespace zelnet
