#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "support/AssertionCapture.h"
#include "zel/multipart/ZELMultipartFormData.h"

namespace zel {
namespace {

const std::string kZeroParts =
    "Invalid Request: Trying to create multi-part request with zero parts.";
const std::string kEscaped = "Multipart header name or value contains CR or LF; escaped";

// A builder whose boundary comes from the given two values.
ZELMultipartFormData builderWithRandom(std::uint32_t first, std::uint32_t second) {
  std::vector<std::uint32_t> values{first, second};
  std::size_t next = 0;
  return ZELMultipartFormData([&] { return values.at(next++); });
}

std::string text(const std::optional<Data>& data) {
  return data ? std::string(data->stringView()) : std::string("<absent>");
}

// The parts (header block and body each) between the form's delimiters.
std::string framed(const ZELMultipartFormData& form, const std::vector<std::string>& parts) {
  const std::string delimiter = "--" + form.boundary();
  std::string body;
  for (const auto& part : parts) body += (body.empty() ? "" : "\r\n") + delimiter + "\r\n" + part;
  return body + "\r\n" + delimiter + "--\r\n";
}

TEST(ZELMultipartFormDataBoundary, IsPrefixAndSixteenUppercaseHexDigits) {
  const ZELMultipartFormData a;
  const ZELMultipartFormData b;
  const std::regex pattern("ZELBoundary\\+[0-9A-F]{16}");
  EXPECT_TRUE(std::regex_match(a.boundary(), pattern)) << a.boundary();
  EXPECT_TRUE(std::regex_match(b.boundary(), pattern)) << b.boundary();
  EXPECT_NE(a.boundary(), b.boundary());

  std::set<std::string> many;
  for (int i = 0; i < 1000; ++i) many.insert(ZELMultipartFormData().boundary());
  EXPECT_EQ(many.size(), 1000u);
}

TEST(ZELMultipartFormDataBoundary, ValuesAreZeroPaddedFirstValueFirst) {
  EXPECT_EQ(builderWithRandom(42, 7).boundary(), "ZELBoundary+0000002A00000007");
  EXPECT_EQ(builderWithRandom(0xFFFFFFFF, 0).boundary(), "ZELBoundary+FFFFFFFF00000000");
  EXPECT_EQ(builderWithRandom(0x0ABCDEF1, 0x80000000).boundary(), "ZELBoundary+0ABCDEF180000000");
}

TEST(ZELMultipartFormDataBody, WorkedExampleIsExactly238Bytes) {
  test::AssertionCapture capture;
  auto form = builderWithRandom(42, 7);
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

TEST(ZELMultipartFormDataBody, HeaderLinesPerPartKind) {
  auto form = builderWithRandom(1, 2);
  form.appendPartWithFileData(Data::copy("Zg=="), "doc", "f.txt", "text/plain", "base64");
  form.appendPartWithFormData(Data::copy("v"), "n");
  EXPECT_EQ(text(form.bodyData()),
            framed(form, {"Content-Disposition: form-data; name=\"doc\"; filename=\"f.txt\"\r\n"
                          "Content-Type: text/plain\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\nZg==",
                          "Content-Disposition: form-data; name=\"n\"\r\n\r\nv"}));
}

TEST(ZELMultipartFormDataBody, BodyBytesPassUnchangedAndUnreported) {
  test::AssertionCapture capture;
  // NULs, CRLFs and something that looks like a delimiter.
  std::string bytes("\0\r\n--ZELBoundary+\r\n\xff\xfe", 21);
  for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 31));
  auto form = builderWithRandom(3, 4);
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

TEST(ZELMultipartFormDataBody, NamesAreWrittenByteForByte) {
  auto form = builderWithRandom(5, 6);
  form.appendPartWithFileData(Data::copy("x"), "say \"hi\"", "f\xC3\xBCr.txt", "text/plain",
                              std::nullopt);
  EXPECT_NE(text(form.bodyData())
                .find("Content-Disposition: form-data; name=\"say \"hi\"\"; "
                      "filename=\"f\xC3\xBCr.txt\"\r\n"),
            std::string::npos);
}

TEST(ZELMultipartFormDataBody, CustomHeadersInTheirOrderAndHeaderlessParts) {
  auto form = builderWithRandom(5, 6);
  form.appendPartWithHeaders(HTTPHeaders{{"X-B", "2"}, {"X-A", "1"}}, Data::copy("b"));
  // Without headers the empty line still comes first, so the body is never read as headers.
  form.appendPartWithHeaders(HTTPHeaders{}, Data::copy("X-Not-A-Header: 1"));
  const auto measured = form.contentLength();
  const auto body = form.bodyData();
  EXPECT_EQ(text(body), framed(form, {"X-B: 2\r\nX-A: 1\r\n\r\nb", "\r\nX-Not-A-Header: 1"}));
  EXPECT_EQ(measured, body->size());
}

TEST(ZELMultipartFormDataBody, SamePartTwiceIsDelimitedTwice) {
  auto form = builderWithRandom(5, 6);
  form.appendPartWithFormData(Data::copy("old"), "old");
  const ZELHTTPBodyPart part(HTTPHeaders{{"Content-Disposition", "form-data; name=\"p\""}},
                             Data::copy("1"));
  form.setParts({part, part});
  const std::string one = "Content-Disposition: form-data; name=\"p\"\r\n\r\n1";
  EXPECT_EQ(text(form.bodyData()), framed(form, {one, one}));
}

TEST(ZELMultipartFormDataLength, FollowsBuildsNotAppends) {
  test::AssertionCapture capture;
  auto form = builderWithRandom(42, 7);
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

TEST(ZELMultipartFormDataLength, EmptyBuilderReportsOnEveryCallAndStaysZero) {
  test::AssertionCapture capture;
  ZELMultipartFormData form;
  EXPECT_FALSE(form.bodyData().has_value());
  EXPECT_EQ(form.contentLength(), 0u);
  EXPECT_EQ(form.contentLength(), 0u);
  EXPECT_EQ(capture.count(kZeroParts), 3u);
  EXPECT_EQ(capture.count(), 3u);
  EXPECT_EQ(capture.reports()[0].method, "-[ZELMultipartFormData bodyData]");
}

TEST(ZELMultipartFormDataAppend, MissingArgumentsAreReportedAndLeftOut) {
  test::AssertionCapture capture;
  auto form = builderWithRandom(1, 1);
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

TEST(ZELMultipartFormDataAppend, ChunksAppendAsTheirDirectForms) {
  test::AssertionCapture capture;
  auto viaChunks = builderWithRandom(9, 9);
  viaChunks.appendPartWithChunk(std::make_shared<ZELMultipartFormChunkForm>(Data::copy("hi"), "a"));
  viaChunks.appendPartWithChunk(std::make_shared<ZELMultipartFormChunkFile>(
      Data::copy("png"), "f", "x.png", "image/png", "binary"));

  auto direct = builderWithRandom(9, 9);
  direct.appendPartWithFormData(Data::copy("hi"), "a");
  direct.appendPartWithFileData(Data::copy("png"), "f", "x.png", "image/png", "binary");

  EXPECT_EQ(viaChunks.parts(), direct.parts());
  EXPECT_EQ(text(viaChunks.bodyData()), text(direct.bodyData()));
  EXPECT_EQ(capture.count(), 0u);
}

TEST(ZELMultipartFormDataAppend, RefusedChunksAppendNothing) {
  test::AssertionCapture capture;
  ZELMultipartFormData form;
  form.appendPartWithChunk(nullptr);
  form.appendPartWithChunk(std::make_shared<ZELMultipartFormChunk>(2));
  // Tagged as a file but carrying no file fields.
  form.appendPartWithChunk(std::make_shared<ZELMultipartFormChunk>(0));
  EXPECT_TRUE(form.parts().empty());
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"Invalid parameter not satisfying: chunk",
                                                          "Match error", "Match error"}));
  EXPECT_EQ(capture.reports()[0].method, "-[ZELMultipartFormData appendPartWithChunk:]");
}

TEST(ZELMultipartFormDataEscaping, LineBreaksInHeaderValuesCannotForgeHeaders) {
  test::AssertionCapture capture;
  auto form = builderWithRandom(42, 7);
  form.appendPartWithFormData(Data::copy("v"), "a\r\nX-Forged: 1");
  form.appendPartWithFileData(Data::copy("f"), "f\n", "x\r.png\"", "image/png\r\n\r\n--evil",
                              "binary\n");
  const auto body = form.bodyData();
  EXPECT_EQ(text(body),
            framed(form, {"Content-Disposition: form-data; name=\"a%0D%0AX-Forged: 1\"\r\n"
                          "\r\nv",
                          "Content-Disposition: form-data; name=\"f%0A\"; "
                          "filename=\"x%0D.png\"\"\r\n"
                          "Content-Type: image/png%0D%0A%0D%0A--evil\r\n"
                          "Content-Transfer-Encoding: binary%0A\r\n\r\nf"}));
  EXPECT_EQ(form.contentLength(), body->size());
  // One report for the build, however many values were affected.
  EXPECT_EQ(capture.count(kEscaped), 1u);
  EXPECT_EQ(capture.count(), 1u);
  // The parts keep what was given; only the written form is escaped.
  EXPECT_EQ(form.parts()[0].headers().value("Content-Disposition"),
            "form-data; name=\"a\r\nX-Forged: 1\"");

  (void)form.bodyData();
  EXPECT_EQ(capture.count(kEscaped), 2u);
}

TEST(ZELMultipartFormDataEscaping, HeaderNamesAreEscapedToo) {
  test::AssertionCapture capture;
  auto form = builderWithRandom(1, 2);
  form.appendPartWithHeaders(HTTPHeaders{{"X-A\r\nX-B", "1"}}, Data::copy("b"));
  const auto measured = form.contentLength();
  EXPECT_EQ(measured, form.bodyData()->size());
  EXPECT_NE(text(form.bodyData()).find("\r\nX-A%0D%0AX-B: 1\r\n\r\nb"), std::string::npos);
  // contentLength measured the body once and each bodyData built it once.
  EXPECT_EQ(capture.count(kEscaped), 3u);
}

}  // namespace
}  // namespace zel
