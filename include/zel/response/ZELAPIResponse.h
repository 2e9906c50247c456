#pragma once
// ZELAPIResponse — one parsed API envelope, the value successful requests resolve with.
//
// The envelope is a JSON object with "status", "code", "message", "message_detail", "data" and
// "bookmark"; any other top-level member is kept in envelopeData. A wrong or missing "status"
// or "code" is reported through the assertion facility and replaced by a default (unsuccessful;
// code 500). The object is an ordinary mutable value once made; do not change it from two
// threads at once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "zel/platform/Data.h"
#include "zel/platform/URLResponse.h"

namespace zel {

class ZELAPIResponse {
 public:
  /// A response from a parsed JSON value; absent (without a report) unless it is an object.
  [[nodiscard]] static std::shared_ptr<ZELAPIResponse> parseResponseObject(
      const boost::json::value* responseObject);
  [[nodiscard]] static std::shared_ptr<ZELAPIResponse> parseResponseObject(
      const boost::json::value* responseObject, std::int64_t statusCode);
  /// As above, moving "data" and the extra members out of the value instead of copying them;
  /// the value is left valid but unspecified.
  [[nodiscard]] static std::shared_ptr<ZELAPIResponse> parseResponseObject(
      boost::json::value&& responseObject, std::int64_t statusCode);
  /// A response whose only set field is dataObject.
  [[nodiscard]] static std::shared_ptr<ZELAPIResponse> responseWithDataObject(
      std::optional<boost::json::value> dataObject);
  /// A response with every default: unsuccessful, codes 0, nothing else set.
  [[nodiscard]] static std::shared_ptr<ZELAPIResponse> emptyResponse();

  ZELAPIResponse() = default;

  bool success = false;
  /// The envelope's "code"; 500 when it had no number; 0 for responses not made by parsing.
  std::int64_t serviceCode = 0;
  /// The HTTP status, when the response was parsed with one.
  std::int64_t statusCode = 0;
  std::optional<std::string> message;
  std::optional<std::string> messageDetail;
  /// The envelope's "data" exactly as parsed (JSON null included); absent when missing.
  std::optional<boost::json::value> dataObject;
  std::optional<std::string> bookmark;
  std::optional<std::string> host;         // for the application; the library never sets it
  std::optional<std::string> generatedAt;  // for the application; the library never sets it
  /// Every other top-level member; present (maybe empty) for parsed responses.
  std::optional<boost::json::object> envelopeData;
  /// The raw response body.
  std::optional<Data> data;
  std::shared_ptr<const HTTPURLResponse> httpResponse;  // for the application

  /// The envelope rebuilt from the fields: "status" ("success" or "failure"), "code", and
  /// "message", "message_detail", "data", "bookmark" when present. A new object every call.
  [[nodiscard]] boost::json::object responseObject() const;

  /// responseObject() in the platform's dictionary description format.
  [[nodiscard]] std::string description() const;
};

}  // namespace zel
