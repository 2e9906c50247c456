// The side channels of request execution: every request passes here when it starts, when its
// task ends, and when its refined outcome is known. They post the request notifications, hand
// each finished transaction to the network recorder, and make the metrics and error reports
// when the process-wide switches were on. None of them changes a request's outcome.

#include <any>

#include "RequestReport.h"
#include "zel/client/ZELNetworkingClient.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/futures/ZELFutureMap.h"
#include "zel/platform/NotificationCenter.h"
#include "zel/reporting/ZELNetworkingReporting.h"
#include "zel/transport/ZELNetworkingClientTask.h"

namespace zel {
namespace {

// Whether did-collect-metrics would reach anyone: the metrics are copied out of their future
// only then.
bool didCollectMetricsObserved(const ZELNetworkingClient* sender) {
  return NotificationCenter::defaultCenter().hasObserversForName(
      ZELNetworkingClientRequestDidCollectMetricsNotification, sender);
}

}  // namespace

void ZELNetworkingClient::reportWillStart(
    const std::shared_ptr<const RequestReport>& report) const {
  auto& center = NotificationCenter::defaultCenter();
  // A notification nobody observes is not built: posting it would reach no one.
  if (center.hasObserversForName(ZELNetworkingClientRequestWillStartNotification, this)) {
    std::map<std::string, std::any> userInfo;
    if (report->clientTask) {
      userInfo.emplace(ZELNetworkingClientNotificationRequestKey, report->clientTask->request());
    }
    center.postNotificationName(ZELNetworkingClientRequestWillStartNotification, this,
                                std::move(userInfo));
  }
  if (!report->clientTask) return;
  // Metrics usually arrive just before the task ends; the result step, already on the background
  // executor, then posts did-collect-metrics itself. Metrics that arrive after the result step
  // take their own trip to the background executor. The sender stays alive meanwhile.
  report->clientTask->metricsFuture().onComplete(
      [self = shared_from_this(), report](const Result<URLSessionTaskMetrics>& metrics) {
        if (!metrics.ok()) return;
        int expected = detail::MetricsHandoff::kPending;
        if (report->metricsHandoff.state.compare_exchange_strong(
                expected, detail::MetricsHandoff::kMetricsArrived)) {
          return;
        }
        if (!didCollectMetricsObserved(self.get())) return;
        ZELExecutor::background()->execute([self, report, metrics = metrics.value()] {
          self->postDidCollectMetrics(*report, metrics);
        });
      });
}

void ZELNetworkingClient::postDidCollectMetrics(const RequestReport& report,
                                                const URLSessionTaskMetrics& metrics) const {
  // Its callers asked first whether anyone observes it.
  NotificationCenter::defaultCenter().postNotificationName(
      ZELNetworkingClientRequestDidCollectMetricsNotification, this,
      {{ZELNetworkingClientNotificationRequestKey, report.clientTask->request()},
       {ZELNetworkingClientNotificationMetricsKey, metrics}});
}

void ZELNetworkingClient::reportDidFinish(const RequestReport& report,
                                          const ZELNSURLSessionDataTaskResult& result) const {
  if (networkRecorder_ && report.clientTask && networkRecorder_->isCapturing()) {
    networkRecorder_->insertHTTPTransactionAsyncIfCapturing(
        result, ZELFutureMap::map(report.clientTask->metricsFuture(), ZELExecutor::immediate(),
                                  [](const URLSessionTaskMetrics& metrics) {
                                    return std::make_shared<const URLSessionTaskMetrics>(metrics);
                                  }));
  } else if (networkRecorder_) {
    networkRecorder_->insertHTTPTransactionAsyncIfCapturing(result);
  }
  auto& center = NotificationCenter::defaultCenter();
  if (center.hasObserversForName(ZELNetworkingClientRequestDidFinishNotification, this)) {
    std::map<std::string, std::any> userInfo;
    if (report.clientTask) {
      std::shared_ptr<const URLResponse> response = report.clientTask->response();
      if (!response) {
        response = std::make_shared<const URLResponse>(std::nullopt, std::nullopt,
                                                       URLResponse::kUnknownLength, std::nullopt);
      }
      userInfo.emplace(ZELNetworkingClientNotificationRequestKey, report.clientTask->request());
      userInfo.emplace(ZELNetworkingClientNotificationResponseKey, std::move(response));
    }
    center.postNotificationName(ZELNetworkingClientRequestDidFinishNotification, this,
                                std::move(userInfo));
  }
  if (report.clientTask &&
      report.metricsHandoff.state.exchange(detail::MetricsHandoff::kResultStepPassed) ==
          detail::MetricsHandoff::kMetricsArrived &&
      didCollectMetricsObserved(this)) {
    const auto metrics = report.clientTask->metricsFuture().peek();
    if (metrics && metrics->ok()) postDidCollectMetrics(report, metrics->value());
  }
}

// The reports wait for the task's metrics (on the background executor); a request whose metrics
// never arrive, or that has no client task, is not reported. The switches are the ones read when
// the request started.

// Called, on the thread that completes the outcome, for a success while metrics are reported.
void ZELNetworkingClient::reportSuccess(const RequestReport& report) const {
  if (!report.clientTask || !report.logNetworkMetrics) return;
  // Metrics that are already here are reported at once when this is a background thread anyway.
  if (ZELExecutor::isBackgroundThread()) {
    if (const auto metrics = report.clientTask->metricsFuture().peek()) {
      if (metrics->ok()) ZELNetworkingReporting::reportSessionTaskMetrics(metrics->value());
      return;
    }
  }
  report.clientTask->metricsFuture().executor(
      ZELExecutor::background(),
      [](const URLSessionTaskMetrics& metrics) {
        ZELNetworkingReporting::reportSessionTaskMetrics(metrics);
      },
      nullptr);
}

// Called on the main queue for every failure, after the provider calls.
void ZELNetworkingClient::reportFailure(const RequestReport& report, const Error& error) const {
  if (!report.clientTask || (!report.logNetworkMetrics && !report.logNetworkErrors)) return;
  report.clientTask->metricsFuture().executor(
      ZELExecutor::background(),
      [error, request = report.request, logMetrics = report.logNetworkMetrics,
       logErrors = report.logNetworkErrors](const URLSessionTaskMetrics& metrics) {
        if (logMetrics) ZELNetworkingReporting::reportSessionTaskMetrics(metrics, error);
        if (logErrors) {
          ZELNetworkingReporting::reportNetworkError(
              std::make_shared<const ZELNetworkError>(error, request, metrics));
        }
      },
      nullptr);
}

}  // namespace zel
