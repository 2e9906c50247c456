#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "support/AssertionCapture.h"
#include "zel/client/ZELNetworkingClient.h"
#include "zel/platform/ErrorKeys.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

constexpr const char* kApology = "Something went wrong on our end. Sorry about that.";

std::shared_ptr<ZELNetworkingClient> makeClient(bool metrics) {
  return ZELNetworkingClient::initWithBaseURL(URL::URLWithString("https://a.test/"), nullptr,
                                              nullptr, nullptr, metrics, false, {}, nullptr);
}

// Parsing never waits: every future comes back completed.
Result<std::shared_ptr<ZELAPIResponse>> outcome(const ZELAPIResponseFuture& future) {
  auto done = future.peek();
  EXPECT_TRUE(done.has_value()) << "the parser returned a pending future";
  return done ? std::move(*done) : Result<std::shared_ptr<ZELAPIResponse>>(Error("pending", 0));
}

Result<std::shared_ptr<ZELAPIResponse>> parseText(const ZELNetworkingClient& client,
                                                  std::string_view body, std::int64_t status) {
  return outcome(client.parseData(Data::copy(body), status));
}

std::shared_ptr<ZELAPIResponse> envelope(bool success, std::int64_t code) {
  auto response = std::make_shared<ZELAPIResponse>();
  response->success = success;
  response->serviceCode = code;
  return response;
}

class ParsingTests : public ::testing::Test {
 protected:
  test::AssertionCapture capture;  // the envelope's own reports stay out of the log
  std::shared_ptr<ZELNetworkingClient> ordinary = makeClient(false);
  std::shared_ptr<ZELNetworkingClient> metrics = makeClient(true);

  // The clients have no session; their construction reports are not what these tests count.
  void SetUp() override { capture.clear(); }
};

TEST_F(ParsingTests, AcceptedEnvelopeCarriesBodyAndStatus) {
  const std::string body =
      R"({"status":"success","code":0,"data":{"items":[1,2]},"bookmark":"b7","extra":true})";
  auto result = parseText(*ordinary, body, 201);
  ASSERT_TRUE(result.ok()) << result.error().description();
  const auto& response = *result.value();
  EXPECT_TRUE(response.success);
  EXPECT_EQ(response.statusCode, 201);
  EXPECT_EQ(response.data->stringView(), body);
  EXPECT_EQ(*response.dataObject, boost::json::parse(R"({"items":[1,2]})"));
  EXPECT_EQ(response.bookmark, "b7");
  EXPECT_EQ(response.envelopeData->at("extra"), true);
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(ParsingTests, MissingBodyIsTheNilPayloadError) {
  auto result = outcome(ordinary->parseData(std::nullopt, 200));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().domain(), NSURLErrorDomain);
  EXPECT_EQ(result.error().code(), 2006);
  EXPECT_EQ(result.error().localizedDescription(), "nil payload");
}

TEST_F(ParsingTests, ReaderErrorsCarryTheStatusText) {
  // Not JSON, empty, a bare value (no fragments), invalid UTF-8, nesting past the reader's limit.
  const std::string deep = std::string(600, '[') + std::string(600, ']');
  for (const std::string& body :
       {std::string("<html>Bad gateway</html>"), std::string(), std::string("42"),
        std::string("{\"status\":\"success\",\"code\":0,\"m\":\"\xC3\x28\"}"), deep}) {
    auto result = parseText(*ordinary, body, 502);
    ASSERT_FALSE(result.ok()) << body.substr(0, 40);
    EXPECT_EQ(result.error().domain(), NSCocoaErrorDomain);
    EXPECT_EQ(result.error().code(), 3840);
    ASSERT_TRUE(result.error().userInfo().has_value());
    EXPECT_EQ(result.error().userInfo()->string(ZELNetworkingClientErrorUserInfoHttpStatusCodeKey),
              "502");
    EXPECT_TRUE(result.error().userInfo()->contains(NSDebugDescriptionErrorKey));
  }
}

TEST_F(ParsingTests, NestingWellBeyondTheDefaultLimitOfTheJsonLibraryIsRead) {
  const std::string nested = std::string(400, '[') + std::string(400, ']');
  auto result = parseText(*ordinary, R"({"status":"success","code":0,"data":)" + nested + "}", 200);
  ASSERT_TRUE(result.ok());
}

TEST_F(ParsingTests, ArrayBodyFailsWithTheServiceErrorOfCodeZero) {
  auto result = parseText(*ordinary, "[1,2]", 200);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().domain(), ZELNetworkingErrorDomain);
  EXPECT_EQ(result.error().code(), 0);
  EXPECT_EQ(result.error().localizedDescription(), kApology);
}

TEST_F(ParsingTests, AnErrorStatusWithAnAcceptedEnvelopeIsAccepted) {
  // The envelope decides, not the HTTP status.
  auto result = parseText(*ordinary, R"({"status":"success","code":0})", 500);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value()->statusCode, 500);
}

TEST_F(ParsingTests, AcceptanceRuleForOrdinaryAndMetricsClients) {
  struct Case {
    bool success;
    std::int64_t code;
    bool ordinaryAccepts;
    bool metricsAccepts;
  };
  for (const auto& c :
       {Case{true, 0, true, true}, Case{true, 10, false, true}, Case{true, 399, false, true},
        Case{true, 400, false, false}, Case{true, -1, false, true}, Case{false, 0, false, false}}) {
    SCOPED_TRACE(testing::Message() << "success=" << c.success << " code=" << c.code);
    EXPECT_EQ(outcome(ordinary->parseAPIResponse(envelope(c.success, c.code))).ok(),
              c.ordinaryAccepts);
    EXPECT_EQ(outcome(metrics->parseAPIResponse(envelope(c.success, c.code))).ok(),
              c.metricsAccepts);
  }
  EXPECT_FALSE(outcome(ordinary->parseAPIResponse(nullptr)).ok());
  EXPECT_FALSE(outcome(metrics->parseAPIResponse(nullptr)).ok());
}

TEST_F(ParsingTests, RefusedEnvelopeBecomesTheServiceErrorWithItsFields) {
  auto result = parseText(
      *ordinary,
      R"({"status":"failure","code":1234,"message":"No such user","message_detail":"id 7","data":{"id":7}})",
      404);
  ASSERT_FALSE(result.ok());
  const Error& error = result.error();
  EXPECT_EQ(error.domain(), ZELNetworkingErrorDomain);
  EXPECT_EQ(error.code(), 1234);
  EXPECT_EQ(error.localizedDescription(), "No such user");
  EXPECT_EQ(error.localizedFailureReason(), "id 7");
  const auto* data = error.userInfo()->find(ZELNetworkingDataObjectkey);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::get<boost::json::value>(*data), boost::json::parse(R"({"id":7})"));
}

TEST_F(ParsingTests, CodesReadAsTheyWouldBeByThePlatformReader) {
  // true is 1, 0.9 truncates to 0, a huge integer saturates, a string is no number (500).
  EXPECT_FALSE(parseText(*ordinary, R"({"status":"success","code":true})", 200).ok());
  EXPECT_TRUE(parseText(*ordinary, R"({"status":"success","code":false})", 200).ok());
  EXPECT_TRUE(parseText(*ordinary, R"({"status":"success","code":0.9})", 200).ok());
  auto huge = parseText(*metrics, R"({"status":"success","code":99999999999999999999})", 200);
  ASSERT_FALSE(huge.ok());
  EXPECT_EQ(huge.error().code(), INT64_MAX);
  auto text = parseText(*metrics, R"({"status":"success","code":"0"})", 200);
  ASSERT_FALSE(text.ok());
  EXPECT_EQ(text.error().code(), 500);
  EXPECT_EQ(capture.count(), 2u);  // the two reports of the wrong type
}

TEST_F(ParsingTests, ParseResponseJudgesADecodedValue) {
  const auto accepted = boost::json::parse(R"({"status":"success","code":0,"data":null})");
  auto result = outcome(ordinary->parseResponse(&accepted));
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.value()->dataObject->is_null());  // null is kept, not dropped
  EXPECT_FALSE(outcome(ordinary->parseResponse(nullptr)).ok());
  const auto scalar = boost::json::value(3);
  EXPECT_EQ(outcome(ordinary->parseResponse(&scalar)).error().code(), 0);
}

}  // namespace
}  // namespace zel
