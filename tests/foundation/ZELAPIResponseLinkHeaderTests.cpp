#include "zel/foundation/ZELAPIResponseLinkHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zel {
namespace {

using Link = ZELAPIResponseLinkHeader::Link;
using Parameters = std::vector<std::pair<std::string, std::string>>;

std::optional<ZELAPIResponseLinkHeader> parse(std::string value) {
  return ZELAPIResponseLinkHeader::initWithHeaderFields(HTTPHeaders{{"Link", std::move(value)}});
}

TEST(ZELAPIResponseLinkHeaderTest, ReadsPaginationHeader) {
  const auto header = parse(
      "<https://api.example.com/user/repos?page=3&per_page=100>; rel=\"next\", "
      "<https://api.example.com/user/repos?page=1&per_page=100>; rel=\"prev\", "
      "<https://api.example.com/user/repos?page=1&per_page=100>; rel=\"first\", "
      "<https://api.example.com/user/repos?page=50&per_page=100>; rel=\"last\"");
  ASSERT_TRUE(header);
  ASSERT_EQ(header->links().size(), 4u);
  EXPECT_EQ(header->nextURI(), "https://api.example.com/user/repos?page=3&per_page=100");
  EXPECT_EQ(header->prevURI(), "https://api.example.com/user/repos?page=1&per_page=100");
  EXPECT_EQ(header->firstURI(), "https://api.example.com/user/repos?page=1&per_page=100");
  EXPECT_EQ(header->lastURI(), "https://api.example.com/user/repos?page=50&per_page=100");
  EXPECT_EQ(header->links()[0].parameters, (Parameters{{"rel", "next"}}));
  EXPECT_FALSE(header->linkForRelation("self"));
  EXPECT_FALSE(header->linkForRelation(""));
}

TEST(ZELAPIResponseLinkHeaderTest, SeveralRelationsInOneParameter) {
  const auto header = parse("</last>; rel=\"next  last\"\t; title=end");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->links()[0].relations, (std::vector<std::string>{"next", "last"}));
  EXPECT_EQ(header->nextURI(), "/last");
  EXPECT_EQ(header->lastURI(), "/last");
}

TEST(ZELAPIResponseLinkHeaderTest, RelationsCompareCaseInsensitivelyFirstMatchWins) {
  const auto header = parse("</a>; rel=NEXT, </b>; rel=next, </c>; rel=Previous");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->nextURI(), "/a");
  EXPECT_EQ(header->linkForRelation("Next")->uri, "/a");
  EXPECT_EQ(header->links()[0].relations, std::vector<std::string>{"NEXT"});
  EXPECT_EQ(header->prevURI(), "/c");
}

TEST(ZELAPIResponseLinkHeaderTest, OnlyTheFirstRelParameterGivesRelations) {
  const auto header = parse("</a>; rel=next; rel=last");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->links()[0].relations, std::vector<std::string>{"next"});
  EXPECT_FALSE(header->lastURI());
  EXPECT_EQ(header->links()[0].parameters, (Parameters{{"rel", "next"}, {"rel", "last"}}));
}

TEST(ZELAPIResponseLinkHeaderTest, QuotedValuesKeepCommasSemicolonsAndEscapes) {
  const auto header = parse(
      "<https://x.test/a,b;c>; rel=\"next\"; title=\"one, two; three\"; "
      "Note=\"say \\\"hi\\\" \\\\ done\", </second>; REL=last; type=text/html; crossorigin");
  ASSERT_TRUE(header);
  ASSERT_EQ(header->links().size(), 2u);
  EXPECT_EQ(
      header->links()[0],
      (Link{"https://x.test/a,b;c",
            {"next"},
            {{"rel", "next"}, {"title", "one, two; three"}, {"note", "say \"hi\" \\ done"}}}));
  EXPECT_EQ(
      header->links()[1],
      (Link{"/second", {"last"}, {{"rel", "last"}, {"type", "text/html"}, {"crossorigin", ""}}}));
}

TEST(ZELAPIResponseLinkHeaderTest, ToleratesWhitespaceAndEmptyElements) {
  const auto header = parse("  , </a> ;rel = next ;  ,\t</b>;rel=\"prev\" ; ,");
  ASSERT_TRUE(header);
  ASSERT_EQ(header->links().size(), 2u);
  EXPECT_EQ(header->nextURI(), "/a");
  EXPECT_EQ(header->prevURI(), "/b");
}

TEST(ZELAPIResponseLinkHeaderTest, RepeatedFieldsJoinedIntoOneValueAnyNameCase) {
  HTTPHeaders fields;
  fields.add("LINK", "</a>; rel=next");
  fields.add("link", "</z>; rel=last");
  const auto header = ZELAPIResponseLinkHeader::initWithHeaderFields(fields);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->nextURI(), "/a");
  EXPECT_EQ(header->lastURI(), "/z");
}

TEST(ZELAPIResponseLinkHeaderTest, AbsentWithoutLinkField) {
  EXPECT_FALSE(ZELAPIResponseLinkHeader::initWithHeaderFields(HTTPHeaders{}));
  EXPECT_FALSE(ZELAPIResponseLinkHeader::initWithHeaderFields(
      HTTPHeaders{{"Links", "</a>; rel=next"}, {"Location", "</a>"}}));
}

TEST(ZELAPIResponseLinkHeaderTest, MalformedValuesAreAbsent) {
  const std::vector<std::string> malformed = {
      "",
      "   ",
      ", ,",
      "<https://x.test/a",             // unterminated "<"
      "https://x.test/a; rel=next",    // missing "<"
      "</a>; rel=next, /b; rel=last",  // second link missing "<"
      "</a> </b>",                     // links without a comma
      "</a>; rel=\"next",              // unterminated quoted string
      "</a>; rel=\"next\\",            // escape at the end
      "</a>; rel=",                    // empty value
      "</a>; rel= ; title=x",          // empty value before the next parameter
      "</a>; =next",                   // parameter without a name
      "</a>; \"rel\"=next",            // quoted parameter name
      "</a>; rel=next last",           // unquoted value with a space
      "</a>; rel=\"next\"x",           // text after a quoted value
      "</a>; rel=<next>",              // value neither token nor quoted string
      "</a> rel=next",                 // parameter without ";"
      std::string("</a>; rel=next\0x", 16),
  };
  for (const auto& value : malformed) {
    EXPECT_FALSE(parse(value)) << "'" << value << "'";
  }
}

TEST(ZELAPIResponseLinkHeaderTest, ArbitraryBytesNeverCrash) {
  // Every prefix of a busy header, and every byte value at every position of a short one.
  const std::string busy = "<a,b>; rel=\"n \\\" x\"; t=v, <c>;x;y=\"z\",<d>";
  for (std::size_t n = 0; n <= busy.size(); ++n) (void)parse(busy.substr(0, n));
  const std::string base = "</a>; r=\"v\"";
  for (std::size_t i = 0; i < base.size(); ++i) {
    for (int c = 0; c < 256; ++c) {
      std::string value = base;
      value[i] = static_cast<char>(c);
      (void)parse(value);
    }
  }
  EXPECT_TRUE(parse(busy));
}

}  // namespace
}  // namespace zel
