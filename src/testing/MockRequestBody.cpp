#include "zel/testing/MockRequestBody.h"

#include "HTTPWire.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/platform/Data.h"

namespace zel {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string formDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
               hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

/// The value of `name=` in a header value's parameters ("form-data; name=\"f\""), unquoted.
std::optional<std::string> parameter(std::string_view value, std::string_view name) {
  std::size_t at = value.find(';');
  while (at != std::string_view::npos) {
    std::string_view rest = mockserver::trim(value.substr(at + 1));
    const auto equals = rest.find('=');
    const auto next = rest.find(';');
    if (equals != std::string_view::npos && (next == std::string_view::npos || equals < next) &&
        headerNameEquals(mockserver::trim(rest.substr(0, equals)), name)) {
      std::string_view found = rest.substr(equals + 1);
      if (!found.empty() && found.front() == '"') {
        const auto close = found.find('"', 1);
        if (close == std::string_view::npos) return std::nullopt;
        return std::string(found.substr(1, close - 1));
      }
      return std::string(mockserver::trim(found.substr(0, found.find(';'))));
    }
    at = value.find(';', at + 1);
  }
  return std::nullopt;
}

std::optional<MockMultipartPart> parsePart(std::string_view text) {
  const auto headEnd = text.find("\r\n\r\n");
  if (headEnd == std::string_view::npos) return std::nullopt;
  MockMultipartPart part;
  std::string_view head = text.substr(0, headEnd);
  while (!head.empty()) {
    const auto lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const auto colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
    part.headers.add(line.substr(0, colon), mockserver::trim(line.substr(colon + 1)));
    head = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
  }
  const auto* disposition = part.headers.find("Content-Disposition");
  if (!disposition) return std::nullopt;
  part.name = parameter(*disposition, "name").value_or("");
  part.filename = parameter(*disposition, "filename");
  if (const auto* type = part.headers.find("Content-Type")) part.contentType = *type;
  part.body = text.substr(headEnd + 4);
  return part;
}

}  // namespace

std::optional<std::string> decodedBody(const MockRequest& request) {
  const auto* encoding = request.headers.find("Content-Encoding");
  if (!encoding || !headerNameEquals(mockserver::trim(*encoding), "gzip")) return request.body;
  const auto gunzipped =
      zel_gunzippedData(Data::copy(std::string_view(request.body)), MockServer::kMaxBodyBytes);
  if (!gunzipped) return std::nullopt;
  return std::string(gunzipped->stringView());
}

std::vector<std::pair<std::string, std::string>> formFields(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> fields;
  while (!body.empty()) {
    const auto amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    if (!pair.empty()) {
      const auto equals = pair.find('=');
      fields.emplace_back(
          formDecoded(pair.substr(0, equals)),
          equals == std::string_view::npos ? std::string() : formDecoded(pair.substr(equals + 1)));
    }
    if (amp == std::string_view::npos) break;
    body.remove_prefix(amp + 1);
  }
  return fields;
}

std::optional<std::vector<MockMultipartPart>> multipartParts(const MockRequest& request) {
  const auto* type = request.headers.find("Content-Type");
  if (!type ||
      !headerNameEquals(mockserver::trim(std::string_view(*type).substr(0, type->find(';'))),
                        "multipart/form-data")) {
    return std::nullopt;
  }
  const auto boundary = parameter(*type, "boundary");
  const auto body = decodedBody(request);
  if (!boundary || boundary->empty() || !body) return std::nullopt;
  const std::string delimiter = "--" + *boundary;
  std::string_view rest = *body;
  if (rest.substr(0, delimiter.size()) != delimiter) return std::nullopt;
  std::vector<MockMultipartPart> parts;
  for (;;) {
    rest.remove_prefix(delimiter.size());
    if (rest.substr(0, 2) == "--") return parts;  // the closing delimiter
    if (rest.substr(0, 2) != "\r\n") return std::nullopt;
    rest.remove_prefix(2);
    const auto end = rest.find("\r\n" + delimiter);
    if (end == std::string_view::npos) return std::nullopt;
    auto part = parsePart(rest.substr(0, end));
    if (!part) return std::nullopt;
    parts.push_back(std::move(*part));
    rest.remove_prefix(end + 2);
  }
}

}  // namespace zel
