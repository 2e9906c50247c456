#pragma once
// ZELNetworkingClientProtocol — the interface applications program against; ZELNetworkingClient
// implements it. Code that takes this interface can be handed a test double.

#include <memory>
#include <optional>

#include <boost/json/value.hpp>

#include <functional>
#include <string_view>
#include <vector>

#include "zel/futures/ZELFuture.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/ParameterDictionary.h"
#include "zel/platform/URL.h"
#include "zel/platform/URLRequest.h"
#include "zel/response/ZELAPIResponse.h"

namespace zel {

class ZELNetworkingAPIAuthenticationProvider;

/// What a request resolves with: the parsed envelope (never nullptr for a parsed body; a custom
/// response block may resolve with nullptr).
using ZELAPIResponseFuture = ZELFuture<std::shared_ptr<ZELAPIResponse>>;

/// Returns the multipart chunks (files, raw fields) of a request body; called once per request,
/// on a background thread.
using ZELBodyChunksBlock =
    std::function<std::vector<std::shared_ptr<const ZELMultipartFormChunk>>()>;

class ZELNetworkingClientProtocol {
 public:
  virtual ~ZELNetworkingClientProtocol() = default;

  /// Judges a JSON value the application decoded itself, as a response body would be judged.
  [[nodiscard]] virtual ZELAPIResponseFuture parseResponse(
      const boost::json::value* responseObject) const = 0;
  /// Cancels every task of the client's session (asynchronously).
  virtual void cancelAllRequests() = 0;
  /// A finished PUT request for the path against the base URL, built on the calling thread
  /// (multipart body included, never compressed); absent when the path is refused.
  [[nodiscard]] virtual std::optional<URLRequest> requestPutPath(
      std::string_view path, const ParameterDictionary& parameters,
      const ZELBodyChunksBlock& bodyChunksBlock) const = 0;

  [[nodiscard]] virtual std::optional<URL> baseURL() const = 0;
  [[nodiscard]] virtual const HTTPHeaders& HTTPAdditionalHeaders() const noexcept = 0;
  [[nodiscard]] virtual std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>
  authenticationProvider() const = 0;
};

}  // namespace zel
