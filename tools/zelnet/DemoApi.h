#pragma once
// The demo API: a small JSON web API on the mock server, answering with the API's envelope
// ({"status": "success"|"failure", "code": N, "message": S, "data": ...}). Everything lives under
// /v3/:
//
//   GET  users/me/           the signed-in user; needs "Authorization: Bearer <token>" with a
//                            token handed out by tokens/refresh/ (code 2 without one)
//   POST tokens/refresh/     checks "Authorization: Basic" against the client credentials
//                            (code 3 when wrong) and hands out a token
//   ANY  echo/               what it received: method, path, query, headers, form fields,
//                            multipart parts with their sizes and SHA-256, whether the body was
//                            gzipped, whether the request signature verifies
//   POST upload/             stores nothing; answers the sizes and SHA-256 of the parts
//   ANY  status/N/           HTTP status N with an empty body
//   ANY  fail/N/             HTTP 200 with a failed envelope of service code N
//   ANY  not-json/           a text body
//   ANY  redirect/           302 to echo/?redirected=1
//   ANY  slow/               a body sent in ten pieces, 100 ms apart

#include <memory>
#include <string>
#include <string_view>

#include "zel/testing/MockServer.h"

namespace zelnet {

struct DemoApiCredentials {
  std::string clientID = "demo-client";
  std::string clientSecret = "demo-secret";
};

/// Installs the demo API on the server (as its fallback handler). The state it keeps (tokens
/// handed out) is shared by the server's connection threads.
void installDemoApi(zel::MockServer& server, DemoApiCredentials credentials);

/// The 64 lowercase hexadecimal digits of the bytes' SHA-256, as the API describes uploaded parts.
[[nodiscard]] std::string sha256Hex(std::string_view bytes);

}  // namespace zelnet
