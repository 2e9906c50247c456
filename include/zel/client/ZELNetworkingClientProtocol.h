#pragma once
// ZELNetworkingClientProtocol — the interface applications program against; ZELNetworkingClient
// implements it. Code that takes this interface can be handed a test double.

#include <memory>
#include <optional>

#include <boost/json/value.hpp>

#include <functional>
#include <string_view>
#include <vector>

#include "zel/client/ZELHTTPMethod.h"
#include "zel/futures/ZELFuture.h"
#include "zel/futures/ZELFutureAndCancelToken.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/ParameterDictionary.h"
#include "zel/platform/URL.h"
#include "zel/platform/URLRequest.h"
#include "zel/response/ZELAPIResponse.h"
#include "zel/transport/ZELHTTPRequest.h"

namespace zel {

class ZELNetworkingAPIAuthenticationProvider;

/// What a request resolves with: the parsed envelope (never nullptr for a parsed body; a custom
/// response block may resolve with nullptr).
using ZELAPIResponseFuture = ZELFuture<std::shared_ptr<ZELAPIResponse>>;
/// A running request: the future of its parsed response and the token that cancels it.
using ZELAPIResponseFutureAndCancelToken = ZELFutureAndCancelToken<std::shared_ptr<ZELAPIResponse>>;

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

  // ---- verbs ---------------------------------------------------------------------------------
  //
  // Each builds one request (signed when there is no user token) and starts it; the future holds
  // the parsed envelope or the refined error. Unless a form says otherwise: the client's base
  // URL, the URL sanity check on (a trailing "/" added to the path), the default network service
  // type, default priority, no body chunks, no compression, no blocks. A refused path yields the
  // empty response, with a report.

  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELAPIClientRequestPriority priority) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType,
      ZELResponseHeaderBlock responseHeaderBlock) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters, bool urlSanityCheck,
      ZELAPIClientRequestPriority priority) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters, bool urlSanityCheck,
      ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getPath(
      std::string_view path, const ParameterDictionary& parameters, bool urlSanityCheck,
      ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType,
      ZELResponseHeaderBlock responseHeaderBlock) = 0;
  /// Against another base URL; never applies the URL sanity check.
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getBaseURL(
      const URL& baseURL, std::string_view path, const ParameterDictionary& parameters,
      ZELAPIClientRequestPriority priority) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken getBaseURL(
      const URL& baseURL, std::string_view path, const ParameterDictionary& parameters,
      ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType) = 0;
  /// Parameters in the query.
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken deletePath(
      std::string_view path, const ParameterDictionary& parameters) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken putPath(
      std::string_view path, const ParameterDictionary& parameters) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken putPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELBodyChunksBlock bodyChunksBlock) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken putPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELBodyChunksBlock bodyChunksBlock, ZELUploadProgressBlock uploadProgressBlock) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken postPath(
      std::string_view path, const ParameterDictionary& parameters) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken postPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELBodyChunksBlock bodyChunksBlock) = 0;
  /// The only form that can gzip: a multipart body (with a chunks block) of 150 bytes or more.
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken postPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELBodyChunksBlock bodyChunksBlock, bool compressRequestBody) = 0;
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken postPath(
      std::string_view path, const ParameterDictionary& parameters,
      ZELBodyChunksBlock bodyChunksBlock, ZELUploadProgressBlock uploadProgressBlock) = 0;
  /// Parameters in a form body.
  [[nodiscard]] virtual ZELAPIResponseFutureAndCancelToken patchPath(
      std::string_view path, const ParameterDictionary& parameters) = 0;

  // ---- configuration ------------------------------------------------------------------------

  [[nodiscard]] virtual std::optional<URL> baseURL() const = 0;
  [[nodiscard]] virtual const HTTPHeaders& HTTPAdditionalHeaders() const noexcept = 0;
  [[nodiscard]] virtual std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>
  authenticationProvider() const = 0;
};

}  // namespace zel
