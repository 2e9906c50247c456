// Foundation utilities: assertion reports, gzip and hex, the lock, the network recorder, the
// Link header of responses and the bundle's string tables.
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/AssertionCapture.h"
#include "zel/foundation/Bundle.h"
#include "zel/foundation/ZELAPIResponseLinkHeader.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/foundation/ZELFoundationDevLogger.h"
#include "zel/foundation/ZELLock.h"
#include "zel/foundation/ZELNetworkRecorder.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

TEST(ZELAssertion, ModuleNamesFollowTheMarkerRulesAndReportsReachTheRemoteWhileLoggingIsOn) {
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
      {"", "unknown"},
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

  // Reports reach the remote with their full argument list while logging is on.
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

TEST(ZELDataAdditions, GzipRoundTripsAndRefusesDamagedInputAndHexIsLowercase) {
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

  // Damaged, foreign or oversized input is refused.
  EXPECT_FALSE(zel_gunzippedData(gz->subdata(0, gz->size() - 1)).has_value());
  std::vector<std::uint8_t> flipped(gz->bytes().begin(), gz->bytes().end());
  flipped[gz->size() - 6] ^= 0xFF;  // CRC32 of the payload
  EXPECT_FALSE(zel_gunzippedData(Data(std::move(flipped))).has_value());
  EXPECT_FALSE(zel_gunzippedData(Data::copy("not gzip at all, but long enough")).has_value());
  EXPECT_FALSE(zel_gunzippedData(*gz, 100).has_value());

  // Hex: two lowercase digits per byte, in order.
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

TEST(ZELNetworkRecorder, RecordsWhileCapturingKeepingTheMostRecentInOrder) {
  // Transactions are stored on the background executor: count them as they land.
  std::atomic<int> stored{0};
  const auto count = [&](const ZELRecordedHTTPTransaction&) { ++stored; };
  const auto storedReaches = [&](int count) {
    for (int i = 0; i < 5000 && stored.load() < count; ++i) std::this_thread::sleep_for(1ms);
    return stored.load() == count;
  };
  auto recorder = ZELNetworkRecorder::create(50);
  recorder->setOnInsert(count);
  recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("ignored"));
  recorder->setCapturing(true);
  recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("kept"));
  ASSERT_TRUE(storedReaches(1));
  auto transactions = recorder->transactions();
  ASSERT_EQ(transactions.size(), 1u);
  EXPECT_EQ(transactions[0].result.data->stringView(), "kept");
  EXPECT_EQ(transactions[0].result.error->code(), -1001);
  EXPECT_EQ(recorder->acceptedCount(), 1u);

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        recorder->insertHTTPTransactionAsyncIfCapturing(resultWithBody("x"));
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_TRUE(storedReaches(401));
  transactions = recorder->transactions();
  ASSERT_EQ(transactions.size(), 50u);
  for (std::size_t i = 0; i < 50; ++i) EXPECT_EQ(transactions[i].sequenceNumber, 352 + i);
  recorder->removeAllTransactions();
  EXPECT_TRUE(recorder->transactions().empty());

  // Dropped by its owner, it lives until the pending inserts are stored.
  {
    auto owned = ZELNetworkRecorder::create();
    owned->setOnInsert(count);
    owned->setCapturing(true);
    for (int i = 0; i < 10; ++i) owned->insertHTTPTransactionAsyncIfCapturing(resultWithBody("y"));
  }
  EXPECT_TRUE(storedReaches(411));
}

using Link = ZELAPIResponseLinkHeader::Link;

std::optional<ZELAPIResponseLinkHeader> parse(std::string value) {
  return ZELAPIResponseLinkHeader::initWithHeaderFields(HTTPHeaders{{"Link", std::move(value)}});
}

TEST(ZELAPIResponseLinkHeaderTest,
     ReadsLinksParametersAndRelationsIgnoringCaseTheFirstLinkWinning) {
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

  // Relations match ignoring case and the first link wins.
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

  // A field of any name case; repeated fields are joined; absent without the field.
  HTTPHeaders fields;
  fields.add("LINK", "</a>; rel=next");
  fields.add("link", "</z>; rel=last");
  const auto joined = ZELAPIResponseLinkHeader::initWithHeaderFields(fields);
  ASSERT_TRUE(joined);
  EXPECT_EQ(joined->nextURI(), "/a");
  EXPECT_EQ(joined->lastURI(), "/z");
  EXPECT_FALSE(ZELAPIResponseLinkHeader::initWithHeaderFields(HTTPHeaders{}));
  EXPECT_FALSE(ZELAPIResponseLinkHeader::initWithHeaderFields(
      HTTPHeaders{{"Links", "</a>; rel=next"}, {"Location", "</a>"}}));
}

TEST(ZELAPIResponseLinkHeaderTest, MalformedValuesAreAbsentAndArbitraryBytesNeverCrash) {
  const std::vector<std::string> malformed = {
      "",
      ", ,",
      "<https://x.test/a",             // unterminated "<"
      "https://x.test/a; rel=next",    // missing "<"
      "</a>; rel=next, /b; rel=last",  // second link missing "<"
      "</a> </b>",                     // links without a comma
      "</a>; rel=\"next",              // unterminated quoted string
      "</a>; rel=\"next\\",            // escape at the end
      "</a>; rel=",                    // empty value
      "</a>; =next",                   // parameter without a name
      "</a>; rel=next last",           // unquoted value with a space
      "</a>; rel=\"next\"x",           // text after a quoted value
      "</a>; rel=<next>",              // value neither token nor quoted string
      "</a> rel=next",                 // parameter without ";"
      std::string("</a>; rel=next\0x", 16),
  };
  for (const auto& value : malformed) {
    EXPECT_FALSE(parse(value)) << "'" << value << "'";
  }

  // Arbitrary bytes never crash: every prefix of a busy header, every byte at every position.
  const std::string busy = "<a,b>; rel=\"n \\\" x\"; t=v, <c>;x;y=\"z\",<d>";
  for (std::size_t n = 0; n < busy.size(); ++n) {
    (void)parse(busy.substr(0, n));
    for (int c = 0; c < 256; ++c) {
      std::string value = busy;
      value[n] = static_cast<char>(c);
      (void)parse(value);
    }
  }
  EXPECT_TRUE(parse(busy));
}

struct Lookup {
  std::string key;
  std::optional<std::string_view> value;
  std::optional<std::string_view> table;
  std::string expected;
};

class BundleTest : public ::testing::Test {
 protected:
  ~BundleTest() override { std::filesystem::remove(path_); }
  void expectLookups(const std::vector<Lookup>& cases) const {
    for (const auto& c : cases) {
      EXPECT_EQ(bundle.localizedStringForKey(c.key, c.value, c.table), c.expected)
          << c.key << " in " << c.table.value_or("<none>");
    }
  }
  std::string in(std::string_view table, std::string_view key) const {
    return bundle.localizedStringForKey(key, std::nullopt, table);
  }
  // Writes the bytes to the test's file under the system's temporary directory.
  const std::filesystem::path& file(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    return path_;
  }

  Bundle bundle;
  const std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                      ("zel-bundle-" + std::to_string(::getpid()) + ".strings");
};

TEST_F(BundleTest, LookupFallsBackToValueThenKeyAndTablesAreSeparate) {
  bundle.setStrings("Localizable", {{"greeting", "Hello"}, {"empty", ""}, {"k", "default"}});
  bundle.setStrings("ZELLocalizable", {{"k", "library"}});
  expectLookups({{"greeting", "fallback", {}, "Hello"},
                 {"empty", "fallback", {}, ""},  // an empty translation is a translation
                 {"missing", "fallback", {}, "fallback"},
                 {"missing", "", {}, "missing"},
                 {"missing", {}, {}, "missing"},
                 {"k", {}, "", "default"},
                 {"k", {}, "ZELLocalizable", "library"},
                 {"k", "v", "Other", "v"}});
  bundle.removeTable("ZELLocalizable");
  expectLookups({{"k", {}, "ZELLocalizable", "k"}, {"k", {}, {}, "default"}});

  // Setting replaces a table; loading merges into it, later entries winning.
  bundle.setStrings("T", {{"a", "1"}, {"b", "2"}});
  bundle.setStrings("T", {{"a", "one"}});
  EXPECT_EQ(in("T", "b"), "b");
  ASSERT_TRUE(bundle.loadStringsFromString("T", R"("b" = "two"; "a" = "first"; "a" = "uno";)"));
  expectLookups({{"a", {}, "T", "uno"}, {"b", {}, "T", "two"}});
}

TEST_F(BundleTest, ParsesStringsFormatAndMalformedTextLoadsNothing) {
  const std::string text =
      "\xEF\xBB\xBF/* A block comment\n   over lines; \"not\" = \"this\"; */\n"
      "\"plain\" = \"Plain text\";\n"
      "// a line comment \"x\" = \"y\";\n"
      "unquoted_key.v-1 = Value_2.0;\n"
      "  \"spaced\"\t=\n\"multi\nline\" ; \"self\";\n"
      "\"escapes\" = \"q\\\" b\\\\ n\\n t\\t r\\r other\\'\";\n"
      "\"unicode\" = \"\\U00e9\\u20AC \\UD83D\\uDE00\";\n"
      "\"comment/*inside*/\" = \"// kept\"; /* trailing */";
  ASSERT_TRUE(bundle.loadStringsFromString("", text));
  expectLookups({{"plain", {}, {}, "Plain text"},
                 {"not", "-", {}, "-"},
                 {"x", "-", {}, "-"},
                 {"unquoted_key.v-1", {}, {}, "Value_2.0"},
                 {"spaced", {}, {}, "multi\nline"},
                 {"self", "-", {}, "self"},
                 {"escapes", {}, {}, "q\" b\\ n\n t\t r\r other'"},
                 {"unicode", {}, {}, "\xC3\xA9\xE2\x82\xAC \xF0\x9F\x98\x80"},
                 {"comment/*inside*/", {}, {}, "// kept"}});

  // Malformed text loads nothing.
  const std::vector<std::string> malformed = {
      "\"a\" = \"1\"; \"b\" = \"2\"",         // missing ";"
      "\"a\" = \"1\"; \"b\" \"2\";",          // missing "="
      "\"a\" = \"1\"; \"b\" = \"2;",          // unterminated string
      "\"a\" = \"1\"; /* open comment",       // unterminated comment
      "\"a\" = \"1\"; \"b\" = ;",             // missing value
      "\"a\" = \"1\"; = \"2\";",              // missing key
      "\"a\" = \"1\"; \"b\" = \"\\u12G4\";",  // bad hex digit
      "\"a\" = \"1\"; \"b\" = \"\\uD83D\";",  // lone high surrogate
      "\"a\" = \"1\"; \"b\" = \"\\uDE00\";",  // lone low surrogate
      "\"a\" = \"1\"; b c = \"2\";",          // two unquoted words
      "\"a\" = \"1\"; k$ = \"2\";",           // character outside unquoted keys
  };
  bundle.setStrings("T", {{"a", "old"}});
  for (const auto& bad : malformed) {
    EXPECT_FALSE(bundle.loadStringsFromString("T", bad)) << bad;
    EXPECT_EQ(in("T", "a"), "old") << bad;
    EXPECT_EQ(in("T", "b"), "b") << bad;
  }
}

TEST_F(BundleTest, LoadsFilesInUTF8AndUTF16AndNothingFromBadOnesAndKnowsItsExecutable) {
  EXPECT_TRUE(bundle.loadStringsFile("Files", file("/* c */ \"k1\" = \"caf\xC3\xA9\";")));
  // "k2" = "€😀"; as UTF-16 little-endian and big-endian with byte-order marks.
  const std::u16string text = u"\"k2\" = \"\u20AC\U0001F600\";";
  std::string little = "\xFF\xFE", big = "\xFE\xFF";
  for (char16_t unit : text) {
    little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  }
  ASSERT_TRUE(bundle.loadStringsFile("LE", file(little)));
  ASSERT_TRUE(bundle.loadStringsFile("BE", file(big)));
  expectLookups({{"k1", {}, "Files", "caf\xC3\xA9"},
                 {"k2", {}, "LE", "\xE2\x82\xAC\xF0\x9F\x98\x80"},
                 {"k2", {}, "BE", "\xE2\x82\xAC\xF0\x9F\x98\x80"}});

  EXPECT_FALSE(bundle.loadStringsFile("T", "/nonexistent/zel/none.strings"));
  EXPECT_FALSE(bundle.loadStringsFile("T", file("\"a\" = \"1\";\n\"b\" = ")));
  EXPECT_FALSE(bundle.loadStringsFile("T", file(std::string("\xFF\xFE\x22", 3))));
  EXPECT_EQ(in("T", "a"), "a");

  const std::filesystem::path executable = Bundle::mainBundle().executablePath();
  EXPECT_TRUE(std::filesystem::equivalent(executable, "/proc/self/exe"));
  EXPECT_TRUE(executable.is_absolute());
}

// Two threads load into a table and replace their own while four read it.
TEST_F(BundleTest, ConcurrentLookupsAndLoads) {
  bundle.setStrings("T", {{"stable", "yes"}});
  constexpr int kRounds = 300;
  const auto key = [](int t, int i) { return "w" + std::to_string(t) + "_" + std::to_string(i); };
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (t < 2) {
          if (!bundle.loadStringsFromString("T", key(t, i) + " = \"" + key(t, i) + "!\";")) ++wrong;
          bundle.setStrings("Scratch" + std::to_string(t), {{key(t, i), key(t, i)}});
        } else {
          const std::string found = in("T", key(0, i));
          if (in("T", "stable") != "yes" || (found != key(0, i) && found != key(0, i) + "!"))
            ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  // Both writers' entries were all merged.
  for (int i = 0; i < 2 * kRounds; ++i)
    ASSERT_EQ(in("T", key(i % 2, i / 2)), key(i % 2, i / 2) + "!");
}

}  // namespace
}  // namespace zel
