#include "zel/platform/ParameterDictionary.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

namespace zel {
namespace {

TEST(ParameterDictionaryTests, ValuesAreSentByTheirTextualDescription) {
  EXPECT_EQ(ParameterValue("a b").description(), "a b");
  EXPECT_EQ(ParameterValue(std::size_t{42}).description(), "42");
  EXPECT_EQ(ParameterValue(-7).description(), "-7");
  EXPECT_EQ(ParameterValue(INT64_MIN).description(), "-9223372036854775808");
  EXPECT_EQ(ParameterValue(1.5).description(), "1.5");
  EXPECT_EQ(ParameterValue(2.0).description(), "2");
  EXPECT_EQ(ParameterValue(0.1 + 0.2).description(), "0.3");
  EXPECT_EQ(ParameterValue(true).description(), "1");
  EXPECT_EQ(ParameterValue(nullptr).description(), "<null>");
  EXPECT_EQ(ParameterValue(Data::copy(std::string_view("ab"))).description(),
            "{length = 2, bytes = 0x6162}");
  EXPECT_EQ(ParameterValue::json(boost::json::parse(R"({"k":[1,"x"]})")).description(),
            R"({"k":[1,"x"]})");
}

enum PlainEnum { kPlain = 3 };

TEST(ParameterDictionaryTests, OnlyRealBooleansAndIntegersBecomeNumbers) {
  // A literal must not decay to a boolean; pointers, characters and plain enums are refused
  // at compile time rather than sent as "1".
  ParameterValue literal("yes");
  ASSERT_NE(literal.string(), nullptr);
  EXPECT_EQ(*literal.string(), "yes");
  static_assert(!std::is_constructible_v<ParameterValue, char>);
  static_assert(!std::is_constructible_v<ParameterValue, const char8_t*>);
  static_assert(!std::is_constructible_v<ParameterValue, const std::string*>);
  static_assert(!std::is_constructible_v<ParameterValue, PlainEnum>);
  EXPECT_EQ(ParameterValue(UINT64_MAX).description(), "18446744073709551615");
  EXPECT_EQ(ParameterValue(std::uint64_t{7}), ParameterValue(7));
}

TEST(ParameterDictionaryTests, KeepsInsertionOrderAndReplacesInPlace) {
  ParameterDictionary params{{"b", 1}, {"a", 2}, {"b", 3}};
  ASSERT_EQ(params.size(), 2u);
  params.set("c", "x");
  params.set("a", "y");
  std::vector<std::string> order;
  for (const auto& [name, value] : params) order.push_back(name + "=" + value.description());
  EXPECT_EQ(order, (std::vector<std::string>{"b=3", "a=y", "c=x"}));
  EXPECT_TRUE(params.erase("b"));
  EXPECT_FALSE(params.erase("b"));
  EXPECT_EQ(params.find("b"), nullptr);
  EXPECT_EQ(params.find("a")->description(), "y");
}

TEST(ParameterDictionaryTests, JsonValuesKeepTheirTypesAndBytesHaveNone) {
  EXPECT_EQ(ParameterValue(5).jsonValue(), boost::json::value(5));
  EXPECT_EQ(ParameterValue(false).jsonValue(), boost::json::value(false));
  EXPECT_EQ(ParameterValue(nullptr).jsonValue(), boost::json::value(nullptr));
  EXPECT_EQ(ParameterValue("t").jsonValue(), boost::json::value("t"));
  EXPECT_FALSE(ParameterValue(Data::copy(std::string_view("x"))).jsonValue().has_value());
}

}  // namespace
}  // namespace zel
