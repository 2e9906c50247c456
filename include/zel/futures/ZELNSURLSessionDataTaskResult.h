#pragma once
// ZELNSURLSessionDataTaskResult — body, response and error of one finished data task.
// A transport error travels inside the record; each part may be absent.

#include <memory>
#include <optional>

#include "zel/platform/Data.h"
#include "zel/platform/Error.h"

namespace zel {

class URLResponse;

struct ZELNSURLSessionDataTaskResult {
  std::optional<Data> data;
  std::shared_ptr<const URLResponse> response;
  std::optional<Error> error;

  /// resultWithData:response:error:
  [[nodiscard]] static ZELNSURLSessionDataTaskResult resultWithData(
      std::optional<Data> data, std::shared_ptr<const URLResponse> response,
      std::optional<Error> error) {
    return {std::move(data), std::move(response), std::move(error)};
  }
};

}  // namespace zel
