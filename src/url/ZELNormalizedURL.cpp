#include "zel/url/ZELNormalizedURL.h"

#include "PercentEncoding.h"
#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

std::string normalizedPath(const URL& url) {
  std::string path = detail::percentEncoded(url.path(), detail::kURLPathAllowed);
  const auto first = path.find_first_not_of('/');
  if (first == std::string::npos) return {};
  const auto last = path.find_last_not_of('/');
  return path.substr(first, last - first + 1);
}

}  // namespace

ZELNormalizedURL::ZELNormalizedURL(const URL& url)
    : host_(url.host()), path_(normalizedPath(url)), absoluteString_(url.absoluteString()) {
  if (!host_) {
    ZELAssertionFailure("All URLs must have a valid host: " + url.description(),
                        "-[ZELNormalizedURL initWithURL:]");
  }
  if (const auto& query = url.query(); query && !query->empty()) {
    parameters_ = zel_parametersFromQueryString(*query);
  }
}

}  // namespace zel
