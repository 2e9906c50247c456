// The error model's refinements and the API envelope's parsing rules.
#include <gtest/gtest.h>

#include <limits>

#include "support/AssertionCapture.h"
#include "zel/foundation/Bundle.h"
#include "zel/platform/Json.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"
#include "zel/response/ZELAPIResponse.h"

namespace zel {
namespace {

class Response : public ::testing::Test {
 protected:
  test::AssertionCapture capture;
};

// Domain, code, texts and data object of a full error:
// ClientTests.AcceptedEnvelopesKeepBodyAndStatusRefusedOnesBecomeErrors.
TEST_F(Response, DesignatedConstructorStoresOnlyWhatIsGivenAndServiceErrorsPickTextsByCode) {
  const Error inner("inner", 1);
  const auto full = zel_errorWithUnderlyingError(inner, std::string("D"), std::string("R"), 42, {});
  EXPECT_TRUE(full.underlyingError()->isSameInstance(inner));

  const auto empty = zel_errorWithDescription(std::string(), std::string(), 3, std::nullopt);
  ASSERT_TRUE(empty.userInfo().has_value());  // never absent
  EXPECT_TRUE(empty.userInfo()->empty());

  const auto absent = zel_errorWithDescription(std::nullopt, 5);
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: description"), 1u);
  EXPECT_FALSE(absent.userInfo()->contains(NSLocalizedDescriptionKey));

  // Service errors pick their texts by code.
  const auto hiccup = zelvoServiceErrorWithErrorCode(502, std::string("M"), std::string("T"), {});
  EXPECT_EQ(hiccup.localizedDescription(), "Connection Error");
  EXPECT_EQ(hiccup.localizedFailureReason(),
            "Our servers are experiencing a mild case of the hiccups.");

  const auto offline = zelvoServiceErrorWithErrorCode(-1009, std::nullopt, std::nullopt,
                                                      boost::json::value{{"a", 1}});
  EXPECT_EQ(offline.localizedFailureReason(), "The Internet connection appears to be offline.");
  EXPECT_EQ(zelvoServiceErrorWithErrorCode(-1001, {}, {}, {}).localizedFailureReason(),
            "The connection has timed out.");

  // Without a message, the apology; the detail is the reason whatever the message.
  const auto noMessage = zelvoServiceErrorWithErrorCode(7, std::nullopt, std::string("T"), {});
  EXPECT_EQ(noMessage.localizedDescription(), "Something went wrong on our end. Sorry about that.");
  EXPECT_EQ(noMessage.localizedFailureReason(), "T");
  // An empty message is not an absent one: no description at all, so the platform default.
  const auto emptyMessage = zelvoServiceErrorWithErrorCode(7, std::string(), std::nullopt, {});
  EXPECT_FALSE(emptyMessage.userInfo()->contains(NSLocalizedDescriptionKey));
  EXPECT_EQ(emptyMessage.localizedDescription(),
            "The operation couldn\u2019t be completed. (com.emberfield.zelvo error 7.)");

  for (const auto& e : {zelvoInternalError(), zelvoServiceValidationError()}) {
    EXPECT_EQ(e.code(), 500);
    EXPECT_EQ(e.localizedDescription(), "Error");
  }
  EXPECT_EQ(zelvoInternalError().localizedFailureReason(), "Internal Error");
  EXPECT_EQ(zelvoServiceValidationError().localizedFailureReason(), "Validation error");
}

TEST_F(Response, CodesOfHTTPAndCronetErrorsStackedGenericErrorsAndDetailedDescriptions) {
  const auto notFound = zelvoHTTPErrorWithHTTPStatusCode(404);
  EXPECT_TRUE(isHTTPError(notFound));
  EXPECT_EQ(HTTPStatusCode(notFound), 404);
  EXPECT_FALSE(notFound.userInfo().has_value());
  const Error other("elsewhere", 404);
  EXPECT_FALSE(isHTTPError(other));
  EXPECT_EQ(HTTPStatusCode(other), 404);

  auto urlError = [](std::optional<Error> underlying) {
    ErrorUserInfo info;
    if (underlying) info.set(NSUnderlyingErrorKey, *underlying);
    return Error(NSURLErrorDomain, -1005, std::move(info));
  };
  const auto updated = [&](const char* domain, std::int64_t code) {
    return zel_errorWithUpdatedCode(urlError(Error(domain, code))).code();
  };
  EXPECT_EQ(updated(ZELNetworkingCronetErrorDomain, -118), -1001);
  EXPECT_EQ(updated(ZELNetworkingCronetErrorDomain, -106), -1009);
  EXPECT_EQ(updated(ZELNetworkingCronetErrorDomain, -105), -1005);
  EXPECT_EQ(updated("other", -118), -1005);
  const auto unchanged = urlError(Error(ZELNetworkingCronetErrorDomain, -105));
  EXPECT_FALSE(zel_errorWithUpdatedCode(unchanged).isSameInstance(unchanged));  // a new error
  const Error foreign("other", 1);
  EXPECT_TRUE(zel_errorWithUpdatedCode(foreign).isSameInstance(foreign));

  // Stacked generic errors never nest.
  const auto bare = zel_stackedGenericErrorWithUnderlyingError(std::nullopt, std::string("R"), 9);
  EXPECT_TRUE(zel_isGenericError(bare));
  EXPECT_EQ(bare.localizedDescription(), "Oops! Something went wrong");
  EXPECT_EQ(bare.localizedFailureReason(), "R");
  EXPECT_EQ(bare.code(), 9);
  EXPECT_FALSE(bare.underlyingError().has_value());

  const auto specific = zel_errorWithDescription(std::string("D"), 4);
  const auto wrapped = zel_stackedGenericErrorWithUnderlyingError(specific, std::string("R"), 9);
  EXPECT_EQ(wrapped.localizedFailureReason(), "D");
  EXPECT_EQ(wrapped.code(), 4);
  EXPECT_TRUE(wrapped.underlyingError()->isSameInstance(specific));

  const auto generic = zel_genericErrorWithFailureReason(std::string("why"), 3);
  EXPECT_TRUE(zel_stackedGenericErrorWithUnderlyingError(generic, std::string("R"), 9)
                  .isSameInstance(generic));
  // A generic error without a reason is replaced, keeping its own underlying error.
  const auto inner = Error("inner", 8);
  const auto reasonless = zel_genericErrorWithUnderlyingError(inner, std::nullopt, 3);
  const auto restacked =
      zel_stackedGenericErrorWithUnderlyingError(reasonless, std::string("R"), 9);
  EXPECT_EQ(restacked.code(), 3);
  EXPECT_EQ(restacked.localizedFailureReason(), "R");
  EXPECT_TRUE(restacked.underlyingError()->isSameInstance(inner));

  // The detailed description joins description and reason, but for 502 is the reason alone.
  const auto detailed = [](std::optional<std::string> reason, std::int64_t code) {
    return detailedLocalizedDescription(
        zel_errorWithDescription(std::string("A"), reason, code, {}));
  };
  EXPECT_EQ(detailed("B", 1), "A\nB");
  EXPECT_EQ(detailed("A", 1), "A");
  EXPECT_EQ(detailed(std::nullopt, 1), "A");
  EXPECT_EQ(detailed("B", 502), "B");

  const auto withReason = zel_errorWithDescription(std::string("A"), std::string("B"), 1, {});
  const auto removed = zel_errorWithRemovedFailureReasonIfDistribution(withReason);
  EXPECT_FALSE(removed.localizedFailureReason().has_value());
  EXPECT_EQ(removed.localizedDescription(), "A");
  const auto without = zel_errorWithDescription(std::string("A"), 1);
  EXPECT_TRUE(zel_errorWithRemovedFailureReasonIfDistribution(without).isSameInstance(without));
}

TEST_F(Response, AuthenticationContextForCodeTwoAndTextsFromTheApplicationsStringTables) {
  const URLRequest request(*URL::URLWithString("https://api.test/a/b/?x=1"));
  const auto auth = zel_errorLocalizedAndContextAddedForRequest(
      zel_errorWithDescription(std::string("server says"), 2), request);
  EXPECT_EQ(auth.localizedDescription(), "Authentication failed.");
  EXPECT_EQ(auth.userInfo()->string("ZELNetworkingAuthenticationErrorKey"), "/a/b/");

  const auto three = zel_errorWithDescription(std::string("D"), 3);
  const auto copy = zel_errorLocalizedAndContextAddedForRequest(three, request);
  EXPECT_FALSE(copy.isSameInstance(three));
  EXPECT_EQ(copy, three);

  // Texts come from the application's string tables. Keyed texts are read through
  // zel_mainAppBundle(): set through Bundle::mainBundle(), so the two are one bundle.
  Bundle::mainBundle().setStrings("ZELLocalizable", {{"generic_error", "Hoppla!"}});
  Bundle::mainBundle().setStrings("Localizable", {{"Connection Error", "Verbindungsfehler"}});
  EXPECT_EQ(zel_genericErrorLocalizedDescription(), "Hoppla!");
  EXPECT_TRUE(zel_isGenericError(zel_genericErrorWithErrorCode(1)));
  EXPECT_EQ(zelvoServiceErrorWithErrorCode(-1009, {}, {}, {}).localizedDescription(),
            "Verbindungsfehler");
  Bundle::mainBundle().removeTable("ZELLocalizable");
  Bundle::mainBundle().removeTable("Localizable");
  EXPECT_EQ(zel_genericErrorLocalizedDescription(), "Oops! Something went wrong");
}

boost::json::value json(std::string_view text) {
  return jsonObjectWithData(text, {.allowFragments = true}).value();
}

std::shared_ptr<ZELAPIResponse> parse(std::string_view text) {
  const auto value = json(text);
  return ZELAPIResponse::parseResponseObject(&value);
}

TEST_F(Response, EmptyObjectReportsStatusAndCodeTwiceEach) {
  // Non-objects give no response and no report.
  EXPECT_EQ(parse("[1]"), nullptr);
  EXPECT_EQ(ZELAPIResponse::parseResponseObject(nullptr, 200), nullptr);
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

// Status, data, bookmark and the absence of reports of an accepted envelope:
// ClientTests.AcceptedEnvelopesKeepBodyAndStatusRefusedOnesBecomeErrors.
TEST_F(Response, NullDataIsKeptTheRestOfTheEnvelopeIsExtraAndBuiltOnesWriteTheirs) {
  const auto response =
      parse(R"({"status":"success","code":0,"data":null,"bookmark":"b","extra":{"id":1}})");
  EXPECT_TRUE(response->dataObject.value().is_null());
  EXPECT_EQ(boost::json::value(*response->envelopeData), json(R"({"extra":{"id":1}})"));
  const auto rebuilt = response->responseObject();
  ASSERT_NE(rebuilt.if_contains("data"), nullptr);
  EXPECT_TRUE(rebuilt.at("data").is_null());

  // Built responses.
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

TEST_F(Response, TypesAreCheckedAsThePlatformReaderSeesThem) {
  EXPECT_FALSE(parse(R"({"status":"Success","code":0})")->success);
  const auto failure =
      parse(R"({"status":"failure","code":7,"message":"m","message_detail":5,"data":{"id":1}})");
  EXPECT_FALSE(failure->success);
  EXPECT_EQ(failure->serviceCode, 7);
  EXPECT_EQ(failure->message, "m");
  EXPECT_FALSE(failure->messageDetail.has_value());
  EXPECT_EQ(failure->dataObject.value(), json(R"({"id":1})"));

  EXPECT_EQ(parse(R"({"status":"success","code":2.9})")->serviceCode, 2);
  EXPECT_EQ(parse(R"({"status":"success","code":true})")->serviceCode, 1);
  EXPECT_EQ(parse(R"({"status":"success","code":99999999999999999999})")->serviceCode,
            std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(parse(R"({"status":"success","code":"12"})")->serviceCode, 500);
  ASSERT_EQ(capture.count(), 2u);
  EXPECT_EQ(capture.messages()[0],
            "expected `responseDictionary[kKeyCode]` to be a kind of `NSNumber` but isn't.  Value "
            "is `12`");
}

}  // namespace
}  // namespace zel
