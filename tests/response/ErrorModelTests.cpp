#include <gtest/gtest.h>

#include "support/AssertionCapture.h"
#include "zel/foundation/Bundle.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"

namespace zel {
namespace {

std::optional<std::string> userString(const Error& e, const char* key) {
  return e.userInfo() ? e.userInfo()->string(key) : std::nullopt;
}

TEST(ErrorModel, DesignatedConstructorStoresOnlyWhatIsGiven) {
  const Error inner("inner", 1);
  const auto full = zel_errorWithUnderlyingError(inner, std::string("D"), std::string("R"), 42,
                                                 boost::json::value{{"a", 1}});
  EXPECT_EQ(full.domain(), "com.emberfield.zelvo");
  EXPECT_EQ(full.code(), 42);
  EXPECT_EQ(full.localizedDescription(), "D");
  EXPECT_EQ(full.localizedFailureReason(), "R");
  EXPECT_TRUE(full.underlyingError()->isSameInstance(inner));
  EXPECT_EQ(std::get<boost::json::value>(*full.userInfo()->find("dataObject")).at("a"), 1);

  const auto empty = zel_errorWithDescription(std::string(), std::string(), 3, std::nullopt);
  ASSERT_TRUE(empty.userInfo().has_value());  // never absent
  EXPECT_TRUE(empty.userInfo()->empty());

  test::AssertionCapture capture;
  const auto absent = zel_errorWithDescription(std::nullopt, 5);
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: description"), 1u);
  EXPECT_EQ(absent.code(), 5);
  EXPECT_FALSE(absent.userInfo()->contains(NSLocalizedDescriptionKey));
}

TEST(ErrorModel, ServiceErrorsPickTheirTextsByCode) {
  const auto hiccup =
      zelvoServiceErrorWithErrorCode(502, std::string("M"), std::string("T"), std::string("kept"));
  EXPECT_EQ(hiccup.localizedDescription(), "Connection Error");
  EXPECT_EQ(hiccup.localizedFailureReason(),
            "Our servers are experiencing a mild case of the hiccups.");
  EXPECT_EQ(userString(hiccup, "dataObject"), "kept");
  EXPECT_EQ(detailedLocalizedDescription(hiccup), hiccup.localizedFailureReason());

  const auto offline = zelvoServiceErrorWithErrorCode(-1009, std::nullopt, std::nullopt,
                                                      boost::json::value{{"a", 1}});
  EXPECT_EQ(offline.localizedFailureReason(), "The Internet connection appears to be offline.");
  EXPECT_EQ(zelvoServiceErrorWithErrorCode(-1001, {}, {}, {}).localizedFailureReason(),
            "The connection has timed out.");

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

TEST(ErrorModel, HTTPErrorsAndStatusCodes) {
  const auto notFound = zelvoHTTPErrorWithHTTPStatusCode(404);
  EXPECT_TRUE(isHTTPError(notFound));
  EXPECT_EQ(HTTPStatusCode(notFound), 404);
  EXPECT_FALSE(notFound.userInfo().has_value());
  const Error other("elsewhere", 404);
  EXPECT_FALSE(isHTTPError(other));
  EXPECT_EQ(HTTPStatusCode(other), 404);
}

TEST(ErrorModel, CronetCausedCodesBecomePlatformCodes) {
  auto urlError = [](std::optional<Error> underlying) {
    ErrorUserInfo info;
    if (underlying) info.set(NSUnderlyingErrorKey, *underlying);
    return Error(NSURLErrorDomain, -1005, std::move(info));
  };
  EXPECT_EQ(zel_errorWithUpdatedCode(urlError(Error(ZELNetworkingCronetErrorDomain, -118))).code(),
            -1001);
  EXPECT_EQ(zel_errorWithUpdatedCode(urlError(Error(ZELNetworkingCronetErrorDomain, -106))).code(),
            -1009);
  const auto unchanged = urlError(Error(ZELNetworkingCronetErrorDomain, -105));
  const auto copy = zel_errorWithUpdatedCode(unchanged);
  EXPECT_EQ(copy.code(), -1005);
  EXPECT_FALSE(copy.isSameInstance(unchanged));  // a new error even without a change
  EXPECT_EQ(zel_errorWithUpdatedCode(urlError(Error("other", -118))).code(), -1005);
  const Error foreign("other", 1);
  EXPECT_TRUE(zel_errorWithUpdatedCode(foreign).isSameInstance(foreign));
}

TEST(ErrorModel, StackedGenericErrorsNeverNest) {
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
}

TEST(ErrorModel, DetailedDescriptionAndReasonRemoval) {
  EXPECT_EQ(detailedLocalizedDescription(
                zel_errorWithDescription(std::string("A"), std::string("B"), 1, {})),
            "A\nB");
  EXPECT_EQ(detailedLocalizedDescription(
                zel_errorWithDescription(std::string("A"), std::string("A"), 1, {})),
            "A");
  EXPECT_EQ(detailedLocalizedDescription(zel_errorWithDescription(std::string("A"), 1)), "A");
  EXPECT_EQ(detailedLocalizedDescription(
                zel_errorWithDescription(std::string("A"), std::string("B"), 502, {})),
            "B");
  EXPECT_FALSE(
      detailedLocalizedDescription(zel_errorWithDescription(std::string("A"), 502)).has_value());

  const auto withReason = zel_errorWithDescription(std::string("A"), std::string("B"), 1, {});
  const auto removed = zel_errorWithRemovedFailureReasonIfDistribution(withReason);
  EXPECT_FALSE(removed.localizedFailureReason().has_value());
  EXPECT_EQ(removed.localizedDescription(), "A");
  const auto without = zel_errorWithDescription(std::string("A"), 1);
  EXPECT_TRUE(zel_errorWithRemovedFailureReasonIfDistribution(without).isSameInstance(without));
}

TEST(ErrorModel, AuthenticationContextForCodeTwo) {
  const URLRequest request(*URL::URLWithString("https://api.test/a/b/?x=1"));
  const auto auth = zel_errorLocalizedAndContextAddedForRequest(
      zel_errorWithDescription(std::string("server says"), 2), request);
  EXPECT_EQ(auth.localizedDescription(), "Authentication failed.");
  EXPECT_EQ(userString(auth, "ZELNetworkingAuthenticationErrorKey"), "/a/b/");

  const auto three = zel_errorWithDescription(std::string("D"), 3);
  const auto copy = zel_errorLocalizedAndContextAddedForRequest(three, request);
  EXPECT_FALSE(copy.isSameInstance(three));
  EXPECT_EQ(copy, three);
}

TEST(ErrorModel, TextsComeFromTheApplicationsStringTables) {
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

}  // namespace
}  // namespace zel
