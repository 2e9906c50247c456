#include "zel/foundation/Bundle.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <system_error>

namespace zel {
namespace {

using Table = std::map<std::string, std::string, std::less<>>;

constexpr std::string_view kDefaultTable = "Localizable";

std::string_view tableName(std::optional<std::string_view> table) noexcept {
  return (table && !table->empty()) ? *table : kDefaultTable;
}

void appendUTF8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isHighSurrogate(char32_t u) noexcept {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char32_t u) noexcept {
  return u >= 0xDC00 && u <= 0xDFFF;
}

// UTF-16 with a byte-order mark becomes UTF-8; anything else is taken as UTF-8.
std::optional<std::string> decodeFileText(std::string bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() < 2) return bytes;
  const bool little = byte(0) == 0xFF && byte(1) == 0xFE;
  const bool big = byte(0) == 0xFE && byte(1) == 0xFF;
  if (!little && !big) return bytes;
  if (bytes.size() % 2 != 0) return std::nullopt;

  std::string out;
  out.reserve(bytes.size());
  const auto unit = [&](std::size_t i) -> char32_t {
    return little ? (byte(i) | (byte(i + 1) << 8)) : ((byte(i) << 8) | byte(i + 1));
  };
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (isHighSurrogate(u)) {
      if (i + 2 >= bytes.size() || !isLowSurrogate(unit(i + 2))) return std::nullopt;
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (isLowSurrogate(u)) {
      return std::nullopt;
    }
    appendUTF8(out, u);
  }
  return out;
}

bool isUnquotedChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-';
}

bool isSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

int hexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the ".strings" format; every method returns false on malformed input.
class StringsParser {
 public:
  explicit StringsParser(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) text_.remove_prefix(3);
  }

  bool parse(Table& out) {
    while (true) {
      if (!skipSpaceAndComments()) return false;
      if (atEnd()) return true;
      std::string key;
      if (!parseString(key)) return false;
      if (!skipSpaceAndComments() || atEnd()) return false;
      if (peek() == ';') {
        ++pos_;
        out.insert_or_assign(key, key);
        continue;
      }
      if (peek() != '=') return false;
      ++pos_;
      std::string value;
      if (!skipSpaceAndComments() || !parseString(value)) return false;
      if (!skipSpaceAndComments() || atEnd() || peek() != ';') return false;
      ++pos_;
      out.insert_or_assign(std::move(key), std::move(value));
    }
  }

 private:
  bool atEnd() const noexcept { return pos_ >= text_.size(); }
  char peek() const noexcept { return text_[pos_]; }

  bool skipSpaceAndComments() {
    while (!atEnd()) {
      if (isSpace(peek())) {
        ++pos_;
      } else if (text_.substr(pos_).starts_with("//")) {
        const std::size_t end = text_.find('\n', pos_);
        pos_ = (end == std::string_view::npos) ? text_.size() : end + 1;
      } else if (text_.substr(pos_).starts_with("/*")) {
        const std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return false;
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  bool parseString(std::string& out) {
    if (atEnd()) return false;
    if (peek() == '"') return parseQuoted(out);
    const std::size_t start = pos_;
    while (!atEnd() && isUnquotedChar(peek())) ++pos_;
    if (pos_ == start) return false;
    out = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  bool parseQuoted(std::string& out) {
    ++pos_;  // the opening quote
    while (!atEnd()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (atEnd()) return false;
      const char escaped = text_[pos_++];
      switch (escaped) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'u':
        case 'U':
          if (!parseUnicodeEscape(out)) return false;
          break;
        default:
          out.push_back(escaped);
          break;  // \" \\ and any other character as itself
      }
    }
    return false;
  }

  bool readHex4(char32_t& unit) {
    if (text_.size() - pos_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hexValue(text_[pos_ + i]);
      if (digit < 0) return false;
      unit = (unit << 4) | static_cast<char32_t>(digit);
    }
    pos_ += 4;
    return true;
  }

  // After "\u": four hex digits; a high surrogate must be followed by "\u" and a low one.
  bool parseUnicodeEscape(std::string& out) {
    char32_t unit = 0;
    if (!readHex4(unit)) return false;
    if (isLowSurrogate(unit)) return false;
    if (isHighSurrogate(unit)) {
      char32_t low = 0;
      if (text_.size() - pos_ < 2 || text_[pos_] != '\\' ||
          (text_[pos_ + 1] != 'u' && text_[pos_ + 1] != 'U')) {
        return false;
      }
      pos_ += 2;
      if (!readHex4(low) || !isLowSurrogate(low)) return false;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUTF8(out, unit);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

struct Bundle::State {
  mutable std::shared_mutex mutex;
  std::map<std::string, Table, std::less<>> tables;
};

Bundle::Bundle() : state_(std::make_unique<State>()) {}

Bundle::~Bundle() = default;

Bundle& Bundle::mainBundle() {
  static auto* bundle = new Bundle();
  return *bundle;
}

Bundle& zel_mainAppBundle() {
  return Bundle::mainBundle();
}

std::string Bundle::localizedStringForKey(std::string_view key,
                                          std::optional<std::string_view> value,
                                          std::optional<std::string_view> table) const {
  {
    std::shared_lock lock(state_->mutex);
    const auto found = state_->tables.find(tableName(table));
    if (found != state_->tables.end()) {
      const auto entry = found->second.find(key);
      if (entry != found->second.end()) return entry->second;
    }
  }
  return std::string((value && !value->empty()) ? *value : key);
}

bool Bundle::loadStringsFile(std::string_view table, const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return false;
  const auto text = decodeFileText(std::move(bytes));
  return text && loadStringsFromString(table, *text);
}

bool Bundle::loadStringsFromString(std::string_view table, std::string_view text) {
  Table parsed;
  if (!StringsParser(text).parse(parsed)) return false;
  std::unique_lock lock(state_->mutex);
  auto& target = state_->tables.try_emplace(std::string(tableName(table))).first->second;
  for (auto& [key, value] : parsed) target.insert_or_assign(key, std::move(value));
  return true;
}

void Bundle::setStrings(std::string_view table, std::map<std::string, std::string> strings) {
  Table replacement;
  replacement.merge(strings);
  std::unique_lock lock(state_->mutex);
  state_->tables.insert_or_assign(std::string(tableName(table)), std::move(replacement));
}

void Bundle::removeTable(std::string_view table) {
  std::unique_lock lock(state_->mutex);
  const auto found = state_->tables.find(tableName(table));
  if (found != state_->tables.end()) state_->tables.erase(found);
}

std::string Bundle::executablePath() const {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

}  // namespace zel
