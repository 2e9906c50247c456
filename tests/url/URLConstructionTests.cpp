#include <gtest/gtest.h>

#include <string>

#include "support/AssertionCapture.h"
#include "zel/url/NSURL+ZELNetworkingAdditions.h"

namespace zel {
namespace {

URL url(const char* text) {
  return URL::URLWithString(text).value();
}

std::optional<std::string> text(const std::optional<URL>& u) {
  if (!u) return std::nullopt;
  return u->absoluteString();
}

TEST(URLDomain, DropsOneExactLeadingWww) {
  EXPECT_EQ(domain(url("https://www.www.zelvo.com:8443/a")), "www.zelvo.com");
  EXPECT_EQ(domain(url("https://WWW.zelvo.com")), "WWW.zelvo.com");
  EXPECT_EQ(domain(url("https://www2.zelvo.com")), "www2.zelvo.com");
  EXPECT_EQ(domain(url("/relative/path")), std::nullopt);
}

TEST(URLFromParts, CompletesThePathAndRefusesMissingParts) {
  EXPECT_EQ(text(URLWithScheme("https", "h", "a/b", "x=1")), "https://h/a/b/?x=1");
  EXPECT_EQ(text(URLWithScheme("https", "h")), "https://h/");
  EXPECT_EQ(text(URLWithScheme("https", "h", "/a/")), "https://h/a/");
  EXPECT_EQ(URLWithScheme("https", ""), std::nullopt);
  EXPECT_EQ(URLWithScheme("", "h"), std::nullopt);
  // ASCII text is parsed as built: a space is refused, not encoded.
  EXPECT_EQ(URLWithScheme("https", "h", "a b"), std::nullopt);
}

TEST(URLFromParts, NonASCIITextIsEncodedAsAWholeKeepingWrittenEscapes) {
  EXPECT_EQ(text(URLWithScheme("https", "h\xC3\xA9", "a b", "q=\xC3\xA9&r=[1]")),
            "https://h%C3%A9/a%20b/?q=%C3%A9&r=%5B1%5D");
  EXPECT_EQ(text(URLWithScheme("https", "h", "\xC3\xA9", "q=a%26b")), "https://h/%C3%A9/?q=a%26b");
  // A "%" that starts no escape is a literal one.
  EXPECT_EQ(text(URLWithScheme("https", "h", "50%\xC3\xA9", "q=%4")),
            "https://h/50%25%C3%A9/?q=%254");
}

TEST(SystemURLs, PhoneNumberAndEmail) {
  EXPECT_EQ(text(systemURLForPhoneNumber("+1 555 0100")), "tel://%2B1%20555%200100/");
  EXPECT_EQ(systemURLForPhoneNumber(""), std::nullopt);
  EXPECT_EQ(systemURLForPhoneNumber("\xFF"), std::nullopt);
  EXPECT_EQ(text(systemURLForEmail("someone@zelvo.com")), "mailto:someone@zelvo.com");
  EXPECT_EQ(systemURLForEmail(""), std::nullopt);
  EXPECT_EQ(systemURLForEmail("some one@zelvo.com"), std::nullopt);
}

TEST(ReferrerURL, TakesTheSourceSchemeAndDropsTheRest) {
  test::AssertionCapture capture;
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
  EXPECT_EQ(capture.count(), 0u);
}

TEST(ReferrerURL, OtherSourceSchemesAreReportedAndUseHttp) {
  test::AssertionCapture capture;
  EXPECT_EQ(text(adjustReferrerURLScheme(url("https://h/p?q=1"), url("ftp://s/"))), "http://h/p");
  EXPECT_EQ(text(adjustReferrerURLScheme(url("https://h/p"), url("HTTPS://s/"))), "http://h/p");
  EXPECT_EQ(capture.count("Invalid scheme for source URL = ftp"), 1u);
  EXPECT_EQ(capture.count("Invalid scheme for source URL = HTTPS"), 1u);
}

TEST(ReferrerURL, MissingSchemeOrHostGivesAbsent) {
  test::AssertionCapture capture;
  EXPECT_EQ(adjustReferrerURLScheme(url("http://h/p"), url("/no/scheme")), std::nullopt);
  EXPECT_EQ(adjustReferrerURLScheme(url("//h/p"), url("https://s")), std::nullopt);
  EXPECT_EQ(adjustReferrerURLScheme(url("mailto:a@b"), url("https://s")), std::nullopt);
  EXPECT_EQ(capture.count(), 0u);
}

}  // namespace
}  // namespace zel
