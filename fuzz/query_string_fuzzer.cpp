// Query-string parsing of arbitrary bytes: never a crash, and what comes out is decoded text
// that survives an encode/parse round trip.
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
  const auto parameters = zel_parametersFromQueryString(fuzz::textOf(data, size));
  // The query text is empty only when the whole input is.
  fuzz::check(parameters.has_value() == (size != 0), "absent exactly for empty text");
  if (!parameters || parameters->empty()) return 0;

  // Writing the parameters back as a query and parsing that gives the same parameters.
  std::string query;
  for (const auto& [name, value] : *parameters) {
    const auto encodedName = zel_urlEncodedString(name);
    const auto encodedValue = zel_urlEncodedString(value);
    fuzz::check(encodedName && encodedValue, "parsed names and values are valid UTF-8");
    if (!query.empty()) query += '&';
    query += *encodedName + "=" + *encodedValue;
  }
  const auto reparsed = zel_parametersFromQueryString("?" + query);
  fuzz::check(reparsed == parameters, "parse of the written query gives the same parameters");
  return 0;
}
