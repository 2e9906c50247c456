// Response heads from untrusted bytes: whatever the bytes and however they are split, the parser
// reads the same head, never reads past its limit, and joins repeated fields.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "RequestValidation.h"
#include "ResponseHeadParser.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zel::fuzz::quietReports();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zel::detail;
  const auto text = zel::fuzz::textOf(data, size);

  ResponseHeadParser whole;
  const auto outcome = whole.feed(text);
  // The first byte chooses where the same bytes are split.
  ResponseHeadParser split;
  const std::size_t at = size == 0 ? 0 : data[0] % (size + 1);
  split.feed(text.substr(0, at));
  zel::fuzz::check(split.feed(text.substr(at)) == outcome, "a split does not change the outcome");

  if (outcome == ResponseHeadParser::Outcome::HeadComplete) {
    const auto a = whole.takeHead();
    const auto b = split.takeHead();
    zel::fuzz::check(a.statusCode >= 200 && a.statusCode <= 999, "a final status code");
    zel::fuzz::check(
        a.statusCode == b.statusCode && a.httpVersion == b.httpVersion && a.headers == b.headers,
        "a split does not change the head");
    for (const auto& [name, value] : a.headers) {
      zel::fuzz::check(isHTTPToken(name), "field names are tokens");
      zel::fuzz::check(isSafeFieldValue(value), "values hold no CR, LF or NUL");
      zel::fuzz::check(a.headers.find(name) == &value, "repeated fields are joined");
    }
  }
  return 0;
}
