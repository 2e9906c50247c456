// Foundation utilities: assertion reports, gzip and hex, the lock, the network recorder and the
// Link header of responses.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/foundation/ZELAPIResponseLinkHeader.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/foundation/ZELFoundationDevLogger.h"
#include "zel/foundation/ZELLock.h"
#include "zel/foundation/ZELNetworkRecorder.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

TEST(ZELModuleName, FollowsTheMarkerRules) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/src/Platform/ZELNetworking/Sources/Client.m", "ZELNetworking"},
      {"/src/Library/ZELNetworking/Tests/ClientTests.m", "ZELNetworkingTests"},
      {"/src/Feature/Profile/Settings/View.m", "ProfileSettings"},
      {"/src/FeatureLibrary/Kit/Sources/A.m", "Kit"},
      // A later match wins.
      {"/a/Platform/One/Sources/Library/Two/Sources/x.m", "Two"},
      // The marker too close to the end stops the scan and keeps what was found.
      {"/a/Platform/One/Sources/Feature/x.m", "One"},
      {"/a/Feature/x.m", "unknown"},
      {"/no/markers/here.cpp", "unknown"},
      {"", "unknown"},
      {"Platform", "unknown"},
      // Markers are whole components, matched exactly.
      {"/platform/One/Sources/x.m", "unknown"},
  };
  for (const auto& [path, module] : cases)
    EXPECT_EQ(ZELModuleNameForFilePath(path), module) << path;
  EXPECT_EQ(ZELFileIDForFilePath("/src/Platform/Net/Sources/Client.m"), "Net/Client.m");
  EXPECT_EQ(ZELFileIDForFilePath("/x/y.cpp"), "unknown/y.cpp");
  // Class methods fall back to the binary's name, also for a module holding ".".
  const std::string binary = ZELLibraryBinaryName();
  ASSERT_FALSE(binary.empty());
  EXPECT_NE(binary, "unknown");
  EXPECT_EQ(ZELFileIDForClassMethodAtPath("/x/y.cpp"), binary + "/y.cpp");
  EXPECT_EQ(ZELFileIDForClassMethodAtPath("/s/Feature/a.b/c/z.m"), binary + "/z.m");
  EXPECT_EQ(ZELFileIDForClassMethodAtPath("/s/Platform/Net/Sources/z.m"), "Net/z.m");
}

TEST(ZELAssertion, ReportsReachTheRemoteWithTheirFullArgumentListWhileLoggingIsOn) {
  test::AssertionCapture capture;
  const int line = __LINE__ + 1;
  ZELAssertionFailure("Invalid parameter not satisfying: description", "+[NSError zel_test]");
  ZELCAssertionFailure("plain function report");
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(false);
  ZELCAssertionFailure("silent");
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(true);

  const auto reports = capture.reports();
  ASSERT_EQ(reports.size(), 2u);
  const auto& method = reports[0];
  EXPECT_EQ(method.message, "Invalid parameter not satisfying: description");
  EXPECT_EQ(method.method, "+[NSError zel_test]");
  EXPECT_TRUE(method.skipLogOnProduction);
  EXPECT_EQ(method.additionalFramesToTrim, 1);
  EXPECT_EQ(method.line, static_cast<std::uint32_t>(line));
  EXPECT_EQ(method.filePath, __FILE__);
  EXPECT_EQ(method.fileID, ZELFileIDForClassMethodAtPath(__FILE__));
  const auto& function = reports[1];
  EXPECT_EQ(function.message, "plain function report");
  EXPECT_NE(function.method.find("TestBody"), std::string::npos);
  EXPECT_EQ(function.fileID, ZELFileIDForFilePath(__FILE__));
}

TEST(ZELGzip, ProducesAGzipMemberThatRoundTrips) {
  const auto text = Data::copy(std::string(10000, 'a') + "tail");
  auto gz = zel_gzippedData(text);
  ASSERT_TRUE(gz.has_value());
  ASSERT_GE(gz->size(), 18u);
  // RFC 1952: magic bytes, deflate method, and ISIZE (little-endian) in the trailer.
  EXPECT_EQ(gz->data()[0], 0x1f);
  EXPECT_EQ(gz->data()[1], 0x8b);
  EXPECT_EQ(gz->data()[2], 8);
  const auto* end = gz->data() + gz->size();
  const std::uint32_t isize =
      end[-4] | end[-3] << 8 | end[-2] << 16 | static_cast<std::uint32_t>(end[-1]) << 24;
  EXPECT_EQ(isize, text.size());
  EXPECT_LT(gz->size(), text.size() / 10);
  EXPECT_EQ(zel_gunzippedData(*gz), text);

  std::mt19937 rng(7);
  for (std::size_t size : {0, 1, 149, 1 << 20}) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    const Data input(std::move(bytes));
    EXPECT_EQ(zel_gunzippedData(zel_gzippedData(input).value()), input) << size;
  }
}

TEST(ZELGzip, GunzipRefusesDamagedOrOversizedInput) {
  auto gz = *zel_gzippedData(Data::copy(std::string(5000, 'z')));
  EXPECT_FALSE(zel_gunzippedData(gz.subdata(0, gz.size() - 1)).has_value());
  std::vector<std::uint8_t> flipped(gz.bytes().begin(), gz.bytes().end());
  flipped[gz.size() - 6] ^= 0xFF;  // CRC32 of the payload
  EXPECT_FALSE(zel_gunzippedData(Data(std::move(flipped))).has_value());
  EXPECT_FALSE(zel_gunzippedData(Data::copy("not gzip at all, but long enough")).has_value());
  EXPECT_FALSE(zel_gunzippedData(gz, 100).has_value());
}

TEST(ZELHexString, TwoLowercaseDigitsPerByteInOrder) {
  const std::uint8_t bytes[] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xff};
  EXPECT_EQ(zel_hexString(Data::copy(bytes)), "00017f80abff");
  EXPECT_EQ(zel_hexString(Data()), "");
}

TEST(ZELLock, LockWithBlockExcludesOtherHoldersAndReturnsTheBlocksResult) {
  ZELLock lock("com.zelvo.test.lock");
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) lock.lockWithBlock([&] { ++counter; });
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(lock.lockWithBlock([&] { return counter; }), 40000);
  {
    std::lock_guard guard(lock);
    EXPECT_FALSE(lock.try_lock());
  }
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

ZELNSURLSessionDataTaskResult resultWithBody(const std::string& body) {
  return ZELNSURLSessionDataTaskResult::resultWithData(Data::copy(body), nullptr,
                                                       Error("test", -1001));
}

// Waits until the transaction with this sequence number is the newest stored, then a little
// longer for any stray late insert.
bool newestStoredIs(const ZELNetworkRecorder& recorder, std::uint64_t sequence) {
  for (int i = 0; i < 5000; ++i) {
    const auto stored = recorder.transactions();
    if (!stored.empty() && stored.back().sequenceNumber == sequence) {
      std::this_thread::sleep_for(20ms);
      return true;
    }
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

TEST(ZELNetworkRecorder, RecordsWhileCapturingKeepingTheMostRecentInOrder) {
  auto recorder = ZELNetworkRecorder::create(50);
  recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("ignored"));
  recorder->setCapturing(true);
  recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("kept"));
  ASSERT_TRUE(newestStoredIs(*recorder, 1));
  auto stored = recorder->transactions();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].result.data->stringView(), "kept");
  EXPECT_EQ(stored[0].result.error->code(), -1001);
  EXPECT_EQ(recorder->acceptedCount(), 1u);

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("x"));
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_TRUE(newestStoredIs(*recorder, 401));
  stored = recorder->transactions();
  ASSERT_EQ(stored.size(), 50u);
  for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i].sequenceNumber, 352 + i);
  recorder->removeAllTransactions();
  EXPECT_TRUE(recorder->transactions().empty());
}

TEST(ZELNetworkRecorder, OutlivesItsOwnerUntilPendingInsertsAreStored) {
  std::atomic<int> observed{0};
  {
    auto recorder = ZELNetworkRecorder::create();
    recorder->setOnInsert([&](const ZELRecordedHTTPTransaction&) { ++observed; });
    recorder->setCapturing(true);
    for (int i = 0; i < 10; ++i)
      recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("y"));
  }
  for (int i = 0; i < 5000 && observed.load() < 10; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(observed.load(), 10);
}

using Link = ZELAPIResponseLinkHeader::Link;

std::optional<ZELAPIResponseLinkHeader> parse(std::string value) {
  return ZELAPIResponseLinkHeader::initWithHeaderFields(HTTPHeaders{{"Link", std::move(value)}});
}

TEST(ZELAPIResponseLinkHeaderTest, ReadsLinksAndTheirParameters) {
  const std::vector<std::pair<std::string, std::vector<Link>>> cases = {
      // Several relations in one parameter; only the first "rel" parameter gives relations.
      {"</last>; rel=\"next  last\"\t; title=end",
       {{"/last", {"next", "last"}, {{"rel", "next  last"}, {"title", "end"}}}}},
      {"</a>; rel=next; rel=last", {{"/a", {"next"}, {{"rel", "next"}, {"rel", "last"}}}}},
      // Quoted values keep commas, semicolons and escapes; names are lowercased.
      {"<https://x.test/a,b;c>; rel=\"next\"; title=\"one, two; three\"; "
       "Note=\"say \\\"hi\\\" \\\\ done\", </second>; REL=last; type=text/html; crossorigin",
       {{"https://x.test/a,b;c",
         {"next"},
         {{"rel", "next"}, {"title", "one, two; three"}, {"note", "say \"hi\" \\ done"}}},
        {"/second", {"last"}, {{"rel", "last"}, {"type", "text/html"}, {"crossorigin", ""}}}}},
      // Whitespace and empty list elements are tolerated.
      {"  , </a> ;rel = next ;  ,\t</b>;rel=\"prev\" ; ,",
       {{"/a", {"next"}, {{"rel", "next"}}}, {"/b", {"prev"}, {{"rel", "prev"}}}}}};
  for (const auto& [value, links] : cases) {
    const auto header = parse(value);
    ASSERT_TRUE(header) << value;
    EXPECT_EQ(header->links(), links) << value;
  }
}

TEST(ZELAPIResponseLinkHeaderTest, RelationsMatchIgnoringCaseAndTheFirstLinkWins) {
  const auto header = parse(
      "</a>; rel=NEXT, </b>; rel=next, </c>; rel=Previous, </f>; rel=up; rel=last, "
      "</d>; rel=\"up  last\", </g>; rel=first, </e>; rel=prev");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->links()[0].relations, std::vector<std::string>{"NEXT"});
  EXPECT_EQ(header->nextURI(), "/a");
  EXPECT_EQ(header->linkForRelation("Next")->uri, "/a");
  EXPECT_EQ(header->prevURI(), "/c");
  EXPECT_EQ(parse("</x>; rel=prev").value().prevURI(), "/x");
  EXPECT_EQ(header->lastURI(), "/d");
  EXPECT_EQ(header->firstURI(), "/g");
  EXPECT_FALSE(header->linkForRelation("self"));
  EXPECT_FALSE(header->linkForRelation(""));
}

TEST(ZELAPIResponseLinkHeaderTest, FieldOfAnyNameCaseRepeatedFieldsJoinedAbsentWithoutIt) {
  HTTPHeaders fields;
  fields.add("LINK", "</a>; rel=next");
  fields.add("link", "</z>; rel=last");
  const auto header = ZELAPIResponseLinkHeader::initWithHeaderFields(fields);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->nextURI(), "/a");
  EXPECT_EQ(header->lastURI(), "/z");
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
