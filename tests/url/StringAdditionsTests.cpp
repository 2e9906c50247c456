#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {
namespace {

TEST(URLEncoding, AllowedSetIsExactlyTheUnreservedCharacters) {
  const URLCharacterSet& allowed = encodedURLAllowedCharacterSet();
  EXPECT_EQ(allowed.size(), 66u);
  for (const char c : std::string_view("AZaz09-._~")) EXPECT_TRUE(allowed.contains(c)) << c;
  EXPECT_EQ(zel_urlEncodedString("a b/c~d"), "a%20b%2Fc~d");
  EXPECT_EQ(zel_urlEncodedString("A-Z_0.9"), "A-Z_0.9");
  EXPECT_EQ(zel_urlEncodedString("1+1=2&x?#%*'\"\\"), "1%2B1%3D2%26x%3F%23%25%2A%27%22%5C");
  EXPECT_EQ(zel_urlEncodedString(std::string("\0\x7F", 2)), "%00%7F");
  EXPECT_EQ(zel_urlEncodedString("\xC3\xA9\xF0\x9F\x98\x80"), "%C3%A9%F0%9F%98%80");
}

TEST(URLEncoding, TextThatIsNotUTF8IsAbsent) {
  // Stray continuation, truncated, overlong, lone surrogate, above U+10FFFF.
  for (const char* bad : {"\x80", "ab\xC3", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                          "\xF4\x90\x80\x80", "\xFF"}) {
    EXPECT_EQ(zel_urlEncodedString(bad), std::nullopt) << testing::PrintToString(bad);
  }
  EXPECT_EQ(zel_urlEncodedString("\xED\x9F\xBF\xF4\x8F\xBF\xBF"), "%ED%9F%BF%F4%8F%BF%BF");
}

TEST(URLDecoding, RemovesEscapesOnceAndRefusesBrokenOnes) {
  EXPECT_EQ(zel_urlDecodedString("x%41%c3%a9"), "xA\xC3\xA9");
  EXPECT_EQ(zel_urlDecodedString("1+2%2541"), "1+2%41");
  for (const char* bad : {"%", "a%4", "%zz", "%%41", "%FF", "%ED%A0%80", "%C3"}) {
    EXPECT_EQ(zel_urlDecodedString(bad), std::nullopt) << bad;
  }
  for (const std::string& text : std::vector<std::string>{
           "a b/c?d=e&f", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80", std::string("nul\0in", 6)}) {
    EXPECT_EQ(zel_urlDecodedString(zel_urlEncodedString(text).value()), text);
  }
}

TEST(URLComponentValidity, NeedsOneUnreservedCharacter) {
  EXPECT_FALSE(zel_isValidURLComponent(""));
  EXPECT_FALSE(zel_isValidURLComponent("/?&= \xC3\xA9"));
  EXPECT_TRUE(zel_isValidURLComponent("/a"));
  EXPECT_TRUE(zel_isValidURLComponent("https://zelvo.com/x"));
}

TEST(QueryParsing, FindsTheQueryOfAURLText) {
  EXPECT_EQ(zel_parametersFromQueryString("https://h/p?a=1&b=2&a=3"),
            (URLQueryParameters{{"a", "3"}, {"b", "2"}}));
  EXPECT_EQ(zel_parametersFromQueryString("a=1?b=2"), (URLQueryParameters{{"a", "1?b=2"}}));
  EXPECT_EQ(zel_parametersFromQueryString("/p?a=1?b=2"), (URLQueryParameters{{"a", "1?b=2"}}));
  EXPECT_EQ(zel_parametersFromQueryString(""), std::nullopt);
  EXPECT_EQ(zel_parametersFromQueryString("?"), URLQueryParameters{});
}

TEST(QueryParsing, ItemsSplitAtTheirFirstEqualsSign) {
  EXPECT_EQ(zel_parametersFromQueryString("x&y&&"), URLQueryParameters{});
  EXPECT_EQ(zel_parametersFromQueryString("a=&=5&b==c=d&x=1+2"),
            (URLQueryParameters{{"", "5"}, {"a", ""}, {"b", "=c=d"}, {"x", "1+2"}}));
  EXPECT_EQ(zel_parametersFromQueryString("n%20m=v%26w"), (URLQueryParameters{{"n m", "v&w"}}));
}

TEST(QueryParsing, UndecodableItemsAreSkippedAndOnlyBadNamesReported) {
  test::AssertionCapture capture;
  EXPECT_EQ(zel_parametersFromQueryString("a=%zz&b=2"), (URLQueryParameters{{"b", "2"}}));
  EXPECT_EQ(capture.count(), 0u);
  // The report carries the query text, not the URL around it, and is made once per query.
  EXPECT_EQ(zel_parametersFromQueryString("/p?a=1&%FF=2&%zz=3&%=4"),
            (URLQueryParameters{{"a", "1"}}));
  EXPECT_EQ(
      capture.count("We tried to parse a query string with an invalid key: a=1&%FF=2&%zz=3&%=4"),
      1u);
  EXPECT_EQ(capture.count(), 1u);
  EXPECT_EQ(zel_parametersFromQueryString("%zz"), URLQueryParameters{});
  EXPECT_EQ(capture.count(), 2u);
}

TEST(PathJoining, AddsSlashesAndReportsInvalidSides) {
  test::AssertionCapture capture;
  EXPECT_EQ(stringByAppendingURLPathComponent("api", "users"), "api/users/");
  EXPECT_EQ(stringByAppendingURLPathComponent("api/", "users"), "api/users/");
  EXPECT_EQ(stringByAppendingURLPathComponent("a b", "/c"), "a b//c/");
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(stringByAppendingURLPathComponent("/", ""), "//");
  EXPECT_EQ(capture.count("self must be valid URL component, '/'"), 1u);
  EXPECT_EQ(capture.count("other must be valid URL component, ''"), 1u);
}

TEST(URLStringCompletion, AddsSchemeAndDomainSuffix) {
  EXPECT_EQ(validatedURLString("example"), "http://example.com");
  EXPECT_EQ(validatedURLString("example.org"), "http://example.org");
  EXPECT_EQ(validatedURLString("https://example.org"), "https://example.org");
  EXPECT_EQ(validatedURLString("https://example"), "https://example.com");
  EXPECT_EQ(validatedURLString("mailto:someone"), "mailto:someone");
  EXPECT_EQ(validatedURLString(""), std::nullopt);
}

TEST(URLStringCompletion, SuffixGoesOnTheHostAndAPortIsNoScheme) {
  EXPECT_EQ(validatedURLString("example/a"), "http://example.com/a");
  // Any "." in the text, even outside the host, means nothing is added.
  EXPECT_EQ(validatedURLString("example/a.b"), "http://example/a.b");
  EXPECT_EQ(validatedURLString("https://example/a.b"), "https://example/a.b");
  EXPECT_EQ(validatedURLString("localhost:8080"), "http://localhost.com:8080");
  EXPECT_EQ(validatedURLString("example.org:8080/x"), "http://example.org:8080/x");
  EXPECT_EQ(validatedURLString("https://u@example:444/p"), "https://u@example.com:444/p");
  EXPECT_EQ(validatedURLString("http://[::1]:80/"), "http://[::1]:80/");
  EXPECT_EQ(validatedURLString("https://my site"), "https://my site.com");  // not prefixed twice
}

}  // namespace
}  // namespace zel
