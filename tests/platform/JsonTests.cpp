#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "zel/platform/Json.h"

namespace zel {
namespace {

void expectReaderError(std::string_view text, JSONReadingOptions options = {}) {
  auto result = jsonObjectWithData(text, options);
  ASSERT_FALSE(result.ok()) << text;
  EXPECT_EQ(result.error().domain(), "NSCocoaErrorDomain");
  EXPECT_EQ(result.error().code(), 3840);
  EXPECT_TRUE(result.error().userInfo()->string(NSDebugDescriptionErrorKey).has_value());
}

TEST(Json, ReadsObjectsKeepingNullDistinctFromMissing) {
  auto result = jsonObjectWithData(R"({"status":"success","data":null,"code":0})");
  ASSERT_TRUE(result.ok());
  const auto& object = result.value().as_object();
  ASSERT_NE(object.if_contains("data"), nullptr);
  EXPECT_TRUE(object.at("data").is_null());
  EXPECT_EQ(object.if_contains("message"), nullptr);
}

TEST(Json, RefusesMalformedTextWithAReaderError) {
  for (const char* text : {"", "   ", "{", "{\"a\":}", "[1,]", "{\"a\":1} x", "nul", "{'a':1}",
                           "[1] [2]", "/* c */ {}", "\"unterminated"}) {
    expectReaderError(text);
  }
  // Invalid UTF-8 in a string and a lone continuation byte.
  expectReaderError("[\"\xC3\x28\"]");
  expectReaderError("[\"\x80\"]");
}

TEST(Json, FragmentsNeedTheOption) {
  expectReaderError("42");
  expectReaderError("\"text\"");
  auto fragment = jsonObjectWithData("42", {.allowFragments = true});
  ASSERT_TRUE(fragment.ok());
  EXPECT_EQ(fragment.value().as_int64(), 42);
}

TEST(Json, DeepNestingIsAcceptedUpToTheLimitAndRefusedBeyond) {
  const auto nested = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  EXPECT_TRUE(jsonObjectWithData(nested(kJSONMaxDepth)).ok());
  EXPECT_TRUE(jsonObjectWithData(nested(300)).ok());
  expectReaderError(nested(kJSONMaxDepth + 1));
  expectReaderError(nested(100000));  // must not overflow the stack
}

TEST(Json, NumbersReadAsThePlatformReaderYieldsThem) {
  auto read = [](const char* text) { return jsonObjectWithData(text).value().as_array().at(0); };
  EXPECT_EQ(jsonInt64(read("[true]")), 1);
  EXPECT_EQ(jsonInt64(read("[false]")), 0);
  EXPECT_EQ(jsonInt64(read("[12.9]")), 12);
  EXPECT_EQ(jsonInt64(read("[-12.9]")), -12);
  EXPECT_EQ(jsonInt64(read("[9223372036854775807]")), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(jsonInt64(read("[18446744073709551615]")), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(jsonInt64(read("[1e300]")), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(jsonInt64(read("[-1e300]")), std::numeric_limits<std::int64_t>::min());
  EXPECT_FALSE(jsonInt64(read("[\"7\"]")).has_value());
  EXPECT_FALSE(jsonInt64(read("[null]")).has_value());
  EXPECT_EQ(jsonDouble(read("[true]")), 1.0);
  EXPECT_TRUE(jsonIsNumber(read("[false]")));
  EXPECT_FALSE(jsonIsNumber(read("[\"1\"]")));
}

TEST(Json, WritesCompactTextThatReadsBack) {
  boost::json::value value = {{"a", 1}, {"b", {true, nullptr, "x\"y"}}};
  const auto text = jsonString(value);
  EXPECT_EQ(text, R"({"a":1,"b":[true,null,"x\"y"]})");
  EXPECT_EQ(jsonObjectWithData(jsonData(value)).value(), value);
}

TEST(Json, WritesNumbersAndControlCharactersPlainly) {
  // Doubles in their shortest form (not "1.5E0"), big unsigned values exactly, no NaN.
  boost::json::value numbers = {
      1.5, 2.0, 0.1, -0.0, 1e21, UINT64_MAX, INT64_MIN, std::numeric_limits<double>::quiet_NaN()};
  EXPECT_EQ(jsonString(numbers),
            "[1.5,2,0.1,-0,1e+21,18446744073709551615,-9223372036854775808,null]");
  const boost::json::value text(std::string_view("a\n\x01\\/\xC3\xA9", 7));
  EXPECT_EQ(jsonString(text), "\"a\\n\\u0001\\\\/\xC3\xA9\"");
  EXPECT_EQ(jsonObjectWithData("[" + jsonString(text) + "]").value().at(0), text);
}

}  // namespace
}  // namespace zel
