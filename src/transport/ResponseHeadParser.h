#pragma once
// Collects the header lines libcurl hands over, one at a time, into response heads.
// Informational (1xx) heads are skipped; the final head is reported once complete.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "zel/platform/HTTPHeaders.h"

namespace zel::detail {

struct ResponseHead {
  int statusCode = 0;
  std::string httpVersion;  // "HTTP/1.1", "HTTP/2"
  HTTPHeaders headers;
};

class ResponseHeadParser {
 public:
  static constexpr std::size_t kMaxHeadBytes = 256 * 1024;

  enum class Outcome { NeedMore, HeadComplete, Malformed, TooLarge };

  /// Feeds one line as libcurl gives it (with its CRLF).
  Outcome feedLine(std::string_view line);

  /// The final head, after HeadComplete.
  [[nodiscard]] ResponseHead& head() noexcept { return head_; }
  void reset();

 private:
  ResponseHead head_;
  bool sawStatusLine_ = false;
  std::size_t totalBytes_ = 0;
  std::string lastName_;
};

}  // namespace zel::detail
