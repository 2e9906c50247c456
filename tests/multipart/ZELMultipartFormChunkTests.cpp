#include <gtest/gtest.h>

#include "support/AssertionCapture.h"
#include "zel/multipart/ZELMultipartFormChunk.h"

namespace zel {
namespace {

struct Calls {
  int file = 0;
  int form = 0;
};

std::optional<std::string> matchName(const ZELMultipartFormChunk& chunk, Calls& calls) {
  return ZELMultipartFormChunk::match(
      chunk,
      [&](const ZELMultipartFormChunkFile& file) {
        ++calls.file;
        return "file:" + file.fileName().value_or("?");
      },
      [&](const ZELMultipartFormChunkForm& form) {
        ++calls.form;
        return "form:" + form.name().value_or("?");
      });
}

TEST(ZELMultipartFormChunk, MatchCallsOnlyTheFunctionOfTheKind) {
  test::AssertionCapture capture;
  Calls calls;
  EXPECT_EQ(matchName(ZELMultipartFormChunkFile(Data(), "n", "a.png", "image/png"), calls),
            "file:a.png");
  EXPECT_EQ(calls.file, 1);
  EXPECT_EQ(calls.form, 0);

  EXPECT_EQ(matchName(ZELMultipartFormChunkForm(Data(), "field"), calls), "form:field");
  EXPECT_EQ(calls.file, 1);
  EXPECT_EQ(calls.form, 1);
  EXPECT_EQ(capture.count(), 0u);
}

TEST(ZELMultipartFormChunk, MatchRefusesUnknownTagsAndMismatchedKinds) {
  test::AssertionCapture capture;
  Calls calls;
  EXPECT_EQ(matchName(ZELMultipartFormChunk(2), calls), std::nullopt);
  EXPECT_EQ(matchName(ZELMultipartFormChunk(-1), calls), std::nullopt);
  // Tags that name a kind the object is not.
  EXPECT_EQ(matchName(ZELMultipartFormChunk(0), calls), std::nullopt);
  EXPECT_EQ(matchName(ZELMultipartFormChunk(1), calls), std::nullopt);
  ZELMultipartFormChunkFile retagged(Data(), "n", "f", "m");
  retagged.setTag(ZELMultipartFormChunk::kFormTag);
  EXPECT_EQ(matchName(retagged, calls), std::nullopt);

  EXPECT_EQ(calls.file + calls.form, 0);
  EXPECT_EQ(capture.count("Match error"), 5u);
  EXPECT_EQ(capture.count(), 5u);
  EXPECT_EQ(capture.reports()[0].method, "+[ZELMultipartFormChunk match:orFile:orForm:]");
}

TEST(ZELMultipartFormChunk, MatchWithVoidFunctionsTellsWhetherOneRan) {
  test::AssertionCapture capture;
  int ran = 0;
  const auto onFile = [&](const ZELMultipartFormChunkFile&) { ++ran; };
  const auto onForm = [&](const ZELMultipartFormChunkForm&) { ++ran; };
  EXPECT_TRUE(ZELMultipartFormChunk::match(ZELMultipartFormChunkForm(Data(), "n"), onFile, onForm));
  EXPECT_FALSE(ZELMultipartFormChunk::match(ZELMultipartFormChunk(3), onFile, onForm));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(capture.count("Match error"), 1u);
}

}  // namespace
}  // namespace zel
