// URL additions: percent-encoding, query strings, path joining, URL text completion, request
// headers from a dictionary, timestamps; URLs built from parts, derived from others (domain,
// referrer, system URLs) and normalized.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/url/NSDate+ZELNetworkingAdditions.h"
#include "zel/url/NSDictionary+ZELNetworkingAdditions.h"
#include "zel/url/NSMutableURLRequest+ZELNetworkingAdditions.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"
#include "zel/url/NSURL+ZELNetworkingAdditions.h"
#include "zel/url/ZELNormalizedURL.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

URL url(const char* text) {
  return URL::URLWithString(text).value();
}

std::optional<std::string> text(const std::optional<URL>& u) {
  if (!u) return std::nullopt;
  return u->absoluteString();
}

class URLAdditions : public ::testing::Test {
 protected:
  test::AssertionCapture capture;
};

TEST_F(URLAdditions, PercentEncodingKeepsOnlyUnreservedCharactersOfUTF8Text) {
  const URLCharacterSet& allowed = encodedURLAllowedCharacterSet();
  EXPECT_EQ(allowed.size(), 66u);
  for (const char c : std::string_view("AZaz09-._~")) EXPECT_TRUE(allowed.contains(c)) << c;
  EXPECT_EQ(zel_urlEncodedString("a b/c~d"), "a%20b%2Fc~d");
  EXPECT_EQ(zel_urlEncodedString("1+1=2&x?#%*'\"\\"), "1%2B1%3D2%26x%3F%23%25%2A%27%22%5C");
  EXPECT_EQ(zel_urlEncodedString(std::string("\0\x7F", 2)), "%00%7F");
  // Stray continuation, truncated, overlong, lone surrogate, above U+10FFFF.
  for (const char* bad : {"\x80", "ab\xC3", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                          "\xF4\x90\x80\x80", "\xFF"}) {
    EXPECT_EQ(zel_urlEncodedString(bad), std::nullopt) << testing::PrintToString(bad);
  }
  EXPECT_EQ(zel_urlEncodedString("\xED\x9F\xBF\xF4\x8F\xBF\xBF"), "%ED%9F%BF%F4%8F%BF%BF");
  // Decoding removes escapes once and refuses broken ones.
  EXPECT_EQ(zel_urlDecodedString("x%41%c3%a9"), "xA\xC3\xA9");
  EXPECT_EQ(zel_urlDecodedString("1+2%2541"), "1+2%41");
  for (const char* bad : {"%", "a%4", "%zz", "%%41", "%FF", "%ED%A0%80", "%C3"}) {
    EXPECT_EQ(zel_urlDecodedString(bad), std::nullopt) << bad;
  }
  for (const std::string& text : std::vector<std::string>{
           "a b/c?d=e&f", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80", std::string("nul\0in", 6)}) {
    EXPECT_EQ(zel_urlDecodedString(zel_urlEncodedString(text).value()), text);
  }
  // A valid component needs one unreserved character.
  EXPECT_FALSE(zel_isValidURLComponent(""));
  EXPECT_FALSE(zel_isValidURLComponent("/?&= \xC3\xA9"));
  EXPECT_TRUE(zel_isValidURLComponent("/a"));
}

// The query of a URL text; items split at their first "="; undecodable items are skipped and
// only bad names reported.
TEST_F(URLAdditions, QueryParsingAndQueryStringsEncodingNamesAndDescriptionsInOrder) {
  EXPECT_EQ(zel_parametersFromQueryString("https://h/p?a=1&b=2&a=3"),
            (URLQueryParameters{{"a", "3"}, {"b", "2"}}));
  EXPECT_EQ(zel_parametersFromQueryString("a=1?b=2"), (URLQueryParameters{{"a", "1?b=2"}}));
  EXPECT_EQ(zel_parametersFromQueryString("/p?a=1?b=2"), (URLQueryParameters{{"a", "1?b=2"}}));
  EXPECT_EQ(zel_parametersFromQueryString(""), std::nullopt);
  EXPECT_EQ(zel_parametersFromQueryString("?"), URLQueryParameters{});
  EXPECT_EQ(zel_parametersFromQueryString("x&y&&"), URLQueryParameters{});
  EXPECT_EQ(zel_parametersFromQueryString("a=&=5&b==c=d&x=1+2"),
            (URLQueryParameters{{"", "5"}, {"a", ""}, {"b", "=c=d"}, {"x", "1+2"}}));
  EXPECT_EQ(zel_parametersFromQueryString("n%20m=v%26w"), (URLQueryParameters{{"n m", "v&w"}}));
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

  // Query strings encode names and descriptions in order.
  EXPECT_EQ(queryStringValue({{"q", "a b"}, {"n", 5}}), "q=a%20b&n=5");
  EXPECT_EQ(queryStringValue({}), "");
  EXPECT_EQ(queryStringValue({{"a&b=c", "x/y+z"}, {"t", true}, {"d", 0.5}, {"e", ""}}),
            "a%26b%3Dc=x%2Fy%2Bz&t=1&d=0.5&e=");
  // Bytes that are not UTF-8 are sent as they are, not dropped.
  EXPECT_EQ(queryStringValue({{"k", std::string("a\xFF")}}), "k=a%FF");
  // It reads back through query parsing.
  const ParameterDictionary params{{"name", "\xC3\xA9t\xC3\xA9 & co"}, {"id", -42}, {"x=", "?"}};
  EXPECT_EQ(zel_parametersFromQueryString(queryStringValue(params)),
            (URLQueryParameters{{"name", "\xC3\xA9t\xC3\xA9 & co"}, {"id", "-42"}, {"x=", "?"}}));
}

TEST_F(URLAdditions, PathJoiningAndURLTextCompletion) {
  EXPECT_EQ(stringByAppendingURLPathComponent("api", "users"), "api/users/");
  EXPECT_EQ(stringByAppendingURLPathComponent("api/", "users"), "api/users/");
  EXPECT_EQ(stringByAppendingURLPathComponent("a b", "/c"), "a b//c/");
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(stringByAppendingURLPathComponent("/", ""), "//");
  EXPECT_EQ(capture.count("self must be valid URL component, '/'"), 1u);
  EXPECT_EQ(capture.count("other must be valid URL component, ''"), 1u);

  // URL text completion adds a scheme and a domain suffix to the host.
  EXPECT_EQ(validatedURLString("example"), "http://example.com");
  EXPECT_EQ(validatedURLString("example.org"), "http://example.org");
  EXPECT_EQ(validatedURLString("https://example"), "https://example.com");
  EXPECT_EQ(validatedURLString("mailto:someone"), "mailto:someone");
  EXPECT_EQ(validatedURLString(""), std::nullopt);
  EXPECT_EQ(validatedURLString("example/a"), "http://example.com/a");
  // Any "." in the text, even outside the host, means nothing is added.
  EXPECT_EQ(validatedURLString("example/a.b"), "http://example/a.b");
  EXPECT_EQ(validatedURLString("localhost:8080"), "http://localhost.com:8080");
  EXPECT_EQ(validatedURLString("https://u@example:444/p"), "https://u@example.com:444/p");
  EXPECT_EQ(validatedURLString("http://[::1]:80/"), "http://[::1]:80/");
  EXPECT_EQ(validatedURLString("https://my site"), "https://my site.com");  // not prefixed twice
}

TEST_F(URLAdditions, RequestHeadersSetEachFieldReplacingExistingOnes) {
  URLRequest request;
  request.setValue("old", "Authorization");
  request.setValue("keep", "Accept");
  const URLRequest before = request;
  zel_addHeadersFromDictionary(request, std::optional<HTTPHeaders>{});
  zel_addHeadersFromDictionary(request, HTTPHeaders{});
  EXPECT_EQ(request, before);

  zel_addHeadersFromDictionary(request, HTTPHeaders{{"authorization", "Bearer t"}, {"X-A", "1"}});
  EXPECT_EQ(request.allHTTPHeaderFields(),
            (HTTPHeaders{{"Authorization", "Bearer t"}, {"Accept", "keep"}, {"X-A", "1"}}));
}

TEST_F(URLAdditions, TimestampsCountNanosecondsSince1970) {
  EXPECT_EQ(zel_timestamp(system_clock::time_point{1s}), 1'000'000'000);
  EXPECT_EQ(zel_timestamp(system_clock::time_point{-1s}), -1'000'000'000);
  // Present-day dates go through a double, as on the platform: the value is the double
  // product, truncated, not the exact count.
  const system_clock::time_point date{
      std::chrono::duration_cast<system_clock::duration>(1'700'000'000'123'456'789ns)};
  const double seconds = std::chrono::duration<double>(date.time_since_epoch()).count();
  EXPECT_EQ(zel_timestamp(date), static_cast<std::int64_t>(seconds * 1e9));
  EXPECT_NEAR(static_cast<double>(zel_timestamp(date)), 1'700'000'000'123'456'789.0, 512.0);
  // Far dates saturate instead of overflowing.
  EXPECT_EQ(zel_timestamp(system_clock::time_point::max()), INT64_MAX);

  const auto before = zel_timestamp(system_clock::now());
  const auto now = zel_currentTimestamp();
  EXPECT_LE(before, now);
  EXPECT_LE(now, zel_timestamp(system_clock::now()));
}

// The path is completed with slashes and missing parts are refused. ASCII text is parsed as
// built; non-ASCII text is encoded as a whole, keeping written escapes.
TEST_F(URLAdditions, URLsFromPartsSystemURLsDomainAndReferrer) {
  EXPECT_EQ(text(URLWithScheme("https", "h", "a/b", "x=1")), "https://h/a/b/?x=1");
  EXPECT_EQ(text(URLWithScheme("https", "h")), "https://h/");
  EXPECT_EQ(text(URLWithScheme("https", "h", "/a/")), "https://h/a/");
  EXPECT_EQ(URLWithScheme("https", ""), std::nullopt);
  EXPECT_EQ(URLWithScheme("", "h"), std::nullopt);
  EXPECT_EQ(URLWithScheme("https", "h", "a b"), std::nullopt);  // refused, not encoded
  EXPECT_EQ(text(URLWithScheme("https", "h\xC3\xA9", "a b", "q=\xC3\xA9&r=[1]")),
            "https://h%C3%A9/a%20b/?q=%C3%A9&r=%5B1%5D");
  EXPECT_EQ(text(URLWithScheme("https", "h", "\xC3\xA9", "q=a%26b")), "https://h/%C3%A9/?q=a%26b");
  // A "%" that starts no escape is a literal one.
  EXPECT_EQ(text(URLWithScheme("https", "h", "50%\xC3\xA9", "q=%4")),
            "https://h/50%25%C3%A9/?q=%254");

  EXPECT_EQ(text(systemURLForPhoneNumber("+1 555 0100")), "tel://%2B1%20555%200100/");
  EXPECT_EQ(systemURLForPhoneNumber(""), std::nullopt);
  EXPECT_EQ(systemURLForPhoneNumber("\xFF"), std::nullopt);
  EXPECT_EQ(text(systemURLForEmail("someone@zelvo.com")), "mailto:someone@zelvo.com");
  EXPECT_EQ(systemURLForEmail(""), std::nullopt);
  EXPECT_EQ(systemURLForEmail("some one@zelvo.com"), std::nullopt);

  // The domain drops one exact leading "www.". The referrer takes the source's scheme and drops the
  // rest; other source schemes are reported and use http; a missing scheme or host gives nothing.
  EXPECT_EQ(domain(url("https://www.www.zelvo.com:8443/a")), "www.zelvo.com");
  EXPECT_EQ(domain(url("https://WWW.zelvo.com")), "WWW.zelvo.com");
  EXPECT_EQ(domain(url("https://www2.zelvo.com")), "www2.zelvo.com");
  EXPECT_EQ(domain(url("/relative/path")), std::nullopt);

  const URL referrer = url("http://user@h:8080/p?q=1#f");
  EXPECT_EQ(text(adjustReferrerURLScheme(referrer, url("https://page/x"))), "https://h/p");
  EXPECT_EQ(text(adjustReferrerURLScheme(referrer, url("http://page/x"))), "http://h/p");
  EXPECT_EQ(text(adjustReferrerURLScheme(url(kZelvoReferrerURL), url("https://zelvo.com/a"))),
            "https://www.zelvo.com");
  // The decoded path is encoded again; an IPv6 host gets its brackets back.
  EXPECT_EQ(text(adjustReferrerURLScheme(url("http://h/a%20b/c%3F/"), url("https://s"))),
            "https://h/a%20b/c%3F");
  EXPECT_EQ(text(adjustReferrerURLScheme(url("http://[::1]:80/p"), url("https://s"))),
            "https://[::1]/p");
  EXPECT_EQ(adjustReferrerURLScheme(url("http://h/p"), url("/no/scheme")), std::nullopt);
  EXPECT_EQ(adjustReferrerURLScheme(url("//h/p"), url("https://s")), std::nullopt);
  EXPECT_EQ(adjustReferrerURLScheme(url("mailto:a@b"), url("https://s")), std::nullopt);
  EXPECT_EQ(capture.count(), 0u);

  EXPECT_EQ(text(adjustReferrerURLScheme(url("https://h/p?q=1"), url("ftp://s/"))), "http://h/p");
  EXPECT_EQ(text(adjustReferrerURLScheme(url("https://h/p"), url("HTTPS://s/"))), "http://h/p");
  EXPECT_EQ(capture.count("Invalid scheme for source URL = ftp"), 1u);
  EXPECT_EQ(capture.count("Invalid scheme for source URL = HTTPS"), 1u);
}

ZELNormalizedURL normalized(const char* text) {
  return ZELNormalizedURL(url(text));
}

TEST_F(URLAdditions, NormalizedURLSplitsIntoHostTrimmedReencodedPathAndParameters) {
  const auto u = normalized("https://api.zelvo.com/api/users/me/?b=2&a=1#top");
  EXPECT_EQ(u.host(), "api.zelvo.com");
  EXPECT_EQ(u.path(), "api/users/me");
  EXPECT_EQ(u.parameters(), (URLQueryParameters{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(u.absoluteString(), "https://api.zelvo.com/api/users/me/?b=2&a=1#top");
  // The same resource in another query order has equal parts but another text.
  const auto reordered = normalized("https://api.zelvo.com/api/users/me?a=1&b=2");
  EXPECT_EQ(reordered.path(), u.path());
  EXPECT_EQ(reordered.parameters(), u.parameters());
  EXPECT_NE(reordered, u);
  // Parameters are absent without a query.
  EXPECT_EQ(normalized("http://h/p").parameters(), std::nullopt);
  EXPECT_EQ(normalized("http://h/p?").parameters(), std::nullopt);
  EXPECT_EQ(normalized("http://h/p?x").parameters(), URLQueryParameters{});
  EXPECT_EQ(capture.count(), 0u);
  // Without a host it is reported and still filled.
  const auto hostless = normalized("/relative/path/?a=1");
  EXPECT_EQ(capture.messages(),
            std::vector<std::string>{"All URLs must have a valid host: /relative/path/?a=1"});
  EXPECT_EQ(hostless.host(), std::nullopt);
  EXPECT_EQ(hostless.path(), "relative/path");
  EXPECT_EQ(hostless.parameters(), (URLQueryParameters{{"a", "1"}}));

  // The path loses its outer slashes and is encoded again.
  for (const char* text : {"http://h/a", "http://h/a/", "http://h//a//"}) {
    EXPECT_EQ(normalized(text).path(), "a") << text;
  }
  EXPECT_EQ(normalized("http://h/a//b/").path(), "a//b");
  EXPECT_EQ(normalized("http://h").path(), "");
  EXPECT_EQ(normalized("http://h/a%20b").path(), "a%20b");
  EXPECT_EQ(normalized("http://h/a%2Fb/").path(), "a/b");
  EXPECT_EQ(normalized("http://h/%7Eme;v=1/%C3%A9%3F%23%25").path(), "~me%3Bv=1/%C3%A9%3F%23%25");
}

}  // namespace
}  // namespace zel
