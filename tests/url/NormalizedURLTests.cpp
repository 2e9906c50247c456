#include <gtest/gtest.h>

#include "support/AssertionCapture.h"
#include "zel/url/ZELNormalizedURL.h"

namespace zel {
namespace {

ZELNormalizedURL normalized(const char* text) {
  return ZELNormalizedURL(URL::URLWithString(text).value());
}

TEST(NormalizedURL, SplitsIntoHostTrimmedPathAndParameters) {
  test::AssertionCapture capture;
  const auto u = normalized("https://api.zelvo.com/api/users/me/?b=2&a=1#top");
  EXPECT_EQ(u.host(), "api.zelvo.com");
  EXPECT_EQ(u.path(), "api/users/me");
  EXPECT_EQ(u.parameters(), (URLQueryParameters{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(u.absoluteString(), "https://api.zelvo.com/api/users/me/?b=2&a=1#top");
  EXPECT_EQ(capture.count(), 0u);
}

TEST(NormalizedURL, PathLosesOuterSlashesAndIsEncodedAgain) {
  for (const char* text : {"http://h/a", "http://h/a/", "http://h//a//"}) {
    EXPECT_EQ(normalized(text).path(), "a") << text;
  }
  EXPECT_EQ(normalized("http://h/a//b/").path(), "a//b");
  EXPECT_EQ(normalized("http://h/").path(), "");
  EXPECT_EQ(normalized("http://h").path(), "");
  EXPECT_EQ(normalized("http://h/a%20b").path(), "a%20b");
  EXPECT_EQ(normalized("http://h/a%2Fb/").path(), "a/b");
  EXPECT_EQ(normalized("http://h/%7Eme;v=1/%C3%A9%3F%23%25").path(), "~me%3Bv=1/%C3%A9%3F%23%25");
}

TEST(NormalizedURL, ParametersAbsentWithoutQuery) {
  EXPECT_EQ(normalized("http://h/p").parameters(), std::nullopt);
  EXPECT_EQ(normalized("http://h/p?").parameters(), std::nullopt);
  EXPECT_EQ(normalized("http://h/p?x").parameters(), URLQueryParameters{});
}

TEST(NormalizedURL, SameResourceInAnyQueryOrderHasEqualParts) {
  const auto a = normalized("http://h/p/?x=1&y=2");
  const auto b = normalized("http://h/p?y=2&x=1");
  EXPECT_EQ(a.path(), b.path());
  EXPECT_EQ(a.parameters(), b.parameters());
  EXPECT_NE(a, b);  // the complete texts differ
}

TEST(NormalizedURL, URLWithoutHostIsReportedAndStillFilled) {
  test::AssertionCapture capture;
  const auto u = normalized("/relative/path/?a=1");
  EXPECT_EQ(capture.count("All URLs must have a valid host: /relative/path/?a=1"), 1u);
  EXPECT_EQ(capture.count(), 1u);
  EXPECT_EQ(u.host(), std::nullopt);
  EXPECT_EQ(u.path(), "relative/path");
  EXPECT_EQ(u.parameters(), (URLQueryParameters{{"a", "1"}}));
}

}  // namespace
}  // namespace zel
