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
                 {"greeting", {}, {}, "Hello"},
                 {"empty", "fallback", {}, ""},  // an empty translation is a translation
                 {"missing", "fallback", {}, "fallback"},
                 {"missing", "", {}, "missing"},
                 {"missing", {}, {}, "missing"},
                 {"k", {}, "", "default"},
                 {"k", {}, "Localizable", "default"},
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

TEST_F(BundleTest, ParsesStringsFormat) {
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
}

TEST_F(BundleTest, MalformedTextLoadsNothing) {
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
  bundle.setStrings("T", {{"a", "old"}});
  for (const auto& text : malformed) {
    EXPECT_FALSE(bundle.loadStringsFromString("T", text)) << text;
    EXPECT_EQ(in("T", "a"), "old") << text;
    EXPECT_EQ(in("T", "b"), "b") << text;
  }
}

TEST_F(BundleTest, LoadsFilesInUTF8AndUTF16AndNothingFromBadOnes) {
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
}

TEST_F(BundleTest, MainBundleIsTheApplicationBundle) {
  EXPECT_EQ(&Bundle::mainBundle(), &zel_mainAppBundle());
  Bundle::mainBundle().setStrings("BundleTestTable", {{"k", "v"}});
  EXPECT_EQ(zel_mainAppBundle().localizedStringForKey("k", std::nullopt, "BundleTestTable"), "v");
  Bundle::mainBundle().removeTable("BundleTestTable");
  const std::filesystem::path executable = Bundle::mainBundle().executablePath();
  EXPECT_TRUE(executable.is_absolute());
  EXPECT_TRUE(std::filesystem::equivalent(executable, "/proc/self/exe"));
}

TEST_F(BundleTest, ConcurrentLookupsAndLoads) {
  bundle.setStrings("T", {{"stable", "yes"}});
  constexpr int kWriters = 2, kReaders = 4, kRounds = 300;
  const auto key = [](int w, int i) { return "w" + std::to_string(w) + "_" + std::to_string(i); };
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        if (!bundle.loadStringsFromString("T", key(w, i) + " = \"" + key(w, i) + "!\";")) ++wrong;
        bundle.setStrings("Scratch" + std::to_string(w), {{key(w, i), key(w, i)}});
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        if (in("T", "stable") != "yes") ++wrong;
        const std::string found = in("T", key(0, i));
        if (found != key(0, i) && found != key(0, i) + "!") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kRounds; ++i) ASSERT_EQ(in("T", key(w, i)), key(w, i) + "!");
  }
}

}  // namespace
}  // namespace zel
