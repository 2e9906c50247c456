#pragma once
// Reading what a client sent to the mock server: form fields, multipart parts, gzipped bodies.
//
//   const auto parts = zel::multipartParts(server.requests()[0]);
//   ASSERT_TRUE(parts);
//   EXPECT_EQ((*parts)[0].filename, "photo.jpg");

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/platform/HTTPHeaders.h"
#include "zel/testing/MockServer.h"

namespace zel {

struct MockMultipartPart {
  HTTPHeaders headers;
  std::string name;                     // from Content-Disposition
  std::optional<std::string> filename;  // from Content-Disposition, when given
  std::string contentType;              // empty when the part has none
  std::string body;
};

/// The body as sent, or gunzipped when the request's Content-Encoding is gzip; absent when a
/// gzipped body does not decode (or would decode beyond MockServer::kMaxBodyBytes).
[[nodiscard]] std::optional<std::string> decodedBody(const MockRequest& request);

/// "a=1&b=x+y" as (name, value) pairs in order, percent-escapes and '+' decoded. An escape that
/// is not two hexadecimal digits is kept as it stands.
[[nodiscard]] std::vector<std::pair<std::string, std::string>> formFields(std::string_view body);

/// The parts of a multipart/form-data request (decoded body, boundary from its Content-Type);
/// absent when the request is not multipart or its body is malformed.
[[nodiscard]] std::optional<std::vector<MockMultipartPart>> multipartParts(
    const MockRequest& request);

}  // namespace zel
