#include <gtest/gtest.h>

#include "zel/platform/Error.h"

namespace zel {
namespace {

TEST(Error, DescriptionFallsBackToThePlatformDefaultText) {
  const Error bare(NSURLErrorDomain, -1001);
  EXPECT_EQ(bare.localizedDescription(),
            "The operation couldn\u2019t be completed. (NSURLErrorDomain error -1001.)");
  EXPECT_FALSE(bare.localizedFailureReason().has_value());
  EXPECT_FALSE(bare.userInfo().has_value());

  const Error withReason("d", 1,
                         ErrorUserInfo{{NSLocalizedFailureReasonErrorKey, std::string("R")}});
  EXPECT_EQ(withReason.localizedDescription(), "The operation couldn\u2019t be completed. R");
  EXPECT_EQ(withReason.localizedFailureReason(), "R");

  const Error described("d", 1,
                        ErrorUserInfo{{NSLocalizedDescriptionKey, std::string("D")},
                                      {NSLocalizedFailureReasonErrorKey, std::string("R")}});
  EXPECT_EQ(described.localizedDescription(), "D");

  // A description of the wrong type is not used.
  const Error wrongType("d", 2, ErrorUserInfo{{NSLocalizedDescriptionKey, std::int64_t{5}}});
  EXPECT_EQ(wrongType.localizedDescription(),
            "The operation couldn\u2019t be completed. (d error 2.)");
}

TEST(Error, AbsentUserInformationDiffersFromEmpty) {
  const Error absent("d", 1);
  const Error empty("d", 1, ErrorUserInfo{});
  EXPECT_FALSE(absent.userInfo().has_value());
  ASSERT_TRUE(empty.userInfo().has_value());
  EXPECT_TRUE(empty.userInfo()->empty());
  EXPECT_FALSE(absent == empty);
}

TEST(Error, UnderlyingErrorsNestAndCopiesShareTheirRepresentation) {
  const Error inner("org.chromium.net.ErrorDomain", -118);
  const Error outer(NSURLErrorDomain, -1005, ErrorUserInfo{{NSUnderlyingErrorKey, inner}});
  ASSERT_TRUE(outer.underlyingError().has_value());
  EXPECT_TRUE(outer.underlyingError()->isSameInstance(inner));
  EXPECT_EQ(outer.underlyingError()->code(), -118);

  const Error copy = outer;
  EXPECT_TRUE(copy.isSameInstance(outer));
  const Error rebuilt(NSURLErrorDomain, -1005, ErrorUserInfo{{NSUnderlyingErrorKey, Error(inner)}});
  EXPECT_FALSE(rebuilt.isSameInstance(outer));
  EXPECT_EQ(rebuilt, outer);
  EXPECT_EQ(outer.description(),
            "Error Domain=NSURLErrorDomain Code=-1005 \"The operation couldn\u2019t be completed. "
            "(NSURLErrorDomain error -1005.)\"");
}

TEST(ErrorUserInfo, KeepsInsertionOrderAndReplacesInPlace) {
  ErrorUserInfo info;
  info.set("b", std::string("1"));
  info.set("a", std::int64_t{2});
  info.set("b", true);
  std::vector<std::string> keys;
  for (const auto& [key, value] : info) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(std::holds_alternative<bool>(*info.find("b")));
  EXPECT_FALSE(info.string("b").has_value());
  EXPECT_TRUE(info.erase("b"));
  EXPECT_FALSE(info.erase("b"));
  EXPECT_EQ(info.size(), 1u);
  info.set("json", boost::json::value{{"a", 1}});
  EXPECT_EQ(std::get<boost::json::value>(*info.find("json")).at("a").as_int64(), 1);
}

}  // namespace
}  // namespace zel
