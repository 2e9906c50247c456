#pragma once
// Byte-buffer utilities: gzip, hexadecimal text and Base64.

#include <optional>
#include <string>
#include <string_view>

#include "zel/platform/Data.h"

namespace zel {

/// The gzip-compressed bytes (RFC 1952 member, default compression level), or absent on
/// failure. An empty input gives a valid gzip stream of an empty payload.
[[nodiscard]] std::optional<Data> zel_gzippedData(const Data& data);

/// The gzip-decompressed bytes, or absent when the input is not a complete, valid gzip stream
/// or would inflate beyond maxSize bytes.
[[nodiscard]] std::optional<Data> zel_gunzippedData(const Data& data,
                                                    std::size_t maxSize = std::size_t{1} << 30);

/// Two lowercase hexadecimal digits per byte, in byte order.
[[nodiscard]] std::string zel_hexString(const Data& data);

/// The standard Base64 encoding (RFC 4648, with padding, no line breaks).
[[nodiscard]] std::string zel_base64EncodedString(std::string_view bytes);

}  // namespace zel
