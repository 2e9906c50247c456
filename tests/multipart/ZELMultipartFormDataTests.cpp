// Multipart form bodies, byte for byte, and the chunks they are built from.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "support/AssertionCapture.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/multipart/ZELMultipartFormData.h"

namespace zel {
namespace {

const std::string kZeroParts =
    "Invalid Request: Trying to create multi-part request with zero parts.";
const std::string kEscaped = "Multipart header name or value contains CR or LF; escaped";

class Multipart : public ::testing::Test {
 protected:
  // A builder whose boundary comes from the given two values.
  static ZELMultipartFormData builder(std::uint32_t first = 42, std::uint32_t second = 7) {
    std::vector<std::uint32_t> values{first, second};
    std::size_t next = 0;
    return ZELMultipartFormData([&] { return values.at(next++); });
  }
  static std::string text(const std::optional<Data>& data) {
    return data ? std::string(data->stringView()) : std::string("<absent>");
  }
  // The parts (header block and body each) between the form's delimiters.
  static std::string framed(const ZELMultipartFormData& form,
                            const std::vector<std::string>& parts) {
    const std::string delimiter = "--" + form.boundary();
    std::string body;
    for (const auto& part : parts) {
      body += (body.empty() ? "" : "\r\n") + delimiter + "\r\n" + part;
    }
    return body + "\r\n" + delimiter + "--\r\n";
  }

  test::AssertionCapture capture;
};

TEST_F(Multipart, BoundaryIsPrefixAndSixteenUppercaseHexDigitsFirstValueFirst) {
  const std::regex pattern("ZELBoundary\\+[0-9A-F]{16}");
  std::set<std::string> many;
  for (int i = 0; i < 1000; ++i) {
    const auto boundary = ZELMultipartFormData().boundary();
    EXPECT_TRUE(std::regex_match(boundary, pattern)) << boundary;
    many.insert(boundary);
  }
  EXPECT_EQ(many.size(), 1000u);
  EXPECT_EQ(builder(42, 7).boundary(), "ZELBoundary+0000002A00000007");
  EXPECT_EQ(builder(0xFFFFFFFF, 0).boundary(), "ZELBoundary+FFFFFFFF00000000");
  EXPECT_EQ(builder(0x0ABCDEF1, 0x80000000).boundary(), "ZELBoundary+0ABCDEF180000000");
}

TEST_F(Multipart, WorkedExampleIsExactly238Bytes) {
  auto form = builder(42, 7);
  form.appendPartWithFormData(Data::copy("hi"), "a");
  form.appendPartWithFileData(Data::copy(std::string("\x01\x02\x03")), "f", "x.png", "image/png",
                              std::nullopt);
  const auto body = form.bodyData();
  ASSERT_TRUE(body);
  EXPECT_EQ(text(body),
            "--ZELBoundary+0000002A00000007\r\n"
            "Content-Disposition: form-data; name=\"a\"\r\n"
            "\r\n"
            "hi"
            "\r\n--ZELBoundary+0000002A00000007\r\n"
            "Content-Disposition: form-data; name=\"f\"; filename=\"x.png\"\r\n"
            "Content-Type: image/png\r\n"
            "\r\n"
            "\x01\x02\x03"
            "\r\n--ZELBoundary+0000002A00000007--\r\n");
  EXPECT_EQ(body->size(), 238u);
  EXPECT_EQ(form.contentLength(), 238u);
  EXPECT_EQ(capture.count(), 0u);
}

// Header lines per part kind; names are written byte for byte; custom headers keep their order;
// a part without headers still starts with the empty line, so its body is never read as headers.
TEST_F(Multipart, HeaderLinesOfEachPart) {
  auto form = builder();
  form.appendPartWithFileData(Data::copy("Zg=="), "doc", "f.txt", "text/plain", "base64");
  form.appendPartWithFormData(Data::copy("v"), "n");
  form.appendPartWithFileData(Data::copy("x"), "say \"hi\"", "f\xC3\xBCr.txt", "text/plain",
                              std::nullopt);
  form.appendPartWithHeaders(HTTPHeaders{{"X-B", "2"}, {"X-A", "1"}}, Data::copy("b"));
  form.appendPartWithHeaders(HTTPHeaders{}, Data::copy("X-Not-A-Header: 1"));
  const auto measured = form.contentLength();
  const auto body = form.bodyData();
  EXPECT_EQ(text(body),
            framed(form, {"Content-Disposition: form-data; name=\"doc\"; filename=\"f.txt\"\r\n"
                          "Content-Type: text/plain\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\nZg==",
                          "Content-Disposition: form-data; name=\"n\"\r\n\r\nv",
                          "Content-Disposition: form-data; name=\"say \"hi\"\"; "
                          "filename=\"f\xC3\xBCr.txt\"\r\nContent-Type: text/plain\r\n\r\nx",
                          "X-B: 2\r\nX-A: 1\r\n\r\nb", "\r\nX-Not-A-Header: 1"}));
  EXPECT_EQ(measured, body->size());

  // The same part twice is delimited twice.
  const ZELHTTPBodyPart part(HTTPHeaders{{"Content-Disposition", "form-data; name=\"p\""}},
                             Data::copy("1"));
  form.setParts({part, part});
  const std::string one = "Content-Disposition: form-data; name=\"p\"\r\n\r\n1";
  EXPECT_EQ(text(form.bodyData()), framed(form, {one, one}));
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(Multipart, BodyBytesPassUnchangedAndUnreported) {
  // NULs, CRLFs and something that looks like a delimiter.
  std::string bytes("\0\r\n--ZELBoundary+\r\n\xff\xfe", 21);
  for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 31));
  auto form = builder(3, 4);
  form.appendPartWithFileData(Data::copy(bytes), "blob", "b.bin", "application/octet-stream",
                              std::nullopt);
  const auto body = form.bodyData();
  EXPECT_EQ(text(body), framed(form, {"Content-Disposition: form-data; name=\"blob\"; "
                                      "filename=\"b.bin\"\r\nContent-Type: "
                                      "application/octet-stream\r\n\r\n" +
                                      bytes}));
  EXPECT_EQ(form.contentLength(), body->size());
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(Multipart, LengthFollowsBuildsNotAppends) {
  auto form = builder();
  form.appendPartWithFormData(Data::copy("hi"), "a");
  // Before any build: the length the body will have.
  const auto measured = form.contentLength();
  const auto first = form.bodyData()->size();
  EXPECT_EQ(measured, first);

  form.appendPartWithFormData(Data::copy("more"), "b");
  EXPECT_EQ(form.contentLength(), first);
  const auto second = form.bodyData();
  EXPECT_NE(text(second).find("name=\"b\"\r\n\r\nmore\r\n"), std::string::npos);
  EXPECT_EQ(form.contentLength(), second->size());
  EXPECT_GT(second->size(), first);
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(Multipart, EmptyBuilderReportsOnEveryCallAndStaysZero) {
  ZELMultipartFormData form;
  EXPECT_FALSE(form.bodyData().has_value());
  EXPECT_EQ(form.contentLength(), 0u);
  EXPECT_EQ(form.contentLength(), 0u);
  EXPECT_EQ(capture.count(kZeroParts), 3u);
  EXPECT_EQ(capture.count(), 3u);
  EXPECT_EQ(capture.reports()[0].method, "-[ZELMultipartFormData bodyData]");
}

TEST_F(Multipart, MissingArgumentsAreReportedAndLeftOut) {
  auto form = builder();
  form.appendPartWithFileData(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(
      capture.messages(),
      (std::vector<std::string>{
          "Invalid parameter not satisfying: data", "Invalid parameter not satisfying: name",
          "Invalid parameter not satisfying: fileName",
          "Invalid parameter not satisfying: mimeType", "Invalid parameter not satisfying: body"}));
  EXPECT_EQ(capture.reports()[0].method,
            "-[ZELMultipartFormData appendPartWithFileData:name:fileName:mimeType:"
            "contentTransferEncoding:]");
  EXPECT_EQ(capture.reports()[4].method, "-[ZELMultipartFormData appendPartWithHeaders:body:]");
  ASSERT_EQ(form.parts().size(), 1u);
  EXPECT_EQ(form.parts()[0].headers(),
            (HTTPHeaders{{"Content-Disposition", "form-data; name=\"\"; filename=\"\""}}));
  EXPECT_TRUE(form.parts()[0].body().empty());

  capture.clear();
  form.appendPartWithFormData(Data::copy("v"), std::nullopt);
  form.appendPartWithHeaders(std::nullopt, Data::copy("b"));
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"Invalid parameter not satisfying: name",
                                                          "Invalid parameter not satisfying: "
                                                          "headers"}));
  EXPECT_EQ(capture.reports()[0].method, "-[ZELMultipartFormData appendPartWithFormData:name:]");
  ASSERT_EQ(form.parts().size(), 3u);
  EXPECT_EQ(form.parts()[1].headers(),
            (HTTPHeaders{{"Content-Disposition", "form-data; name=\"\""}}));
  EXPECT_TRUE(form.parts()[2].headers().empty());
}

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

TEST_F(Multipart, ChunkMatchCallsOnlyTheFunctionOfItsKind) {
  Calls calls;
  EXPECT_EQ(matchName(ZELMultipartFormChunkFile(Data(), "n", "a.png", "image/png"), calls),
            "file:a.png");
  EXPECT_EQ(matchName(ZELMultipartFormChunkForm(Data(), "field"), calls), "form:field");
  EXPECT_EQ(calls.file, 1);
  EXPECT_EQ(calls.form, 1);
  EXPECT_EQ(capture.count(), 0u);

  // Unknown tags, and tags that name a kind the object is not, are refused and reported.
  EXPECT_EQ(matchName(ZELMultipartFormChunk(2), calls), std::nullopt);
  EXPECT_EQ(matchName(ZELMultipartFormChunk(-1), calls), std::nullopt);
  EXPECT_EQ(matchName(ZELMultipartFormChunk(ZELMultipartFormChunk::kFileTag), calls), std::nullopt);
  EXPECT_EQ(matchName(ZELMultipartFormChunk(ZELMultipartFormChunk::kFormTag), calls), std::nullopt);
  ZELMultipartFormChunkFile retagged(Data(), "n", "f", "m");
  retagged.setTag(ZELMultipartFormChunk::kFormTag);
  EXPECT_EQ(matchName(retagged, calls), std::nullopt);
  EXPECT_EQ(calls.file + calls.form, 2);
  EXPECT_EQ(capture.count("Match error"), 5u);
  EXPECT_EQ(capture.count(), 5u);
  EXPECT_EQ(capture.reports()[0].method, "+[ZELMultipartFormChunk match:orFile:orForm:]");

  // With functions returning nothing, the match tells whether one ran.
  int ran = 0;
  const auto onFile = [&](const ZELMultipartFormChunkFile&) { ++ran; };
  const auto onForm = [&](const ZELMultipartFormChunkForm&) { ++ran; };
  EXPECT_TRUE(ZELMultipartFormChunk::match(ZELMultipartFormChunkForm(Data(), "n"), onFile, onForm));
  EXPECT_FALSE(ZELMultipartFormChunk::match(ZELMultipartFormChunk(3), onFile, onForm));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(capture.count("Match error"), 6u);
}

TEST_F(Multipart, ChunksAppendAsTheirDirectFormsAndRefusedOnesAppendNothing) {
  auto viaChunks = builder(9, 9);
  viaChunks.appendPartWithChunk(std::make_shared<ZELMultipartFormChunkForm>(Data::copy("hi"), "a"));
  viaChunks.appendPartWithChunk(std::make_shared<ZELMultipartFormChunkFile>(
      Data::copy("png"), "f", "x.png", "image/png", "binary"));
  auto direct = builder(9, 9);
  direct.appendPartWithFormData(Data::copy("hi"), "a");
  direct.appendPartWithFileData(Data::copy("png"), "f", "x.png", "image/png", "binary");
  EXPECT_EQ(viaChunks.parts(), direct.parts());
  EXPECT_EQ(text(viaChunks.bodyData()), text(direct.bodyData()));
  EXPECT_EQ(capture.count(), 0u);

  ZELMultipartFormData refused;
  refused.appendPartWithChunk(nullptr);
  refused.appendPartWithChunk(std::make_shared<ZELMultipartFormChunk>(2));
  // Tagged as a file but carrying no file fields.
  refused.appendPartWithChunk(std::make_shared<ZELMultipartFormChunk>(0));
  EXPECT_TRUE(refused.parts().empty());
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"Invalid parameter not satisfying: chunk",
                                                          "Match error", "Match error"}));
  EXPECT_EQ(capture.reports()[0].method, "-[ZELMultipartFormData appendPartWithChunk:]");
}

TEST_F(Multipart, LineBreaksInHeaderNamesAndValuesCannotForgeHeaders) {
  auto form = builder();
  form.appendPartWithFormData(Data::copy("v"), "a\r\nX-Forged: 1");
  form.appendPartWithFileData(Data::copy("f"), "f\n", "x\r.png\"", "image/png\r\n\r\n--evil",
                              "binary\n");
  form.appendPartWithHeaders(HTTPHeaders{{"X-A\r\nX-B", "1"}}, Data::copy("b"));
  // Measuring reports once, however many values are affected; so does each build.
  const auto measured = form.contentLength();
  EXPECT_EQ(capture.count(kEscaped), 1u);
  EXPECT_EQ(capture.count(), 1u);
  const auto body = form.bodyData();
  EXPECT_EQ(text(body),
            framed(form, {"Content-Disposition: form-data; name=\"a%0D%0AX-Forged: 1\"\r\n"
                          "\r\nv",
                          "Content-Disposition: form-data; name=\"f%0A\"; "
                          "filename=\"x%0D.png\"\"\r\n"
                          "Content-Type: image/png%0D%0A%0D%0A--evil\r\n"
                          "Content-Transfer-Encoding: binary%0A\r\n\r\nf",
                          "X-A%0D%0AX-B: 1\r\n\r\nb"}));
  EXPECT_EQ(measured, body->size());
  EXPECT_EQ(form.contentLength(), body->size());
  EXPECT_EQ(capture.count(kEscaped), 2u);
  (void)form.bodyData();
  EXPECT_EQ(capture.count(kEscaped), 3u);
  // The parts keep what was given; only the written form is escaped.
  EXPECT_EQ(form.parts()[0].headers().value("Content-Disposition"),
            "form-data; name=\"a\r\nX-Forged: 1\"");
}

}  // namespace
}  // namespace zel
