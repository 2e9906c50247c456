#pragma once
// ZELNetworkRequestStateProvider — per-request headers supplied by the application. A client
// holds its provider strongly and asks it while building each request, on the building thread.

#include <optional>
#include <string>

#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/URL.h"

namespace zel {

class ZELNetworkRequestStateProvider {
 public:
  virtual ~ZELNetworkRequestStateProvider() = default;

  /// The value of every request's "X-Zelvo-AppState" header, passed through unchanged; absent
  /// sends no such header.
  [[nodiscard]] virtual std::optional<std::string> applicationState() = 0;
  /// Header fields set last on the request for this final URL; absent or empty adds none.
  [[nodiscard]] virtual std::optional<HTTPHeaders> additionalHeadersForURL(const URL& url) = 0;
};

}  // namespace zel
