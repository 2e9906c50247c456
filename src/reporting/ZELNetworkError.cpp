#include "zel/reporting/ZELNetworkError.h"

#include "PathExtension.h"

namespace zel {

ZELNetworkError::ZELNetworkError(const std::optional<Error>& error, const URLRequest&,
                                 const std::optional<URLSessionTaskMetrics>& metrics) {
  if (metrics && !metrics->transactionMetrics.empty()) {
    const auto& last = metrics->transactionMetrics.back();
    const auto response = std::dynamic_pointer_cast<const HTTPURLResponse>(last.response);
    host = hostFromTransactionMetrics(last);
    path = rawPathFromRequest(last.request);
    remoteHostIp = last.remoteAddress.value_or("");
    status_code = response ? response->statusCode() : 0;
  }
  if (error) {
    domain = error->domain();
    code = error->code();
  }
}

std::string ZELNetworkError::rawPathFromRequest(const URLRequest& request) {
  if (!request.url()) return {};
  std::string path = request.url()->path();
  if (!path.empty() && detail::pathExtension(path).empty()) {
    path += "/";
  }
  return path;
}

std::string ZELNetworkError::hostFromTransactionMetrics(
    const URLSessionTaskTransactionMetrics& transaction) {
  const auto response = std::dynamic_pointer_cast<const HTTPURLResponse>(transaction.response);
  if (response && response->url() && response->url()->host() && !response->url()->host()->empty()) {
    return *response->url()->host();
  }
  if (transaction.request.url() && transaction.request.url()->host()) {
    return *transaction.request.url()->host();
  }
  return {};
}

boost::json::object ZELNetworkError::toJSONDictionary() const {
  return boost::json::object{
      {"dimensions", boost::json::object{{"remote_ip", remoteHostIp.value_or("")},
                                         {"host", host.value_or("")},
                                         {"path", path.value_or("")}}},
      {"errors",
       boost::json::object{
           {"domain", domain.value_or("")}, {"code", code}, {"status_code", status_code}}}};
}

}  // namespace zel
