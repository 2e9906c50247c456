#include <gtest/gtest.h>

#include <string>

#include "support/AssertionCapture.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/foundation/ZELFoundationDevLogger.h"

namespace zel {
namespace {

TEST(ZELModuleName, FollowsTheMarkerRules) {
  struct Case {
    const char* path;
    const char* module;
  };
  const Case cases[] = {
      {"/src/Platform/ZELNetworking/Sources/Client.m", "ZELNetworking"},
      {"/src/Library/ZELNetworking/Tests/ClientTests.m", "ZELNetworkingTests"},
      {"/src/Feature/Profile/Settings/View.m", "ProfileSettings"},
      {"/src/FeatureLibrary/Kit/Sources/A.m", "Kit"},
      // A later match wins.
      {"/a/Platform/One/Sources/Library/Two/Sources/x.m", "Two"},
      // The marker too close to the end stops the scan and keeps what was found.
      {"/a/Platform/One/Sources/Feature/x.m", "One"},
      {"/a/Feature/x.m", "unknown"},
      {"/no/markers/here.cpp", "unknown"},
      {"", "unknown"},
      {"Platform", "unknown"},
      // Markers are whole components, matched exactly.
      {"/platform/One/Sources/x.m", "unknown"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZELModuleNameForFilePath(c.path), c.module) << c.path;
  }
  EXPECT_EQ(ZELFileIDForFilePath("/src/Platform/Net/Sources/Client.m"), "Net/Client.m");
  EXPECT_EQ(ZELFileIDForFilePath("/x/y.cpp"), "unknown/y.cpp");
}

TEST(ZELModuleName, ClassMethodsFallBackToTheBinaryName) {
  const std::string binary = ZELLibraryBinaryName();
  ASSERT_FALSE(binary.empty());
  EXPECT_NE(binary, "unknown");
  EXPECT_EQ(ZELFileIDForClassMethodAtPath("/x/y.cpp"), binary + "/y.cpp");
  // A module holding "." is replaced as well; a clean one is kept.
  EXPECT_EQ(ZELFileIDForClassMethodAtPath("/s/Feature/a.b/c/z.m"), binary + "/z.m");
  EXPECT_EQ(ZELFileIDForClassMethodAtPath("/s/Platform/Net/Sources/z.m"), "Net/z.m");
}

TEST(ZELAssertion, ReportsReachTheRemoteWithTheirFullArgumentList) {
  test::AssertionCapture capture;
  const int line = __LINE__ + 1;
  ZELAssertionFailure("Invalid parameter not satisfying: description", "+[NSError zel_test]");
  ZELCAssertionFailure("plain function report");

  const auto reports = capture.reports();
  ASSERT_EQ(reports.size(), 2u);
  const auto& method = reports[0];
  EXPECT_EQ(method.message, "Invalid parameter not satisfying: description");
  EXPECT_EQ(method.method, "+[NSError zel_test]");
  EXPECT_TRUE(method.skipLogOnProduction);
  EXPECT_EQ(method.additionalFramesToTrim, 1);
  EXPECT_EQ(method.line, static_cast<std::uint32_t>(line));
  EXPECT_EQ(method.filePath, __FILE__);
  EXPECT_EQ(method.fileID, ZELFileIDForClassMethodAtPath(__FILE__));

  const auto& function = reports[1];
  EXPECT_NE(function.method.find("TestBody"), std::string::npos);
  EXPECT_EQ(function.fileID, ZELFileIDForFilePath(__FILE__));
  EXPECT_EQ(capture.count("plain function report"), 1u);
}

TEST(ZELAssertion, NothingIsLoggedWhileAssertsLoggingIsOff) {
  test::AssertionCapture capture;
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(false);
  ZELCAssertionFailure("silent");
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(true);
  ZELCAssertionFailure("loud");
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"loud"});
}

}  // namespace
}  // namespace zel
