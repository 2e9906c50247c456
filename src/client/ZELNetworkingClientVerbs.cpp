// The verbs: one request built (request building) and handed, unchanged, to execution, with the
// defaults each form fixes. A refused path hands execution no request future.

#include "zel/client/ZELNetworkingClient.h"

namespace zel {
namespace {

constexpr auto kDefaultPriority = ZELAPIClientRequestPriority::Default;
constexpr auto kDefaultServiceType = NetworkServiceType::Default;

}  // namespace

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters) {
  return getPath(path, parameters, kDefaultPriority);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELAPIClientRequestPriority priority) {
  return getPath(path, parameters, priority, kDefaultServiceType);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType) {
  return executeDataTaskWithRequest(
      requestForPath(path, ZELHTTPMethod::GET, parameters, networkServiceType, nullptr, false),
      priority, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType,
    ZELResponseHeaderBlock responseHeaderBlock) {
  return executeDataTaskWithRequest(
      requestForPath(path, ZELHTTPMethod::GET, parameters, networkServiceType, nullptr, false),
      priority, nullptr, std::move(responseHeaderBlock));
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters, bool urlSanityCheck,
    ZELAPIClientRequestPriority priority) {
  return executeDataTaskWithRequest(
      requestForPath(path, ZELHTTPMethod::GET, parameters, urlSanityCheck, kDefaultServiceType,
                     nullptr, false),
      priority, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters, bool urlSanityCheck,
    ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType) {
  return getPath(path, parameters, urlSanityCheck, priority, networkServiceType, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getPath(
    std::string_view path, const ParameterDictionary& parameters, bool urlSanityCheck,
    ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType,
    ZELResponseHeaderBlock responseHeaderBlock) {
  return executeDataTaskWithRequest(
      requestForPath(path, ZELHTTPMethod::GET, parameters, urlSanityCheck, networkServiceType,
                     nullptr, false),
      priority, nullptr, std::move(responseHeaderBlock));
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getBaseURL(
    const URL& baseURL, std::string_view path, const ParameterDictionary& parameters,
    ZELAPIClientRequestPriority priority) {
  return getBaseURL(baseURL, path, parameters, priority, kDefaultServiceType);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::getBaseURL(
    const URL& baseURL, std::string_view path, const ParameterDictionary& parameters,
    ZELAPIClientRequestPriority priority, NetworkServiceType networkServiceType) {
  // Another base URL is taken as given: no sanity check.
  return executeDataTaskWithRequest(requestForBaseURL(baseURL, path, ZELHTTPMethod::GET, parameters,
                                                      false, networkServiceType, nullptr, false),
                                    priority, nullptr, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::deletePath(
    std::string_view path, const ParameterDictionary& parameters) {
  return executeDataTaskWithRequest(requestForPath(path, ZELHTTPMethod::DELETE, parameters),
                                    kDefaultPriority, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::putPath(
    std::string_view path, const ParameterDictionary& parameters) {
  return putPath(path, parameters, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::putPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELBodyChunksBlock bodyChunksBlock) {
  return putPath(path, parameters, std::move(bodyChunksBlock), nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::putPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELBodyChunksBlock bodyChunksBlock, ZELUploadProgressBlock uploadProgressBlock) {
  return executeDataTaskWithRequest(
      requestForPath(path, ZELHTTPMethod::PUT, parameters, std::move(bodyChunksBlock), false),
      kDefaultPriority, std::move(uploadProgressBlock));
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::postPath(
    std::string_view path, const ParameterDictionary& parameters) {
  return postPath(path, parameters, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::postPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELBodyChunksBlock bodyChunksBlock) {
  return postPath(path, parameters, std::move(bodyChunksBlock), false);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::postPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELBodyChunksBlock bodyChunksBlock, bool compressRequestBody) {
  return executeDataTaskWithRequest(requestForPath(path, ZELHTTPMethod::POST, parameters,
                                                   std::move(bodyChunksBlock), compressRequestBody),
                                    kDefaultPriority, nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::postPath(
    std::string_view path, const ParameterDictionary& parameters,
    ZELBodyChunksBlock bodyChunksBlock, ZELUploadProgressBlock uploadProgressBlock) {
  return executeDataTaskWithRequest(
      requestForPath(path, ZELHTTPMethod::POST, parameters, std::move(bodyChunksBlock), false),
      kDefaultPriority, std::move(uploadProgressBlock));
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::patchPath(
    std::string_view path, const ParameterDictionary& parameters) {
  return executeDataTaskWithRequest(requestForPath(path, ZELHTTPMethod::PATCH, parameters),
                                    kDefaultPriority, nullptr);
}

}  // namespace zel
