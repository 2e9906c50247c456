#include <gtest/gtest.h>

#include "zel/platform/Data.h"
#include "zel/platform/HTTPHeaders.h"

namespace zel {
namespace {

TEST(Data, CopiesShareBytesAndSlicesStayInBounds) {
  const Data body = Data::copy("hello world");
  const Data copy = body;
  EXPECT_EQ(copy.data(), body.data());
  EXPECT_EQ(body.subdata(6, 5).stringView(), "world");
  EXPECT_EQ(body.subdata(6, 500).stringView(), "world");
  EXPECT_TRUE(body.subdata(11, 1).empty());
  EXPECT_TRUE(body.subdata(500, 1).empty());
  EXPECT_EQ(Data(), Data::copy(""));
  EXPECT_FALSE(body == Data::copy("hello"));
}

TEST(HTTPHeaders, NamesMatchCaseInsensitivelyAndKeepTheirFirstSpelling) {
  HTTPHeaders headers;
  headers.set("Content-Type", std::string("text/plain"));
  headers.set("content-type", std::string("application/json"));
  headers.add("Accept", "a/b");
  headers.add("ACCEPT", "c/d");
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers.begin()->first, "Content-Type");
  EXPECT_EQ(headers.value("CONTENT-TYPE"), "application/json");
  EXPECT_EQ(headers.value("accept"), "a/b, c/d");
  headers.set("Content-type", std::nullopt);
  EXPECT_FALSE(headers.contains("Content-Type"));
  EXPECT_FALSE(headerNameEquals("Accept", "Accept-"));
  EXPECT_EQ(headers, (HTTPHeaders{{"accept", "a/b, c/d"}}));
}

}  // namespace
}  // namespace zel
