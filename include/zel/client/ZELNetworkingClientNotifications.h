#pragma once
// The notifications a client posts about each request, on NotificationCenter::defaultCenter().
// Their object (sender) is the ZELNetworkingClient that runs the request.
//
//   zel::ScopedObserver observer(zel::NotificationCenter::defaultCenter().addObserverForName(
//       zel::ZELNetworkingClientRequestDidFinishNotification, client.get(),
//       [](const zel::Notification& note) {
//         auto response = std::any_cast<std::shared_ptr<const zel::URLResponse>>(
//             note.userInfo.at(zel::ZELNetworkingClientNotificationResponseKey));
//       }));
//
// - will-start: posted on the thread that started the session task, right after it started;
//   user info { request }.
// - did-finish: posted on a background thread when the task ends (success, error or
//   cancellation), before the outcome is judged; user info { request, response } (an empty
//   URLResponse when the task has none).
// - did-collect-metrics: posted on a background thread when the task's metrics arrive; user
//   info { request, metrics }.
// Without a client task (the client lost its session delegate), will-start and did-finish carry
// no user info and did-collect-metrics is not posted.
//
// User-info values: URLRequest under the request key, std::shared_ptr<const URLResponse> under
// the response key, URLSessionTaskMetrics under the metrics key (each in a std::any).

namespace zel {

inline constexpr const char* ZELNetworkingClientRequestWillStartNotification =
    "ZELNetworkingClientRequestWillStartNotification";
inline constexpr const char* ZELNetworkingClientRequestDidFinishNotification =
    "ZELNetworkingClientRequestDidFinishNotification";
inline constexpr const char* ZELNetworkingClientRequestDidCollectMetricsNotification =
    "ZELNetworkingClientRequestDidCollectMetricsNotification";
/// Exported for applications; the library never posts it.
inline constexpr const char* ZELNetworkingClientUploadProgressChangedNotification =
    "ZELNetworkingClientUploadProgressChangedNotification";
inline constexpr const char* ZELNetworkingClientUploadProgressChangedNotificationProgressKey =
    "ZELNetworkingClientUploadProgressChangedNotificationProgressKey";

inline constexpr const char* ZELNetworkingClientNotificationRequestKey =
    "ZELNetworkingClientNotificationRequest";
inline constexpr const char* ZELNetworkingClientNotificationResponseKey =
    "ZELNetworkingClientNotificationResponse";
inline constexpr const char* ZELNetworkingClientNotificationMetricsKey =
    "ZELNetworkingClientNotificationMetrics";
/// Exported for applications; the library never sets it.
inline constexpr const char* ZELNetworkingClientNotificationCallTraceKey =
    "ZELNetworkingClientNotificationCallTrace";

}  // namespace zel
