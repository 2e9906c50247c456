#pragma once
// ZELNetworkError — one failed request for error reporting: the server address, host and path it
// went to (from the task's last transaction) and the error's domain, code and HTTP status. Its
// JSON form is {"dimensions": {remote_ip, host, path}, "errors": {domain, code, status_code}},
// with empty strings for absent text.

#include <cstdint>
#include <optional>
#include <string>

#include <boost/json/object.hpp>

#include "zel/platform/Error.h"
#include "zel/platform/URLRequest.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel {

class ZELNetworkError {
 public:
  /// The request is accepted and not used: everything about it comes from the metrics.
  ZELNetworkError(const std::optional<Error>& error, const URLRequest& request,
                  const std::optional<URLSessionTaskMetrics>& metrics);

  [[nodiscard]] boost::json::object toJSONDictionary() const;

  std::optional<std::string> remoteHostIp;  // "remote_ip"
  std::optional<std::string> host;
  std::optional<std::string> path;  // the request path, "/" added without an extension
  std::int64_t code = 0;
  std::optional<std::string> domain;
  std::int64_t status_code = 0;

  /// The request URL's path with "/" appended when it is non-empty and has no extension (so the
  /// root path "/" becomes "//"); no aggregation.
  [[nodiscard]] static std::string rawPathFromRequest(const URLRequest& request);
  /// The response URL's host when present and non-empty, else the request URL's, else "".
  [[nodiscard]] static std::string hostFromTransactionMetrics(
      const URLSessionTaskTransactionMetrics& transaction);
};

}  // namespace zel
