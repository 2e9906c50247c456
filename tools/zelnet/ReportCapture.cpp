#include "ReportCapture.h"

#include "zel/client/ZELNetworkingClient.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/reporting/ZELNetworkingReporting.h"

namespace zelnet {

class ReportCapture::AssertSink : public zel::ZELFoundationDevLoggerRemote {
 public:
  explicit AssertSink(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void logErrorWithMessage(const std::string& message, bool, int, const std::string&,
                           const std::function<std::string()>&, std::uint32_t,
                           const std::string&) override {
    std::lock_guard lock(state_->mutex);
    state_->collected.asserts.push_back(message);
  }

 private:
  const std::shared_ptr<State> state_;
};

ReportCapture::ReportCapture(Options options) : options_(options) {
  auto& center = zel::NotificationCenter::defaultCenter();
  for (const char* name : {zel::ZELNetworkingClientRequestWillStartNotification,
                           zel::ZELNetworkingClientRequestDidFinishNotification,
                           zel::ZELNetworkingClientRequestDidCollectMetricsNotification}) {
    observers_.push_back(center.addObserverForName(
        name, nullptr,
        [state = state_, name = std::string(name)](const zel::Notification& notification) {
          {
            std::lock_guard lock(state->mutex);
            state->collected.notifications.push_back(name);
            if (name == zel::ZELNetworkingClientRequestWillStartNotification) ++state->started;
            if (name == zel::ZELNetworkingClientRequestDidCollectMetricsNotification) {
              ++state->metricsCollected;
              const auto found =
                  notification.userInfo.find(zel::ZELNetworkingClientNotificationMetricsKey);
              if (found != notification.userInfo.end()) {
                if (const auto* metrics =
                        std::any_cast<zel::URLSessionTaskMetrics>(&found->second)) {
                  state->collected.taskMetrics.push_back(*metrics);
                }
              }
            }
          }
          state->changed.notify_all();
        }));
  }
  if (options_.metrics) {
    zel::ZELNetworkingReporting::configureNetworkingReportingBlock(
        [state = state_](const std::optional<std::string>& title, const auto&, const auto&,
                         const std::optional<boost::json::object>& additionalInfo) {
          if (title != "network_metrics" || !additionalInfo) return;
          {
            std::lock_guard lock(state->mutex);
            state->collected.metrics.push_back(*additionalInfo);
          }
          state->changed.notify_all();
        });
  }
  if (options_.networkErrors) {
    zel::ZELNetworkingReporting::configureErrorReportingBlock(
        [state = state_](const boost::json::object& error) {
          {
            std::lock_guard lock(state->mutex);
            state->collected.networkErrors.push_back(error);
          }
          state->changed.notify_all();
        });
  }
  zel::ZELNetworkingClient::setShouldLogNetworkMetrics(options_.metrics);
  zel::ZELNetworkingClient::setShouldLogNetworkErrors(options_.networkErrors);

  // Without --asserts a report is neither collected nor written: a tool's output stays its own.
  previousAssertsEnabled_ = zel::ZELFoundationDevLogger::isFoundationAssertsLoggingEnabled();
  zel::ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(options_.asserts);
  if (options_.asserts) {
    assertSink_ = std::make_shared<AssertSink>(state_);
    previousRemote_ = zel::ZELFoundationDevLogger::sharedInstance().setRemote(assertSink_);
  }
}

ReportCapture::~ReportCapture() {
  auto& center = zel::NotificationCenter::defaultCenter();
  for (const auto& token : observers_) center.removeObserver(token);
  zel::ZELNetworkingClient::setShouldLogNetworkMetrics(false);
  zel::ZELNetworkingClient::setShouldLogNetworkErrors(false);
  if (options_.metrics) zel::ZELNetworkingReporting::reset();
  if (options_.networkErrors) zel::ZELNetworkingReporting::configureErrorReportingBlock({});
  if (assertSink_) zel::ZELFoundationDevLogger::sharedInstance().setRemote(previousRemote_);
  zel::ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(previousAssertsEnabled_);
}

ReportCapture::Snapshot ReportCapture::snapshot() const {
  std::lock_guard lock(state_->mutex);
  return state_->collected;
}

bool ReportCapture::waitForReports(std::size_t failedRequests,
                                   std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] {
    const auto& collected = state_->collected;
    return state_->metricsCollected >= state_->started &&
           (!options_.metrics || collected.metrics.size() >= state_->started) &&
           (!options_.networkErrors || collected.networkErrors.size() >= failedRequests);
  });
}

}  // namespace zelnet
