#include "zel/foundation/Bundle.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace zel {
namespace {

std::string lookup(const Bundle& bundle, std::string_view key,
                   std::optional<std::string_view> value = std::nullopt,
                   std::optional<std::string_view> table = std::nullopt) {
  return bundle.localizedStringForKey(key, value, table);
}

// A file under the system's temporary directory, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes)
      : path_(std::filesystem::temp_directory_path() /
              ("zel-bundle-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) +
               ".strings")) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

TEST(BundleTest, LookupFallsBackToValueThenKey) {
  Bundle bundle;
  bundle.setStrings("Localizable", {{"greeting", "Hello"}, {"empty", ""}});
  EXPECT_EQ(lookup(bundle, "greeting", "fallback"), "Hello");
  EXPECT_EQ(lookup(bundle, "greeting"), "Hello");
  EXPECT_EQ(lookup(bundle, "empty", "fallback"), "");  // an empty translation is a translation
  EXPECT_EQ(lookup(bundle, "missing", "fallback"), "fallback");
  EXPECT_EQ(lookup(bundle, "missing", ""), "missing");
  EXPECT_EQ(lookup(bundle, "missing"), "missing");
}

TEST(BundleTest, TablesAreSeparateAndDefaultIsLocalizable) {
  Bundle bundle;
  bundle.setStrings("Localizable", {{"k", "default"}});
  bundle.setStrings("ZELLocalizable", {{"k", "library"}});
  EXPECT_EQ(lookup(bundle, "k", std::nullopt, std::nullopt), "default");
  EXPECT_EQ(lookup(bundle, "k", std::nullopt, ""), "default");
  EXPECT_EQ(lookup(bundle, "k", std::nullopt, "Localizable"), "default");
  EXPECT_EQ(lookup(bundle, "k", std::nullopt, "ZELLocalizable"), "library");
  EXPECT_EQ(lookup(bundle, "k", "v", "Other"), "v");

  bundle.removeTable("ZELLocalizable");
  EXPECT_EQ(lookup(bundle, "k", std::nullopt, "ZELLocalizable"), "k");
  EXPECT_EQ(lookup(bundle, "k"), "default");
}

TEST(BundleTest, SetStringsReplacesLoadingMerges) {
  Bundle bundle;
  bundle.setStrings("T", {{"a", "1"}, {"b", "2"}});
  bundle.setStrings("T", {{"a", "one"}});
  EXPECT_EQ(lookup(bundle, "b", std::nullopt, "T"), "b");

  ASSERT_TRUE(bundle.loadStringsFromString("T", R"("b" = "two"; "a" = "first"; "a" = "uno";)"));
  EXPECT_EQ(lookup(bundle, "a", std::nullopt, "T"), "uno");
  EXPECT_EQ(lookup(bundle, "b", std::nullopt, "T"), "two");
}

TEST(BundleTest, ParsesStringsFormat) {
  Bundle bundle;
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
  EXPECT_EQ(lookup(bundle, "plain"), "Plain text");
  EXPECT_EQ(lookup(bundle, "not", "-"), "-");
  EXPECT_EQ(lookup(bundle, "x", "-"), "-");
  EXPECT_EQ(lookup(bundle, "unquoted_key.v-1"), "Value_2.0");
  EXPECT_EQ(lookup(bundle, "spaced"), "multi\nline");
  EXPECT_EQ(lookup(bundle, "self", "-"), "self");
  EXPECT_EQ(lookup(bundle, "escapes"), "q\" b\\ n\n t\t r\r other'");
  EXPECT_EQ(lookup(bundle, "unicode"), "\xC3\xA9\xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(lookup(bundle, "comment/*inside*/"), "// kept");
}

TEST(BundleTest, MalformedTextLoadsNothing) {
  const std::vector<std::string> malformed = {
      "\"a\" = \"1\"; \"b\" = \"2\"",         // missing ";"
      "\"a\" = \"1\"; \"b\" \"2\";",          // missing "="
      "\"a\" = \"1\"; \"b\" = \"2;",          // unterminated string
      "\"a\" = \"1\"; /* open comment",       // unterminated comment
      "\"a\" = \"1\"; \"b\" = ;",             // missing value
      "\"a\" = \"1\"; = \"2\";",              // missing key
      "\"a\" = \"1\"; \"b\" = \"\\u12G4\";",  // bad hex digit
      "\"a\" = \"1\"; \"b\" = \"\\u12\";",    // short unicode escape
      "\"a\" = \"1\"; \"b\" = \"\\uD83D\";",  // lone high surrogate
      "\"a\" = \"1\"; \"b\" = \"\\uDE00\";",  // lone low surrogate
      "\"a\" = \"1\"; b c = \"2\";",          // two unquoted words
      "\"a\" = \"1\"; k$ = \"2\";",           // character outside unquoted keys
      "\"a\" = \"1\"; \"b\" = \"2\" \"c\";",
  };
  for (const auto& text : malformed) {
    Bundle bundle;
    bundle.setStrings("T", {{"a", "old"}});
    EXPECT_FALSE(bundle.loadStringsFromString("T", text)) << text;
    EXPECT_EQ(lookup(bundle, "a", std::nullopt, "T"), "old") << text;
    EXPECT_EQ(lookup(bundle, "b", std::nullopt, "T"), "b") << text;
  }
}

TEST(BundleTest, LoadsFilesInUTF8AndUTF16) {
  Bundle bundle;
  TempFile utf8("/* c */ \"k1\" = \"caf\xC3\xA9\";");
  EXPECT_TRUE(bundle.loadStringsFile("Files", utf8.path()));

  // "k2" = "€😀"; as UTF-16 little-endian and big-endian with byte-order marks.
  const std::u16string text = u"\"k2\" = \"\u20AC\U0001F600\";";
  std::string little = "\xFF\xFE", big = "\xFE\xFF";
  for (char16_t unit : text) {
    little += static_cast<char>(unit & 0xFF);
    little += static_cast<char>(unit >> 8);
    big += static_cast<char>(unit >> 8);
    big += static_cast<char>(unit & 0xFF);
  }
  TempFile littleFile(little);
  ASSERT_TRUE(bundle.loadStringsFile("LE", littleFile.path()));
  TempFile bigFile(big);
  ASSERT_TRUE(bundle.loadStringsFile("BE", bigFile.path()));

  EXPECT_EQ(lookup(bundle, "k1", std::nullopt, "Files"), "caf\xC3\xA9");
  EXPECT_EQ(lookup(bundle, "k2", std::nullopt, "LE"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(lookup(bundle, "k2", std::nullopt, "BE"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(BundleTest, UnreadableOrMalformedFileLoadsNothing) {
  Bundle bundle;
  EXPECT_FALSE(bundle.loadStringsFile("T", "/nonexistent/zel/none.strings"));
  TempFile malformed("\"a\" = \"1\";\n\"b\" = ");
  EXPECT_FALSE(bundle.loadStringsFile("T", malformed.path()));
  TempFile oddUTF16(std::string("\xFF\xFE\x22", 3));
  EXPECT_FALSE(bundle.loadStringsFile("T", oddUTF16.path()));
  EXPECT_EQ(lookup(bundle, "a", std::nullopt, "T"), "a");
}

TEST(BundleTest, MainBundleIsTheApplicationBundle) {
  EXPECT_EQ(&Bundle::mainBundle(), &zel_mainAppBundle());
  Bundle& main = Bundle::mainBundle();
  main.setStrings("BundleTestTable", {{"k", "v"}});
  EXPECT_EQ(lookup(zel_mainAppBundle(), "k", std::nullopt, "BundleTestTable"), "v");
  main.removeTable("BundleTestTable");

  const std::filesystem::path executable = main.executablePath();
  EXPECT_TRUE(executable.is_absolute());
  EXPECT_TRUE(std::filesystem::equivalent(executable, "/proc/self/exe"));
}

TEST(BundleTest, ConcurrentLookupsAndLoads) {
  Bundle bundle;
  bundle.setStrings("T", {{"stable", "yes"}});
  constexpr int kWriters = 2, kReaders = 4, kRounds = 300;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string key = "w" + std::to_string(w) + "_" + std::to_string(i);
        if (!bundle.loadStringsFromString("T", key + " = \"" + key + "!\";")) ++wrong;
        bundle.setStrings("Scratch" + std::to_string(w), {{key, key}});
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        if (lookup(bundle, "stable", std::nullopt, "T") != "yes") ++wrong;
        const std::string key = "w0_" + std::to_string(i);
        const std::string found = lookup(bundle, key, std::nullopt, "T");
        if (found != key && found != key + "!") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kRounds; ++i) {
      const std::string key = "w" + std::to_string(w) + "_" + std::to_string(i);
      ASSERT_EQ(lookup(bundle, key, std::nullopt, "T"), key + "!");
    }
  }
}

}  // namespace
}  // namespace zel
