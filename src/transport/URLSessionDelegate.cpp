#include "zel/transport/URLSessionDelegate.h"

namespace zel {

// The platform's default handling for each callback.

void URLSessionDelegate::willPerformHTTPRedirection(
    URLSession&, const std::shared_ptr<URLSessionTask>&,
    const std::shared_ptr<const HTTPURLResponse>&, const URLRequest& newRequest,
    std::function<void(std::optional<URLRequest>)> completionHandler) {
  completionHandler(newRequest);
}

void URLSessionDelegate::didSendBodyData(URLSession&, const std::shared_ptr<URLSessionTask>&,
                                         std::int64_t, std::int64_t, std::int64_t) {}

void URLSessionDelegate::didFinishCollectingMetrics(URLSession&,
                                                    const std::shared_ptr<URLSessionTask>&,
                                                    const URLSessionTaskMetrics&) {}

void URLSessionDelegate::didCompleteWithError(URLSession&, const std::shared_ptr<URLSessionTask>&,
                                              const std::optional<Error>&) {}

void URLSessionDelegate::didReceiveResponse(
    URLSession&, const std::shared_ptr<URLSessionDataTask>&,
    const std::shared_ptr<const URLResponse>&,
    std::function<void(URLSessionResponseDisposition)> completionHandler) {
  completionHandler(URLSessionResponseDisposition::Allow);
}

void URLSessionDelegate::didReceiveData(URLSession&, const std::shared_ptr<URLSessionDataTask>&,
                                        const Data&) {}

void URLSessionDelegate::didBecomeInvalidWithError(URLSession&, const std::optional<Error>&) {}

std::string URLSessionTaskTransactionMetrics::resourceFetchTypeName() const {
  switch (resourceFetchType) {
    case URLSessionTaskMetricsResourceFetchType::NetworkLoad:
      return "network";
    case URLSessionTaskMetricsResourceFetchType::ServerPush:
      return "push";
    case URLSessionTaskMetricsResourceFetchType::LocalCache:
      return "cache";
    case URLSessionTaskMetricsResourceFetchType::Unknown:
      break;
  }
  return "unknown";
}

}  // namespace zel
