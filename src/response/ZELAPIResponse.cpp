#include "zel/response/ZELAPIResponse.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <type_traits>
#include <vector>

#include <boost/json/serialize.hpp>

#include "zel/foundation/ZELAssertion.h"
#include "zel/platform/Json.h"

namespace zel {
namespace {

constexpr const char* kParseMethod = "+[ZELAPIResponse parseResponseObject:]";

// The six fixed member names; everything else goes to envelopeData. Built once.
bool isFixedMember(std::string_view name) {
  static const std::array<std::string_view, 6> kFixed = {"status",         "code", "message",
                                                         "message_detail", "data", "bookmark"};
  return std::find(kFixed.begin(), kFixed.end(), name) != kFixed.end();
}

// A JSON value as the platform's object description prints it in the report.
std::string reportedValue(const boost::json::value* value) {
  if (value == nullptr) return "(null)";
  switch (value->kind()) {
    case boost::json::kind::string:
      return std::string(value->get_string());
    case boost::json::kind::null:
      return "<null>";
    case boost::json::kind::bool_:
      return value->get_bool() ? "1" : "0";
    default:
      return boost::json::serialize(*value);
  }
}

void reportWrongType(const char* expression, const char* type, const boost::json::value* found) {
  ZELAssertionFailure(std::string("expected `") + expression + "` to be a kind of `" + type +
                          "` but isn't.  Value is `" + reportedValue(found) + "`",
                      kParseMethod);
  ZELAssertionFailure(std::string("Expected '___ZELTryCastAssertIfWrongType(") + expression + ", " +
                          type + ", YES)' not to be nil.",
                      kParseMethod);
}

std::optional<std::string> stringMember(const boost::json::object& object, std::string_view name) {
  const auto* value = object.if_contains(name);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return std::string(value->get_string());
}

// The old-style property-list text of the platform's dictionary description.
bool needsQuotes(std::string_view text) {
  return text.empty() || !std::all_of(text.begin(), text.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' ||
                  c == '/' || c == ':';
         });
}

std::string quoted(std::string_view text) {
  if (!needsQuotes(text)) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out.push_back(c);
  }
  return out + "\"";
}

void describe(const boost::json::value& value, int indent, std::string& out) {
  const std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  switch (value.kind()) {
    case boost::json::kind::object: {
      const auto& object = value.get_object();
      std::vector<std::string_view> keys;
      for (const auto& member : object) keys.push_back(member.key());
      std::sort(keys.begin(), keys.end());
      out += "{\n";
      for (const auto key : keys) {
        out += pad + "    " + quoted(key) + " = ";
        describe(object.at(key), indent + 1, out);
        out += ";\n";
      }
      out += pad + "}";
      break;
    }
    case boost::json::kind::array: {
      const auto& array = value.get_array();
      out += "(\n";
      for (std::size_t i = 0; i < array.size(); ++i) {
        out += pad + "    ";
        describe(array[i], indent + 1, out);
        out += i + 1 < array.size() ? ",\n" : "\n";
      }
      out += pad + ")";
      break;
    }
    case boost::json::kind::string:
      out += quoted(value.get_string());
      break;
    default:
      out += reportedValue(&value);
      break;
  }
}

}  // namespace

namespace {

// Reads the fixed members, then copies or moves "data" and the extra members out of the
// envelope (Envelope is const for copying, mutable for moving).
template <class Envelope>
std::shared_ptr<ZELAPIResponse> parseEnvelope(Envelope& envelope) {
  auto response = std::make_shared<ZELAPIResponse>();

  const auto* status = envelope.if_contains("status");
  if (status == nullptr || !status->is_string()) {
    reportWrongType("responseDictionary[kKeyStatus]", "NSString", status);
  } else {
    response->success = status->get_string() == "success";
  }

  const auto* code = envelope.if_contains("code");
  if (code != nullptr && jsonIsNumber(*code)) {
    response->serviceCode = *jsonInt64(*code);
  } else {
    reportWrongType("responseDictionary[kKeyCode]", "NSNumber", code);
    response->serviceCode = 500;
  }

  response->message = stringMember(envelope, "message");
  response->messageDetail = stringMember(envelope, "message_detail");
  response->bookmark = stringMember(envelope, "bookmark");

  constexpr bool kMove = !std::is_const_v<Envelope>;
  boost::json::object extra;
  for (auto& member : envelope) {
    if (member.key() == "data") {
      if constexpr (kMove) {
        response->dataObject = std::move(member.value());
      } else {
        response->dataObject = member.value();
      }
    } else if (!isFixedMember(member.key())) {
      if constexpr (kMove) {
        extra.emplace(member.key(), std::move(member.value()));
      } else {
        extra.emplace(member.key(), member.value());
      }
    }
  }
  response->envelopeData = std::move(extra);
  return response;
}

}  // namespace

std::shared_ptr<ZELAPIResponse> ZELAPIResponse::parseResponseObject(
    const boost::json::value* responseObject) {
  if (responseObject == nullptr || !responseObject->is_object()) return nullptr;
  return parseEnvelope(responseObject->get_object());
}

std::shared_ptr<ZELAPIResponse> ZELAPIResponse::parseResponseObject(
    boost::json::value&& responseObject, std::int64_t statusCode) {
  if (!responseObject.is_object()) return nullptr;
  auto response = parseEnvelope(responseObject.get_object());
  response->statusCode = statusCode;
  return response;
}

std::shared_ptr<ZELAPIResponse> ZELAPIResponse::parseResponseObject(
    const boost::json::value* responseObject, std::int64_t statusCode) {
  auto response = parseResponseObject(responseObject);
  if (response) response->statusCode = statusCode;
  return response;
}

std::shared_ptr<ZELAPIResponse> ZELAPIResponse::responseWithDataObject(
    std::optional<boost::json::value> dataObject) {
  auto response = std::make_shared<ZELAPIResponse>();
  response->dataObject = std::move(dataObject);
  return response;
}

std::shared_ptr<ZELAPIResponse> ZELAPIResponse::emptyResponse() {
  return std::make_shared<ZELAPIResponse>();
}

boost::json::object ZELAPIResponse::responseObject() const {
  boost::json::object object;
  object["status"] = success ? "success" : "failure";
  object["code"] = serviceCode;
  if (message) object["message"] = *message;
  if (messageDetail) object["message_detail"] = *messageDetail;
  if (dataObject) object["data"] = *dataObject;
  if (bookmark) object["bookmark"] = *bookmark;
  return object;
}

std::string ZELAPIResponse::description() const {
  std::string out;
  describe(boost::json::value(responseObject()), 0, out);
  return out;
}

}  // namespace zel
