#pragma once
// Reads response heads from untrusted bytes: a status line, header fields, a blank line.
// Informational (1xx) heads are skipped; the final head is reported once complete.
//
// Bytes may arrive in any pieces (libcurl hands over whole lines; the parser does not rely on
// it). Repeated fields are joined with ", "; obsolete folded lines continue the field before.
// A field name that is not a token, or a value with a bare CR or a NUL, makes the head
// malformed.
// Time is linear in the head's size, whatever its number of fields.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zel/platform/HTTPHeaders.h"

namespace zel::detail {

struct ResponseHead {
  int statusCode = 0;
  std::string httpVersion;  // "HTTP/1.1", "HTTP/2"
  HTTPHeaders headers;
};

class ResponseHeadParser {
 public:
  /// The largest head (informational heads included) the parser takes.
  static constexpr std::size_t kMaxHeadBytes = 256 * 1024;

  enum class Outcome { NeedMore, HeadComplete, Malformed, TooLarge };

  /// Feeds the next bytes. Once HeadComplete, Malformed or TooLarge was returned, the parser
  /// keeps returning it; bytes after the head's blank line are not read.
  Outcome feed(std::string_view bytes);

  /// The final head; valid once feed() returned HeadComplete (and taken once).
  [[nodiscard]] ResponseHead takeHead();
  /// Whether any byte of a head arrived yet.
  [[nodiscard]] bool sawBytes() const noexcept { return totalBytes_ > 0; }

 private:
  Outcome feedLine(std::string_view line);  // one line without its line ending
  void startHead();
  std::size_t fieldIndex(std::string_view name);

  static constexpr std::size_t kNoField = static_cast<std::size_t>(-1);
  // Up to this many fields a linear search is cheapest; beyond, a hash index keeps it linear.
  static constexpr std::size_t kLinearSearchFields = 16;

  Outcome outcome_ = Outcome::NeedMore;
  std::size_t totalBytes_ = 0;
  std::string partialLine_;
  bool sawStatusLine_ = false;
  int statusCode_ = 0;
  std::string httpVersion_;
  std::vector<HTTPHeaders::Field> fields_;
  std::unordered_map<std::string, std::size_t> index_;  // lower-cased name → field
  std::size_t lastField_ = kNoField;
};

}  // namespace zel::detail
