// The reporting seam of request execution: every request passes here when it starts, when its
// task ends, and when its refined outcome is known. The request notifications and the network
// recorder are served here; the metrics and error reports hook in beside them.

#include <any>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/platform/NotificationCenter.h"
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

// Called on the main queue for a success only while metrics are reported (the switch was on
// when the request started).
void ZELNetworkingClient::reportSuccess(const RequestReport&) const {}

void ZELNetworkingClient::reportFailure(const RequestReport&, const Error&) const {}

}  // namespace zel
