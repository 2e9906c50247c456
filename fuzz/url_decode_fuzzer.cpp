// Percent-decoding of arbitrary bytes, and the encode/decode round trip.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zel::fuzz::quietReports();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zel;
  const auto text = fuzz::textOf(data, size);

  if (const auto decoded = zel_urlDecodedString(text)) {
    // What decodes is valid UTF-8, so it encodes, and encoding it again decodes back to it.
    const auto reencoded = zel_urlEncodedString(*decoded);
    fuzz::check(reencoded.has_value(), "a decoded string encodes");
    fuzz::check(zel_urlDecodedString(*reencoded) == decoded, "encode then decode is identity");
  }

  if (const auto encoded = zel_urlEncodedString(text)) {
    for (const char c : *encoded) {
      fuzz::check(encodedURLAllowedCharacterSet().contains(c) || c == '%' ||
                      (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'),
                  "encoded text holds only allowed characters and escapes");
    }
    fuzz::check(zel_urlDecodedString(*encoded) == std::string(text), "round trip of the input");
  }
  return 0;
}
