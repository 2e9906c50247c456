// URL parsing and normalization of arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "zel/platform/URL.h"
#include "zel/url/ZELNormalizedURL.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zel::fuzz::quietReports();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zel;
  const auto url = URL::URLWithString(fuzz::textOf(data, size));
  if (!url) return 0;
  const ZELNormalizedURL normalized(*url);
  fuzz::check(normalized.absoluteString() == url->absoluteString(), "the full text is kept");
  const auto& path = normalized.path();
  fuzz::check(path.empty() || (path.front() != '/' && path.back() != '/'),
              "the path is trimmed of slashes");
  fuzz::check(normalized == ZELNormalizedURL(*url), "normalization is deterministic");

  // A relative reference resolved against a fixed base is a URL as well.
  static const auto base = URL::URLWithString("https://api.zelvo.test/v3/a/b?q=1");
  if (const auto resolved = URL::URLWithString(fuzz::textOf(data, size), *base)) {
    fuzz::check(URL::URLWithString(resolved->absoluteString()).has_value(),
                "a resolved URL parses again");
  }
  return 0;
}
