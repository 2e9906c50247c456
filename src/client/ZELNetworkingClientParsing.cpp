// Judging a response body: JSON, then the API envelope, then the API's acceptance rule.

#include <string>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/platform/Json.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"
#include "zel/transport/URLError.h"

namespace zel {

namespace {

constexpr std::int64_t kNilPayloadErrorCode = 2006;

}  // namespace

ZELAPIResponseFuture ZELNetworkingClient::parseResponse(
    const boost::json::value* responseObject) const {
  return parseAPIResponse(ZELAPIResponse::parseResponseObject(responseObject));
}

ZELAPIResponseFuture ZELNetworkingClient::parseData(const std::optional<Data>& data,
                                                    std::int64_t statusCode) const {
  if (!data) {
    return ZELAPIResponseFuture::withError(
        Error(NSURLErrorDomain, kNilPayloadErrorCode,
              ErrorUserInfo{{NSLocalizedDescriptionKey, std::string("nil payload")}}));
  }
  auto object = jsonObjectWithData(*data);
  if (!object) {
    const Error& readerError = object.error();
    ErrorUserInfo userInfo = readerError.userInfo().value_or(ErrorUserInfo{});
    userInfo.set(ZELNetworkingClientErrorUserInfoHttpStatusCodeKey, std::to_string(statusCode));
    return ZELAPIResponseFuture::withError(
        Error(readerError.domain(), readerError.code(), std::move(userInfo)));
  }
  auto response = ZELAPIResponse::parseResponseObject(std::move(object).value(), statusCode);
  if (response) response->data = *data;
  return parseAPIResponse(std::move(response));
}

ZELAPIResponseFuture ZELNetworkingClient::parseAPIResponse(
    std::shared_ptr<ZELAPIResponse> response) const {
  if (response && response->success &&
      (response->serviceCode == 0 || (signRequestsAsMetrics_ && response->serviceCode <= 399))) {
    return ZELAPIResponseFuture::withValue(std::move(response));
  }
  if (!response) {
    return ZELAPIResponseFuture::withError(
        zelvoServiceErrorWithErrorCode(0, std::nullopt, std::nullopt, std::nullopt));
  }
  std::optional<ErrorUserInfoValue> dataObject;
  if (response->dataObject) dataObject = ErrorUserInfoValue(*response->dataObject);
  return ZELAPIResponseFuture::withError(zelvoServiceErrorWithErrorCode(
      response->serviceCode, response->message, response->messageDetail, std::move(dataObject)));
}

}  // namespace zel
