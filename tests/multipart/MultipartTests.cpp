// Multipart form bodies, byte for byte, and the chunks they are built from.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "support/AssertionCapture.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/multipart/ZELMultipartFormData.h"

namespace zel {
namespace {

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

TEST_F(Multipart, BoundaryIsPrefixAndSixteenUppercaseHexDigitsAndAnEmptyFormHasNoBody) {
  const std::regex pattern("ZELBoundary\\+[0-9A-F]{16}");
  std::set<std::string> many;
  for (int i = 0; i < 1000; ++i) {
    const auto boundary = ZELMultipartFormData().boundary();
    EXPECT_TRUE(std::regex_match(boundary, pattern)) << boundary;
    many.insert(boundary);
  }
  EXPECT_EQ(many.size(), 1000u);
  EXPECT_EQ(builder(0x0ABCDEF1, 0x80000000).boundary(), "ZELBoundary+0ABCDEF180000000");

  // Without parts: every call reports, and the length stays zero.
  ZELMultipartFormData empty;
  EXPECT_FALSE(empty.bodyData().has_value());
  EXPECT_EQ(empty.contentLength(), 0u);
  EXPECT_EQ(empty.contentLength(), 0u);
  EXPECT_EQ(capture.count("Invalid Request: Trying to create multi-part request with zero parts."),
            3u);
  EXPECT_EQ(capture.count(), 3u);
  EXPECT_EQ(capture.reports()[0].method, "-[ZELMultipartFormData bodyData]");
}

TEST_F(Multipart, WorkedExampleIsExactly238BytesAndTheLengthFollowsBuildsNotAppends) {
  auto form = builder(42, 7);
  form.appendPartWithFormData(Data::copy("hi"), "a");
  // Before any build: the length the body will have.
  const auto measured = form.contentLength();
  const auto first = form.bodyData()->size();
  EXPECT_EQ(measured, first);
  // An append leaves the length of the last build until the next build.
  form.appendPartWithFileData(Data::copy(std::string("\x01\x02\x03")), "f", "x.png", "image/png",
                              std::nullopt);
  EXPECT_EQ(form.contentLength(), first);
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
  EXPECT_LT(first, body->size());
  EXPECT_EQ(capture.count(), 0u);
}

// Header lines per part kind; names are written byte for byte; custom headers keep their order;
// a part without headers still starts with the empty line, so its body is never read as headers.
TEST_F(Multipart, HeaderLinesOfEachPartAndBodyBytesUnchanged) {
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

  // Body bytes pass unchanged and unreported: NULs, CRLFs and something like a delimiter.
  std::string bytes("\0\r\n--ZELBoundary+\r\n\xff\xfe", 21);
  for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 31));
  form.setParts({});
  form.appendPartWithFileData(Data::copy(bytes), "blob", "b.bin", "application/octet-stream",
                              std::nullopt);
  const auto blob = form.bodyData();
  EXPECT_EQ(text(blob), framed(form, {"Content-Disposition: form-data; name=\"blob\"; "
                                      "filename=\"b.bin\"\r\nContent-Type: "
                                      "application/octet-stream\r\n\r\n" +
                                      bytes}));
  EXPECT_EQ(form.contentLength(), blob->size());
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(Multipart, MissingArgumentsAreReportedAndLeftOut) {
  auto form = builder();
  form.appendPartWithFileData(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  form.appendPartWithFormData(Data::copy("v"), std::nullopt);
  form.appendPartWithHeaders(std::nullopt, Data::copy("b"));
  const std::string missing = "Invalid parameter not satisfying: ";
  EXPECT_EQ(capture.messages(),
            (std::vector<std::string>{missing + "data", missing + "name", missing + "fileName",
                                      missing + "mimeType", missing + "body", missing + "name",
                                      missing + "headers"}));
  EXPECT_EQ(capture.reports()[0].method,
            "-[ZELMultipartFormData appendPartWithFileData:name:fileName:mimeType:"
            "contentTransferEncoding:]");
  EXPECT_EQ(capture.reports()[4].method, "-[ZELMultipartFormData appendPartWithHeaders:body:]");
  EXPECT_EQ(capture.reports()[5].method, "-[ZELMultipartFormData appendPartWithFormData:name:]");
  ASSERT_EQ(form.parts().size(), 3u);
  EXPECT_EQ(form.parts()[0].headers(),
            (HTTPHeaders{{"Content-Disposition", "form-data; name=\"\"; filename=\"\""}}));
  EXPECT_TRUE(form.parts()[0].body().empty());
  EXPECT_EQ(form.parts()[1].headers(),
            (HTTPHeaders{{"Content-Disposition", "form-data; name=\"\""}}));
  EXPECT_TRUE(form.parts()[2].headers().empty());
}

TEST_F(Multipart, ChunkMatchCallsOnlyTheFunctionOfItsKindAndChunksAppendAsTheirDirectForms) {
  const auto kind = [](const ZELMultipartFormChunk& chunk) {
    return ZELMultipartFormChunk::match(
        chunk, [](const ZELMultipartFormChunkFile& f) { return "file:" + *f.fileName(); },
        [](const ZELMultipartFormChunkForm& f) { return "form:" + *f.name(); });
  };
  EXPECT_EQ(kind(ZELMultipartFormChunkFile(Data(), "n", "a.png", "image/png")), "file:a.png");
  EXPECT_EQ(kind(ZELMultipartFormChunkForm(Data(), "field")), "form:field");
  EXPECT_EQ(capture.count(), 0u);

  // Tags that name a kind the object is not are refused and reported; unknown tags and a file
  // tag without file fields likewise, when appended below.
  EXPECT_EQ(kind(ZELMultipartFormChunk(ZELMultipartFormChunk::kFormTag)), std::nullopt);
  ZELMultipartFormChunkFile retagged(Data(), "n", "f", "m");
  retagged.setTag(ZELMultipartFormChunk::kFormTag);
  EXPECT_EQ(kind(retagged), std::nullopt);
  EXPECT_EQ(capture.count("Match error"), 2u);
  EXPECT_EQ(capture.count(), 2u);
  EXPECT_EQ(capture.reports()[0].method, "+[ZELMultipartFormChunk match:orFile:orForm:]");

  // With functions returning nothing, the match tells whether one ran.
  const auto ignore = [](const auto&) {};
  EXPECT_TRUE(ZELMultipartFormChunk::match(ZELMultipartFormChunkForm(Data(), "n"), ignore, ignore));
  EXPECT_FALSE(ZELMultipartFormChunk::match(ZELMultipartFormChunk(3), ignore, ignore));
  EXPECT_EQ(capture.count("Match error"), 3u);

  // Chunks append as their direct forms; refused ones append nothing.
  capture.clear();
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
