#include <gtest/gtest.h>

#include <limits>

#include "support/AssertionCapture.h"
#include "zel/platform/Json.h"
#include "zel/response/ZELAPIResponse.h"

namespace zel {
namespace {

boost::json::value json(std::string_view text) {
  return jsonObjectWithData(text, {.allowFragments = true}).value();
}

std::shared_ptr<ZELAPIResponse> parse(std::string_view text) {
  const auto value = json(text);
  return ZELAPIResponse::parseResponseObject(&value);
}

TEST(ZELAPIResponse, NonObjectsGiveNoResponseAndNoReport) {
  test::AssertionCapture capture;
  EXPECT_EQ(parse("[1]"), nullptr);
  EXPECT_EQ(parse("\"s\""), nullptr);
  EXPECT_EQ(ZELAPIResponse::parseResponseObject(nullptr), nullptr);
  EXPECT_EQ(ZELAPIResponse::parseResponseObject(nullptr, 200), nullptr);
  EXPECT_EQ(capture.count(), 0u);
}

TEST(ZELAPIResponse, EmptyObjectReportsStatusAndCodeTwiceEach) {
  test::AssertionCapture capture;
  const auto response = parse("{}");
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(
      capture.messages(),
      (std::vector<std::string>{
          "expected `responseDictionary[kKeyStatus]` to be a kind of `NSString` but isn't.  "
          "Value is `(null)`",
          "Expected '___ZELTryCastAssertIfWrongType(responseDictionary[kKeyStatus], NSString, "
          "YES)' not to be nil.",
          "expected `responseDictionary[kKeyCode]` to be a kind of `NSNumber` but isn't.  "
          "Value is `(null)`",
          "Expected '___ZELTryCastAssertIfWrongType(responseDictionary[kKeyCode], NSNumber, "
          "YES)' not to be nil."}));
  EXPECT_EQ(capture.reports()[0].method, "+[ZELAPIResponse parseResponseObject:]");
  EXPECT_FALSE(response->success);
  EXPECT_EQ(response->serviceCode, 500);
  EXPECT_FALSE(response->message || response->messageDetail || response->bookmark);
  EXPECT_FALSE(response->dataObject.has_value());
  ASSERT_TRUE(response->envelopeData.has_value());
  EXPECT_TRUE(response->envelopeData->empty());
}

TEST(ZELAPIResponse, FullEnvelopeParsesWithoutReports) {
  test::AssertionCapture capture;
  const auto response =
      parse(R"({"status":"success","code":0,"data":{"id":1},"bookmark":"b","extra":1})");
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_TRUE(response->success);
  EXPECT_EQ(response->serviceCode, 0);
  EXPECT_EQ(*response->dataObject, json(R"({"id":1})"));
  EXPECT_EQ(response->bookmark, "b");
  EXPECT_EQ(boost::json::value(*response->envelopeData), json(R"({"extra":1})"));
}

TEST(ZELAPIResponse, TypesAreCheckedAsThePlatformReaderSeesThem) {
  EXPECT_FALSE(parse(R"({"status":"Success","code":0})")->success);
  const auto failure = parse(R"({"status":"failure","code":7,"message":"m","message_detail":5})");
  EXPECT_FALSE(failure->success);
  EXPECT_EQ(failure->serviceCode, 7);
  EXPECT_EQ(failure->message, "m");
  EXPECT_FALSE(failure->messageDetail.has_value());

  EXPECT_EQ(parse(R"({"status":"success","code":2.9})")->serviceCode, 2);
  EXPECT_EQ(parse(R"({"status":"success","code":true})")->serviceCode, 1);
  EXPECT_EQ(parse(R"({"status":"success","code":99999999999999999999})")->serviceCode,
            std::numeric_limits<std::int64_t>::max());
  test::AssertionCapture capture;
  EXPECT_EQ(parse(R"({"status":"success","code":"12"})")->serviceCode, 500);
  ASSERT_EQ(capture.count(), 2u);
  EXPECT_EQ(capture.messages()[0],
            "expected `responseDictionary[kKeyCode]` to be a kind of `NSNumber` but isn't.  Value "
            "is `12`");
}

TEST(ZELAPIResponse, NullDataIsKeptAndWrittenBack) {
  const auto envelope = json(R"({"status":"success","code":0,"data":null})");
  const auto response = ZELAPIResponse::parseResponseObject(&envelope, 201);
  ASSERT_TRUE(response->dataObject.has_value());
  EXPECT_TRUE(response->dataObject->is_null());
  EXPECT_EQ(response->statusCode, 201);
  const auto rebuilt = response->responseObject();
  ASSERT_NE(rebuilt.if_contains("data"), nullptr);
  EXPECT_TRUE(rebuilt.at("data").is_null());
}

TEST(ZELAPIResponse, BuiltResponsesAndTheirEnvelopes) {
  EXPECT_EQ(boost::json::value(ZELAPIResponse::emptyResponse()->responseObject()),
            json(R"({"status":"failure","code":0})"));
  const auto withData = ZELAPIResponse::responseWithDataObject(json("[1,2]"));
  EXPECT_EQ(boost::json::value(withData->responseObject()),
            json(R"({"status":"failure","code":0,"data":[1,2]})"));
  EXPECT_FALSE(withData->envelopeData.has_value());
  EXPECT_EQ(
      withData->description(),
      "{\n    code = 0;\n    data = (\n        1,\n        2\n    );\n    status = failure;\n}");
}

}  // namespace
}  // namespace zel
