#include <gtest/gtest.h>

#include <chrono>

#include "zel/url/NSDate+ZELNetworkingAdditions.h"
#include "zel/url/NSDictionary+ZELNetworkingAdditions.h"
#include "zel/url/NSMutableURLRequest+ZELNetworkingAdditions.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

TEST(QueryStringValue, EncodesNamesAndDescriptionsInOrder) {
  EXPECT_EQ(queryStringValue({{"q", "a b"}, {"n", 5}}), "q=a%20b&n=5");
  EXPECT_EQ(queryStringValue({}), "");
  EXPECT_EQ(queryStringValue({{"a&b=c", "x/y+z"}, {"t", true}, {"d", 0.5}, {"e", ""}}),
            "a%26b%3Dc=x%2Fy%2Bz&t=1&d=0.5&e=");
  // Bytes that are not UTF-8 are sent as they are, not dropped.
  EXPECT_EQ(queryStringValue({{"k", std::string("a\xFF")}}), "k=a%FF");
}

TEST(QueryStringValue, RoundTripsThroughQueryParsing) {
  const ParameterDictionary params{{"name", "\xC3\xA9t\xC3\xA9 & co"}, {"id", -42}, {"x=", "?"}};
  EXPECT_EQ(zel_parametersFromQueryString(queryStringValue(params)),
            (URLQueryParameters{{"name", "\xC3\xA9t\xC3\xA9 & co"}, {"id", "-42"}, {"x=", "?"}}));
}

TEST(RequestHeaders, SetEachFieldReplacingExistingOnes) {
  URLRequest request;
  request.setValue("old", "Authorization");
  request.setValue("keep", "Accept");
  const URLRequest before = request;
  zel_addHeadersFromDictionary(request, std::optional<HTTPHeaders>{});
  zel_addHeadersFromDictionary(request, HTTPHeaders{});
  EXPECT_EQ(request, before);

  zel_addHeadersFromDictionary(request, HTTPHeaders{{"authorization", "Bearer t"}, {"X-A", "1"}});
  EXPECT_EQ(request.valueForHTTPHeaderField("Authorization"), "Bearer t");
  EXPECT_EQ(request.valueForHTTPHeaderField("X-A"), "1");
  EXPECT_EQ(request.valueForHTTPHeaderField("Accept"), "keep");
  EXPECT_EQ(request.allHTTPHeaderFields().size(), 3u);
}

TEST(Timestamps, CountNanosecondsSince1970) {
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

}  // namespace
}  // namespace zel
