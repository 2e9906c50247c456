// Request building: a path, a method and parameters become a signed request with its URL,
// headers and body.

#include <string>
#include <vector>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/futures/ZELFutureMap.h"
#include "zel/platform/Json.h"
#include "zel/url/NSDictionary+ZELNetworkingAdditions.h"
#include "zel/url/NSMutableURLRequest+ZELNetworkingAdditions.h"

namespace zel {

namespace {

constexpr const char* kBuildMethod =
    "-[ZELNetworkingClient requestForBaseURL:path:andMethod:withParameters:urlSanityCheck:"
    "networkServiceType:bodyChunksBlock:compressRequestBody:]";
constexpr const char* kSyncBuildMethod =
    "-[ZELNetworkingClient requestPathForBaseURL:path:andMethod:withParameters:urlSanityCheck:"
    "networkServiceType:bodyChunksBlock:]";
constexpr const char* kSanityMethod = "-[ZELNetworkingClient urlSanityCheckForPath:]";
constexpr const char* kFormBodyMethod =
    "-[ZELNetworkingClient addParametersToRequestWithEmptyBodyChunk:parameters:query:]";

constexpr const char* kTokenRefreshPath = "/v3/tokens/refresh";
constexpr std::size_t kGzipThreshold = 150;

bool isQueryMethod(ZELHTTPMethod method) {
  return ZELHTTPMethodPutsParametersInQuery(method);
}
bool isBodyMethod(ZELHTTPMethod method) {
  return ZELHTTPMethodPutsParametersInBody(method);
}

std::shared_ptr<ZELMultipartFormData> buildMultipart(bool metricsClient,
                                                     const ParameterDictionary& parameters,
                                                     const ZELBodyChunksBlock& bodyChunksBlock) {
  auto form = std::make_shared<ZELMultipartFormData>();
  if (!metricsClient) {
    for (const auto& [name, value] : parameters) {
      if (const auto* bytes = std::get_if<Data>(&value.storage())) {
        form->appendPartWithFormData(*bytes, name);
      } else if (value.isNull()) {
        form->appendPartWithFormData(Data(), name);
      } else {
        form->appendPartWithFormData(Data(value.description()), name);
      }
    }
  }
  if (bodyChunksBlock) {
    for (const auto& chunk : bodyChunksBlock()) form->appendPartWithChunk(chunk);
  }
  return form;
}

}  // namespace

// ---- the request family -------------------------------------------------------------------------

std::optional<ZELFuture<URLRequest>> ZELNetworkingClient::requestForPath(
    std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters) const {
  return requestForPath(path, method, parameters, nullptr, false);
}

std::optional<ZELFuture<URLRequest>> ZELNetworkingClient::requestForPath(
    std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters,
    ZELBodyChunksBlock bodyChunksBlock, bool compressRequestBody) const {
  return requestForPath(path, method, parameters, NetworkServiceType::Default,
                        std::move(bodyChunksBlock), compressRequestBody);
}

std::optional<ZELFuture<URLRequest>> ZELNetworkingClient::requestForPath(
    std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters,
    NetworkServiceType networkServiceType, ZELBodyChunksBlock bodyChunksBlock,
    bool compressRequestBody) const {
  return requestForPath(path, method, parameters, true, networkServiceType,
                        std::move(bodyChunksBlock), compressRequestBody);
}

std::optional<ZELFuture<URLRequest>> ZELNetworkingClient::requestForPath(
    std::string_view path, ZELHTTPMethod method, const ParameterDictionary& parameters,
    bool urlSanityCheck, NetworkServiceType networkServiceType, ZELBodyChunksBlock bodyChunksBlock,
    bool compressRequestBody) const {
  return requestForBaseURL(baseURL(), path, method, parameters, urlSanityCheck, networkServiceType,
                           std::move(bodyChunksBlock), compressRequestBody);
}

std::optional<ZELFuture<URLRequest>> ZELNetworkingClient::requestForBaseURL(
    const std::optional<URL>& baseURL, std::string_view path, ZELHTTPMethod method,
    const ParameterDictionary& parameters, bool urlSanityCheck,
    NetworkServiceType networkServiceType, ZELBodyChunksBlock bodyChunksBlock,
    bool compressRequestBody) const {
  auto prepared = prepareRequest(baseURL, path, method, parameters, urlSanityCheck,
                                 networkServiceType, kBuildMethod);
  if (!prepared) return std::nullopt;

  if (!isBodyMethod(method)) return ZELFuture<URLRequest>::withValue(std::move(prepared->request));
  if (!bodyChunksBlock) {
    addParametersToRequestWithEmptyBodyChunk(prepared->request, prepared->parameters,
                                             prepared->query);
    return ZELFuture<URLRequest>::withValue(std::move(prepared->request));
  }

  // The caller's block and the assembly of possibly large files run off the calling thread.
  auto multipart = ZELFuture<std::shared_ptr<ZELMultipartFormData>>::executor(
      ZELExecutor::background(),
      [metricsClient = signRequestsAsMetrics_, parameters = std::move(prepared->parameters),
       block = std::move(bodyChunksBlock)] {
        if (isMainThread()) ZELAssertionFailure("shouldn't be done in main thread!", kBuildMethod);
        return ZELFuture<std::shared_ptr<ZELMultipartFormData>>::withValue(
            buildMultipart(metricsClient, parameters, block));
      });
  // An executor the application set and then let go falls back to the shared one.
  auto finisher = backgroundExecutor();
  if (!finisher) finisher = ZELExecutor::background();
  return ZELFutureMap::map(multipart, finisher,
                           [request = std::move(prepared->request), compressRequestBody](
                               const std::shared_ptr<ZELMultipartFormData>& form) mutable {
                             setMultipartBody(request, *form, kBuildMethod);
                             if (compressRequestBody) gzipRequestBody(request);
                             return std::move(request);
                           });
}

std::optional<URLRequest> ZELNetworkingClient::requestPathForBaseURL(
    const std::optional<URL>& baseURL, std::string_view path, ZELHTTPMethod method,
    const ParameterDictionary& parameters, bool urlSanityCheck,
    NetworkServiceType networkServiceType, const ZELBodyChunksBlock& bodyChunksBlock) const {
  auto prepared = prepareRequest(baseURL, path, method, parameters, urlSanityCheck,
                                 networkServiceType, kSyncBuildMethod);
  if (!prepared) return std::nullopt;
  if (isBodyMethod(method)) {
    if (bodyChunksBlock) {
      auto form = createMultipartFormDataWithParameters(prepared->parameters, bodyChunksBlock);
      setMultipartBody(prepared->request, *form, kSyncBuildMethod);
    } else {
      addParametersToRequestWithEmptyBodyChunk(prepared->request, prepared->parameters,
                                               prepared->query);
    }
  }
  return std::move(prepared->request);
}

std::optional<URLRequest> ZELNetworkingClient::requestPutPath(
    std::string_view path, const ParameterDictionary& parameters,
    const ZELBodyChunksBlock& bodyChunksBlock) const {
  return requestPathForBaseURL(baseURL(), path, ZELHTTPMethod::PUT, parameters, true,
                               NetworkServiceType::Default, bodyChunksBlock);
}

// ---- steps --------------------------------------------------------------------------------------

std::optional<ZELNetworkingClient::PreparedRequest> ZELNetworkingClient::prepareRequest(
    const std::optional<URL>& baseURL, std::string_view path, ZELHTTPMethod method,
    const ParameterDictionary& parameters, bool urlSanityCheck,
    NetworkServiceType networkServiceType, std::string_view reportingMethod) const {
  const std::string checkedPath = urlSanityCheck ? urlSanityCheckForPath(path) : std::string(path);
  if (!checkedPath.empty() && (checkedPath.find("../") != std::string::npos ||
                               checkedPath.find('#') != std::string::npos)) {
    ZELAssertionFailure("URL should not contain ../ since this could be malicious. " + checkedPath,
                        reportingMethod);
    return std::nullopt;
  }

  // One read of the provider and its token decides signing and the authorization header.
  const auto provider = authenticationProvider();
  const std::string accessToken = provider ? provider->accessToken() : std::string();

  auto signedParameters = signParameters(parameters, baseURL, checkedPath, method, accessToken);
  std::string query = queryStringValue(signedParameters.parameters);

  // Even an empty query is appended, so a query request always ends in "?" or "&" + parameters.
  // The URL is read once, with its query: resolving the path with the query gives the same URL
  // as appending the query to the resolved path. An empty path resolves to the base URL, whose
  // own query is kept, so there the query is appended to the text.
  const std::string& signedPath = signedParameters.path;
  std::optional<URL> url;
  if (isQueryMethod(method) && !signedPath.empty()) {
    url = resolvePath(signedPath + (signedPath.find('?') != std::string::npos ? '&' : '?') + query,
                      baseURL);
  } else {
    url = resolvePath(signedPath, baseURL);
    if (url && isQueryMethod(method)) {
      url = URL::URLWithString(url->absoluteString() + (url->query() ? '&' : '?') + query);
    }
  }
  if (!url) {
    ZELAssertionFailure("Invalid url created by appending path: " + signedPath, reportingMethod);
    return std::nullopt;
  }

  PreparedRequest prepared{
      createRequestWithURL(*url, method, networkServiceType, provider, accessToken),
      std::move(signedParameters.parameters), std::move(query)};
  updateRequestWithAdditionalParameters(prepared.request);
  return prepared;
}

std::string ZELNetworkingClient::urlSanityCheckForPath(std::string_view path) {
  if (path.empty() || path.back() == '/') return std::string(path);
  std::string checked(path);
  ZELAssertionFailure("URL should have a trailing slash otherwise it will redirect. " + checked,
                      kSanityMethod);
  checked += '/';
  return checked;
}

URLRequest ZELNetworkingClient::createRequestWithURL(
    const URL& url, ZELHTTPMethod method, NetworkServiceType networkServiceType,
    const std::shared_ptr<ZELNetworkingAPIAuthenticationProvider>& authenticationProvider,
    std::string_view accessToken) const {
  URLRequest request(url);
  if (const auto text = ZELStringForHTTPMethod(method)) request.setHTTPMethod(std::string(*text));
  request.setNetworkServiceType(networkServiceType);
  request.setAssumesHTTP3Capable(assumeRequestsHTTP3Capable_);

  if (requestProvider_) {
    if (auto state = requestProvider_->applicationState()) {
      request.setValue(std::move(*state), "X-Zelvo-AppState");
    }
  }

  if (authenticationProvider) {
    if (method == ZELHTTPMethod::POST && url.path() == kTokenRefreshPath) {
      const std::string clientID = authenticationProvider->clientID();
      const std::string clientSecret = authenticationProvider->clientSecret();
      if (!clientID.empty() && !clientSecret.empty()) {
        request.setValue("Basic " + zel_base64EncodedString(clientID + ":" + clientSecret),
                         "Authorization");
        return request;
      }
    }
    if (!accessToken.empty()) {
      request.setValue("Bearer " + std::string(accessToken), "Authorization");
    }
  }
  return request;
}

void ZELNetworkingClient::updateRequestWithAdditionalParameters(URLRequest& request) const {
  zel_addHeadersFromDictionary(request, HTTPAdditionalHeaders_);
  if (requestProvider_ && request.url()) {
    zel_addHeadersFromDictionary(request,
                                 requestProvider_->additionalHeadersForURL(*request.url()));
  }
}

void ZELNetworkingClient::addParametersToRequestWithEmptyBodyChunk(
    URLRequest& request, const ParameterDictionary& parameters, std::string_view query) const {
  if (!request.valueForHTTPHeaderField("Content-Type")) {
    request.setValue("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
  }
  if (!signRequestsAsMetrics_) {
    request.setHTTPBody(Data::copy(query));
    return;
  }
  request.setValue("application/json", "Content-Type");
  // JSON cannot carry bytes: such a parameter is left out (and reported), never the whole body.
  boost::json::object object;
  object.reserve(parameters.size());
  for (const auto& [name, value] : parameters) {
    if (auto json = value.jsonValue()) {
      object.insert_or_assign(name, std::move(*json));
    } else {
      ZELAssertionFailure("A JSON body cannot carry the bytes of parameter " + name,
                          kFormBodyMethod);
    }
  }
  request.setHTTPBody(jsonData(boost::json::value(std::move(object))));
}

std::shared_ptr<ZELMultipartFormData> ZELNetworkingClient::createMultipartFormDataWithParameters(
    const ParameterDictionary& parameters, const ZELBodyChunksBlock& bodyChunksBlock) const {
  return buildMultipart(signRequestsAsMetrics_, parameters, bodyChunksBlock);
}

void ZELNetworkingClient::addAdditionalHeadersForRequest(
    URLRequest& request, const ZELMultipartFormData& multipartFormData) {
  request.setValue("multipart/form-data; boundary=" + multipartFormData.boundary(), "Content-Type");
}

void ZELNetworkingClient::setMultipartBody(URLRequest& request,
                                           ZELMultipartFormData& multipartFormData,
                                           std::string_view reportingMethod) {
  request.setHTTPBody(multipartFormData.bodyData());
  if (multipartFormData.boundary().empty()) {
    ZELAssertionFailure("Boundary must be nonnull", reportingMethod);
  }
  addAdditionalHeadersForRequest(request, multipartFormData);
}

void ZELNetworkingClient::gzipRequestBody(URLRequest& request) {
  if (request.valueForHTTPHeaderField("Content-Encoding") == "gzip") return;
  const auto& body = request.httpBody();
  if (!body || body->size() < kGzipThreshold) return;
  if (auto compressed = zel_gzippedData(*body)) {
    request.setHTTPBody(std::move(*compressed));
    request.setValue("gzip", "Content-Encoding");
  }
}

}  // namespace zel
