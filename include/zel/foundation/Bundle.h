#pragma once
// zel::Bundle — the application's localized string tables.
//
// A table is a named dictionary from keys to translations ("Localizable" unless a name is
// given). The application loads its tables, usually at start-up, from files in the ".strings"
// text format:
//
//   /* Shown when the request timed out. */
//   "error.timeout" = "The request timed out.";
//   // unquoted keys and values take letters, digits, "_", "." and "-"
//   retry = "Try again";
//   "quote" = "Say \"hi\"\n\U00E9";   // escapes: \" \\ \n \t \r \Uxxxx \uxxxx
//   "same";                           // a key alone maps to itself
//
//   zel::Bundle::mainBundle().loadStringsFile("ZELLocalizable", "/usr/share/app/en.strings");
//
// Lookups and loads may happen on any thread at any time.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zel {

class Bundle {
 public:
  /// The application's bundle: one process-wide instance, never destroyed.
  [[nodiscard]] static Bundle& mainBundle();

  /// A bundle with no tables, independent of the main bundle (for plug-ins and tests).
  Bundle();
  ~Bundle();
  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  /// The translation of key in table (absent or empty: "Localizable"). Without a translation:
  /// value when it is present and non-empty, otherwise the key itself.
  [[nodiscard]] std::string localizedStringForKey(std::string_view key,
                                                  std::optional<std::string_view> value,
                                                  std::optional<std::string_view> table) const;

  /// Reads a ".strings" file (UTF-8, or UTF-16 with a byte-order mark) and merges its entries
  /// into the table, later entries winning. Returns false, loading nothing, when the file cannot
  /// be read or is malformed.
  bool loadStringsFile(std::string_view table, const std::filesystem::path& path);
  /// The same, from text in the ".strings" format.
  bool loadStringsFromString(std::string_view table, std::string_view text);

  /// Replaces the table's entries.
  void setStrings(std::string_view table, std::map<std::string, std::string> strings);
  /// Forgets the table.
  void removeTable(std::string_view table);

  /// The running executable's path (/proc/self/exe resolved), or empty when unavailable.
  [[nodiscard]] std::string executablePath() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// The application's bundle (the main bundle).
[[nodiscard]] Bundle& zel_mainAppBundle();

}  // namespace zel
