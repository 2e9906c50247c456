#pragma once
// Copying header fields onto a request.

#include <optional>

#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/URLRequest.h"

namespace zel {

/// Sets each field of headers on the request, in order, replacing any value the field had
/// (names matched case-insensitively). Empty or absent headers change nothing.
void zel_addHeadersFromDictionary(URLRequest& request, const HTTPHeaders& headers);
void zel_addHeadersFromDictionary(URLRequest& request, const std::optional<HTTPHeaders>& headers);

}  // namespace zel
