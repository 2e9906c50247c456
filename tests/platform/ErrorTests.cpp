// Platform values: errors, data, header fields, the class registry, JSON reading and writing,
// and the parameter values sent in requests.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include <boost/json/parse.hpp>

#include "zel/platform/ClassLookup.h"
#include "zel/platform/Data.h"
#include "zel/platform/Error.h"
#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/Json.h"
#include "zel/platform/ParameterDictionary.h"

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

  // Absent user information differs from an empty one.
  const Error empty("d", 1, ErrorUserInfo{});
  ASSERT_TRUE(empty.userInfo().has_value());
  EXPECT_TRUE(empty.userInfo()->empty());
  EXPECT_FALSE(Error("d", 1) == empty);
}

TEST(Error, UnderlyingErrorsNestAndCopiesShareTheirRepresentation) {
  const Error inner("org.chromium.net.ErrorDomain", -118);
  const Error outer(NSURLErrorDomain, -1005, ErrorUserInfo{{NSUnderlyingErrorKey, inner}});
  EXPECT_TRUE(outer.underlyingError().value().isSameInstance(inner));
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

struct LookupBase {
  virtual ~LookupBase() = default;
};
struct LookupDerived : LookupBase {};
struct LookupOther {};

TEST(ClassLookup, FindsRegisteredTypesByNameAndMatchesTheDynamicType) {
  EXPECT_FALSE(classFromString("ClassLookupTest.Unregistered"));
  registerClass("ClassLookupTest.Base", typeid(LookupBase));
  registerClass("ClassLookupTest.Derived", typeid(LookupDerived));
  EXPECT_EQ(classFromString("ClassLookupTest.Derived"), std::type_index(typeid(LookupDerived)));
  registerClass("ClassLookupTest.Replaced", typeid(LookupBase));
  registerClass("ClassLookupTest.Replaced", typeid(LookupOther));
  EXPECT_EQ(classFromString("ClassLookupTest.Replaced"), std::type_index(typeid(LookupOther)));

  const std::unique_ptr<LookupBase> object = std::make_unique<LookupDerived>();
  EXPECT_TRUE(isKindOfClassNamed(*object, "ClassLookupTest.Derived"));
  EXPECT_FALSE(isKindOfClassNamed(*object, "ClassLookupTest.Base"));
  EXPECT_TRUE(isKindOfClassNamed(LookupBase{}, "ClassLookupTest.Base"));
  EXPECT_FALSE(isKindOfClassNamed(LookupOther{}, "ClassLookupTest.Nothing"));
}

void expectReaderError(std::string_view text, JSONReadingOptions options = {}) {
  auto result = jsonObjectWithData(text, options);
  ASSERT_FALSE(result.ok()) << text;
  EXPECT_EQ(result.error().domain(), "NSCocoaErrorDomain");
  EXPECT_EQ(result.error().code(), 3840);
  EXPECT_TRUE(result.error().userInfo()->string(NSDebugDescriptionErrorKey).has_value());
}

TEST(Json, RefusesMalformedTextAndFragmentsWithAReaderError) {
  for (const char* text : {"", "   ", "{", "{\"a\":}", "[1,]", "{\"a\":1} x", "nul", "{'a':1}",
                           "[1] [2]", "/* c */ {}", "\"unterminated", "42", "\"text\""}) {
    expectReaderError(text);
  }
  // Invalid UTF-8 in a string and a lone continuation byte.
  expectReaderError("[\"\xC3\x28\"]");
  expectReaderError("[\"\x80\"]");
  EXPECT_EQ(jsonObjectWithData("42", {.allowFragments = true}).value().as_int64(), 42);
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

// A null member is written and read back, not dropped.
TEST(Json, WritesCompactTextThatReadsBack) {
  boost::json::value value = {{"a", 1}, {"n", nullptr}, {"b", {true, nullptr, "x\"y"}}};
  EXPECT_EQ(jsonString(value), R"({"a":1,"n":null,"b":[true,null,"x\"y"]})");
  EXPECT_EQ(jsonObjectWithData(jsonData(value)).value(), value);
  // Doubles in their shortest form (not "1.5E0"), big unsigned values exactly, no NaN.
  boost::json::value numbers = {
      1.5, 2.0, 0.1, -0.0, 1e21, UINT64_MAX, INT64_MIN, std::numeric_limits<double>::quiet_NaN()};
  EXPECT_EQ(jsonString(numbers),
            "[1.5,2,0.1,-0,1e+21,18446744073709551615,-9223372036854775808,null]");
  const boost::json::value text(std::string_view("a\n\x01\\/\xC3\xA9", 7));
  EXPECT_EQ(jsonString(text), "\"a\\n\\u0001\\\\/\xC3\xA9\"");
  EXPECT_EQ(jsonObjectWithData("[" + jsonString(text) + "]").value().at(0), text);
}

enum PlainEnum { kPlain = 3 };

TEST(ParameterDictionary, ValuesAreSentByTheirTextualDescription) {
  EXPECT_EQ(ParameterValue("a b").description(), "a b");
  EXPECT_EQ(ParameterValue(std::size_t{42}).description(), "42");
  EXPECT_EQ(ParameterValue(-7).description(), "-7");
  EXPECT_EQ(ParameterValue(INT64_MIN).description(), "-9223372036854775808");
  EXPECT_EQ(ParameterValue(UINT64_MAX).description(), "18446744073709551615");
  EXPECT_EQ(ParameterValue(1.5).description(), "1.5");
  EXPECT_EQ(ParameterValue(2.0).description(), "2");
  EXPECT_EQ(ParameterValue(0.1 + 0.2).description(), "0.3");
  EXPECT_EQ(ParameterValue(true).description(), "1");
  EXPECT_EQ(ParameterValue(nullptr).description(), "<null>");
  EXPECT_EQ(ParameterValue(Data::copy(std::string_view("ab"))).description(),
            "{length = 2, bytes = 0x6162}");
  EXPECT_EQ(ParameterValue::json(boost::json::parse(R"({"k":[1,"x"]})")).description(),
            R"({"k":[1,"x"]})");
  // A literal must not decay to a boolean; pointers, characters and plain enums are refused
  // at compile time rather than sent as "1".
  const ParameterValue literal("yes");
  ASSERT_NE(literal.string(), nullptr);
  EXPECT_EQ(*literal.string(), "yes");
  static_assert(!std::is_constructible_v<ParameterValue, char>);
  static_assert(!std::is_constructible_v<ParameterValue, const char8_t*>);
  static_assert(!std::is_constructible_v<ParameterValue, const std::string*>);
  static_assert(!std::is_constructible_v<ParameterValue, PlainEnum>);
  EXPECT_EQ(ParameterValue(std::uint64_t{7}), ParameterValue(7));
}

TEST(ParameterDictionary, KeepsInsertionOrderAndReplacesInPlace) {
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

TEST(ParameterDictionary, JsonValuesKeepTheirTypesAndBytesHaveNone) {
  EXPECT_EQ(ParameterValue(5).jsonValue(), boost::json::value(5));
  EXPECT_EQ(ParameterValue(false).jsonValue(), boost::json::value(false));
  EXPECT_EQ(ParameterValue(nullptr).jsonValue(), boost::json::value(nullptr));
  EXPECT_EQ(ParameterValue("t").jsonValue(), boost::json::value("t"));
  EXPECT_FALSE(ParameterValue(Data::copy(std::string_view("x"))).jsonValue().has_value());
}

}  // namespace
}  // namespace zel
