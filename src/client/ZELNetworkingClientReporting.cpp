// The side channels of request execution: every request passes here when it starts, when its
// task ends, and when its refined outcome is known. They post the request notifications, hand
// each finished transaction to the network recorder, and make the metrics and error reports
// when the process-wide switches were on. None of them changes a request's outcome.

#include <any>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/platform/NotificationCenter.h"
#include "zel/reporting/ZELNetworkingReporting.h"
#include "zel/transport/ZELNetworkingClientTask.h"

namespace zel {

void ZELNetworkingClient::reportWillStart(const RequestReport& report) const {
  auto& center = NotificationCenter::defaultCenter();
  if (!report.clientTask) {
    center.postNotificationName(ZELNetworkingClientRequestWillStartNotification, this, {});
    return;
  }
  std::map<std::string, std::any> userInfo{
      {ZELNetworkingClientNotificationRequestKey, report.clientTask->request()}};
  center.postNotificationName(ZELNetworkingClientRequestWillStartNotification, this, userInfo);
  // The sender stays alive while its metrics are awaited: the notification names it.
  report.clientTask->metricsFuture().executor(
      ZELExecutor::background(),
      [self = shared_from_this(), userInfo](const URLSessionTaskMetrics& metrics) mutable {
        userInfo.emplace(ZELNetworkingClientNotificationMetricsKey, metrics);
        NotificationCenter::defaultCenter().postNotificationName(
            ZELNetworkingClientRequestDidCollectMetricsNotification, self.get(),
            std::move(userInfo));
      },
      nullptr);
}

void ZELNetworkingClient::reportDidFinish(const RequestReport& report,
                                          const ZELNSURLSessionDataTaskResult& result) const {
  if (networkRecorder_) networkRecorder_->insertHTTPTransactionAsyncIfCapturing(result);
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
  NotificationCenter::defaultCenter().postNotificationName(
      ZELNetworkingClientRequestDidFinishNotification, this, std::move(userInfo));
}

// The reports wait for the task's metrics (on the background executor); a request whose metrics
// never arrive, or that has no client task, is not reported. The switches are the ones read when
// the request started.

// Called on the main queue for a success only while metrics are reported.
void ZELNetworkingClient::reportSuccess(const RequestReport& report) const {
  if (!report.clientTask || !report.logNetworkMetrics) return;
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
