#include "DemoApi.h"

#include <openssl/sha.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string_view>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/testing/MockRequestBody.h"

namespace zelnet {
namespace {

using boost::json::object;
using zel::MockRequest;
using zel::MockResponse;

MockResponse envelope(int httpStatus, std::int64_t code, const boost::json::value& data,
                      std::string_view message = {}) {
  object body{{"status", code == 0 ? "success" : "failure"}, {"code", code}};
  if (!message.empty()) body["message"] = message;
  if (!data.is_null()) body["data"] = data;
  return MockResponse{
      .status = httpStatus,
      .headers = {{"Content-Type", "application/json"}, {"x-zelvo-rid", "demo-request"}},
      .body = boost::json::serialize(body)};
}

/// The number in "prefix/N/" or "prefix/N"; -1 when there is none.
int numberAfter(std::string_view path, std::string_view prefix) {
  path.remove_prefix(prefix.size());
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  if (path.empty() || path.size() > 4) return -1;
  int value = 0;
  for (const char c : path) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<zel::ZELHTTPMethod> methodOf(std::string_view text) {
  for (const auto method :
       {zel::ZELHTTPMethod::GET, zel::ZELHTTPMethod::POST, zel::ZELHTTPMethod::PUT,
        zel::ZELHTTPMethod::PATCH, zel::ZELHTTPMethod::DELETE, zel::ZELHTTPMethod::HEAD}) {
    if (zel::ZELStringForHTTPMethod(method) == text) return method;
  }
  return std::nullopt;
}

class DemoApi {
 public:
  explicit DemoApi(DemoApiCredentials credentials) : credentials_(std::move(credentials)) {}

  MockResponse handle(const MockRequest& request) {
    const std::string_view path = request.path;
    if (path == "/v3/users/me/" || path == "/v3/users/me") return user(request);
    if (path == "/v3/tokens/refresh/" || path == "/v3/tokens/refresh") return refresh(request);
    if (path == "/v3/echo/" || path == "/v3/echo") return echo(request);
    if (path == "/v3/upload/" || path == "/v3/upload") return upload(request);
    if (path.starts_with("/v3/status/")) {
      const int status = numberAfter(path, "/v3/status/");
      if (status >= 200 && status <= 599) return MockResponse{.status = status};
    }
    if (path.starts_with("/v3/fail/")) {
      const int code = numberAfter(path, "/v3/fail/");
      if (code >= 1) return envelope(200, code, nullptr, "The demo API was asked to fail");
    }
    if (path == "/v3/not-json/") {
      return MockResponse{.headers = {{"Content-Type", "text/plain"}},
                          .body = "This body is not JSON."};
    }
    if (path == "/v3/redirect/") {
      return MockResponse{.status = 302, .headers = {{"Location", "/v3/echo/?redirected=1"}}};
    }
    if (path == "/v3/slow/") {
      MockResponse slow = envelope(200, 0, object{{"pieces", 10}});
      const std::string body = slow.body;
      for (std::size_t i = 0; i < 10; ++i) {
        const std::size_t from = body.size() * i / 10;
        slow.bodyPieces.push_back(body.substr(from, body.size() * (i + 1) / 10 - from));
      }
      slow.body.clear();
      slow.delayBetweenPieces = std::chrono::milliseconds(100);
      return slow;
    }
    return envelope(404, 404, nullptr, "No such resource");
  }

 private:
  MockResponse user(const MockRequest& request) {
    const auto* authorization = request.headers.find("Authorization");
    if (!authorization || !authorization->starts_with("Bearer ") ||
        !knownToken(authorization->substr(7))) {
      return envelope(401, 2, nullptr, "The access token is missing or invalid");
    }
    return envelope(200, 0, object{{"id", 42}, {"name", "Ada"}, {"plan", "demo"}});
  }

  MockResponse refresh(const MockRequest& request) {
    const auto* authorization = request.headers.find("Authorization");
    const std::string expected =
        "Basic " +
        zel::zel_base64EncodedString(credentials_.clientID + ":" + credentials_.clientSecret);
    if (request.method != "POST" || !authorization || *authorization != expected) {
      return envelope(401, 3, nullptr, "The client credentials were refused");
    }
    const std::string token = "demo-token-" + std::to_string(++tokensIssued_);
    {
      std::lock_guard lock(mutex_);
      tokens_.insert(token);
    }
    return envelope(200, 0, object{{"access_token", token}, {"token_type", "bearer"}});
  }

  MockResponse echo(const MockRequest& request) {
    object headers;
    for (const auto& [name, value] : request.headers) headers[name] = value;
    object query;
    for (const auto& [name, value] : zel::formFields(request.query)) query[name] = value;
    const auto* encoding = request.headers.find("Content-Encoding");
    const auto body = zel::decodedBody(request);
    object data{{"method", request.method},
                {"path", request.path},
                {"query", query},
                {"headers", headers},
                {"gzipped", encoding != nullptr && *encoding == "gzip"},
                {"bodyBytes", request.body.size()}};
    const auto* type = request.headers.find("Content-Type");
    if (type && type->starts_with("application/x-www-form-urlencoded") && body) {
      object form;
      for (const auto& [name, value] : zel::formFields(*body)) form[name] = value;
      data["form"] = form;
    }
    if (const auto parts = zel::multipartParts(request)) data["parts"] = describe(*parts);
    data["signature"] = signature(request);
    return envelope(200, 0, data);
  }

  MockResponse upload(const MockRequest& request) {
    const auto parts = zel::multipartParts(request);
    if (request.method != "POST" || !parts) {
      return envelope(400, 400, nullptr, "Expected a multipart/form-data POST");
    }
    const auto* encoding = request.headers.find("Content-Encoding");
    return envelope(200, 0,
                    object{{"parts", describe(*parts)},
                           {"gzipped", encoding != nullptr && *encoding == "gzip"},
                           {"bodyBytes", request.body.size()}});
  }

  static boost::json::array describe(const std::vector<zel::MockMultipartPart>& parts) {
    boost::json::array described;
    for (const auto& part : parts) {
      object entry{
          {"name", part.name}, {"size", part.body.size()}, {"sha256", sha256Hex(part.body)}};
      if (part.filename) entry["filename"] = *part.filename;
      if (!part.contentType.empty()) entry["contentType"] = part.contentType;
      described.push_back(std::move(entry));
    }
    return described;
  }

  /// {"present": bool, "valid": bool}: recomputes the HMAC over what the request carried. The
  /// signed parameters are the query's (GET, DELETE) or the form's, or a multipart body's
  /// fields; the signature itself travels in the query.
  object signature(const MockRequest& request) const {
    auto query = zel::formFields(request.query);
    std::optional<std::string> sent;
    zel::ParameterDictionary signedSet;
    for (const auto& [name, value] : query) {
      if (name == "oauth_signature") sent = value;
    }
    const auto method = methodOf(request.method);
    if (!sent || !method) return object{{"present", sent.has_value()}, {"valid", false}};

    std::string signedTarget = request.path;
    const bool inBody = *method == zel::ZELHTTPMethod::POST || *method == zel::ZELHTTPMethod::PUT;
    if (inBody) {
      // The client appended "client_id=…&timestamp=…&oauth_signature=…" to the path it signed.
      const auto at = request.target.find("client_id=");
      signedTarget = request.target.substr(0, at == std::string::npos ? at : at - 1);
      const auto body = zel::decodedBody(request);
      const auto parts = zel::multipartParts(request);
      if (parts) {
        for (const auto& part : *parts) {
          if (!part.filename) signedSet.set(part.name, part.body);
        }
      } else if (body) {
        for (const auto& [name, value] : zel::formFields(*body)) signedSet.set(name, value);
      }
    } else {
      for (const auto& [name, value] : query) {
        if (name != "oauth_signature") signedSet.set(name, value);
      }
    }
    const auto* host = request.headers.find("Host");
    const std::string signedURL = "http://" + (host ? *host : std::string()) + signedTarget;
    const auto expected = zel::ZELNetworkingClient::signatureForURL(
        signedURL, signedSet, credentials_.clientSecret, *method);
    return object{{"present", true}, {"valid", expected == *sent}};
  }

  bool knownToken(std::string_view token) const {
    std::lock_guard lock(mutex_);
    return tokens_.contains(std::string(token));
  }

  const DemoApiCredentials credentials_;
  std::atomic<int> tokensIssued_{0};
  mutable std::mutex mutex_;
  std::set<std::string> tokens_;
};

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  return zel::zel_hexString(
      zel::Data::copy(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest)));
}

void installDemoApi(zel::MockServer& server, DemoApiCredentials credentials) {
  auto api = std::make_shared<DemoApi>(std::move(credentials));
  server.fallback([api](const MockRequest& request) { return api->handle(request); });
}

}  // namespace zelnet
