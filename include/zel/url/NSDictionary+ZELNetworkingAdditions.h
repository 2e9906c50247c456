#pragma once
// Parameter dictionaries as query text.

#include <string>

#include "zel/platform/ParameterDictionary.h"

namespace zel {

/// "name=value&name=value" in the dictionary's order, each name and each value's textual
/// description percent-encoded as zel_urlEncodedString does: {q: "a b", n: 5} gives
/// "q=a%20b&n=5". The empty dictionary gives "". Text that is not valid UTF-8 is encoded byte by
/// byte, so what the caller gave is what the server decodes.
[[nodiscard]] std::string queryStringValue(const ParameterDictionary& parameters);

}  // namespace zel
