#include "PercentEncoding.h"

namespace zel::detail {
namespace {

constexpr bool isContinuation(unsigned char byte) noexcept {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view text, std::size_t pos) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const std::size_t available = text.size() - pos;
  const unsigned char lead = byte(0);
  // The second byte's range depends on the lead: it is what rules out overlong forms,
  // surrogates (U+D800–U+DFFF) and code points above U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (available < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!isContinuation(byte(i))) return 0;
  }
  return length;
}

bool isValidUTF8(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void appendPercentEncoded(std::string& out, std::string_view text, const URLCharacterSet& allowed) {
  std::size_t escapes = 0;
  for (char c : text) escapes += allowed.contains(c) ? 0 : 1;
  const std::size_t start = out.size();
  out.resize(start + text.size() + 2 * escapes);
  char* p = out.data() + start;
  for (char c : text) {
    if (allowed.contains(c)) {
      *p++ = c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      *p++ = '%';
      *p++ = kUpperHexDigits[byte >> 4];
      *p++ = kUpperHexDigits[byte & 0x0F];
    }
  }
}

}  // namespace zel::detail
