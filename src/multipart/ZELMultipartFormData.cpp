#include "zel/multipart/ZELMultipartFormData.h"

#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>

#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kDashes = "--";
constexpr std::string_view kBoundaryPrefix = "ZELBoundary+";

constexpr const char* kAppendChunkMethod = "-[ZELMultipartFormData appendPartWithChunk:]";
constexpr const char* kAppendFileMethod =
    "-[ZELMultipartFormData appendPartWithFileData:name:fileName:mimeType:"
    "contentTransferEncoding:]";
constexpr const char* kAppendFormMethod = "-[ZELMultipartFormData appendPartWithFormData:name:]";
constexpr const char* kAppendHeadersMethod = "-[ZELMultipartFormData appendPartWithHeaders:body:]";
constexpr const char* kBodyDataMethod = "-[ZELMultipartFormData bodyData]";
constexpr const char* kInitMethod = "-[ZELMultipartFormData init]";

void reportMissing(std::string_view argument, const char* method) {
  ZELAssertionFailure("Invalid parameter not satisfying: " + std::string(argument), method);
}

// A last resort when neither OpenSSL nor the kernel hands out random bytes: distinct per call
// and per process, though not unpredictable.
std::uint32_t fallbackRandom32() {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t x =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull) ^
      reinterpret_cast<std::uintptr_t>(&counter);
  // splitmix64 finalizer
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>(x ^ (x >> 31));
}

std::uint32_t systemRandom32() {
  std::uint32_t value = 0;
  if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) == 1) return value;
  try {
    std::random_device device;
    return static_cast<std::uint32_t>(device());
  } catch (...) {
    ZELAssertionFailure("No random source for the multipart boundary; using a fallback",
                        kInitMethod);
    return fallbackRandom32();
  }
}

std::string boundaryWithRandomValues(std::uint32_t first, std::uint32_t second) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string boundary(kBoundaryPrefix);
  boundary.reserve(kBoundaryPrefix.size() + 16);
  for (const std::uint32_t value : {first, second}) {
    for (int shift = 28; shift >= 0; shift -= 4)
      boundary.push_back(kHexDigits[(value >> shift) & 0xF]);
  }
  return boundary;
}

bool isLineBreak(char c) noexcept {
  return c == '\r' || c == '\n';
}

std::size_t lineBreakCount(std::string_view text) noexcept {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), isLineBreak));
}

void append(std::vector<std::uint8_t>& out, std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  out.insert(out.end(), bytes, bytes + text.size());
}

// CR and LF become "%0D" and "%0A" (three bytes for one), everything else stays.
void appendEscaped(std::vector<std::uint8_t>& out, std::string_view text) {
  for (;;) {
    const auto next = text.find_first_of("\r\n");
    append(out, text.substr(0, next));
    if (next == std::string_view::npos) return;
    append(out, text[next] == '\r' ? "%0D" : "%0A");
    text.remove_prefix(next + 1);
  }
}

}  // namespace

ZELMultipartFormData::ZELMultipartFormData() : ZELMultipartFormData(systemRandom32) {}

ZELMultipartFormData::ZELMultipartFormData(const std::function<std::uint32_t()>& random32) {
  const std::uint32_t first = random32();
  const std::uint32_t second = random32();
  boundary_ = boundaryWithRandomValues(first, second);
}

void ZELMultipartFormData::appendPartWithChunk(
    const std::shared_ptr<const ZELMultipartFormChunk>& chunk) {
  if (!chunk) {
    // A part made of nothing would only send the server an empty, nameless field.
    reportMissing("chunk", kAppendChunkMethod);
    return;
  }
  (void)ZELMultipartFormChunk::match(
      *chunk,
      [this](const ZELMultipartFormChunkFile& file) {
        appendPartWithFileData(file.data(), file.name(), file.fileName(), file.mimeType(),
                               file.contentTransferEncoding());
      },
      [this](const ZELMultipartFormChunkForm& form) {
        appendPartWithFormData(form.data(), form.name());
      });
}

void ZELMultipartFormData::appendPartWithFileData(
    std::optional<Data> data, std::optional<std::string_view> name,
    std::optional<std::string_view> fileName, std::optional<std::string_view> mimeType,
    std::optional<std::string_view> contentTransferEncoding) {
  if (!data) reportMissing("data", kAppendFileMethod);
  if (!name) reportMissing("name", kAppendFileMethod);
  if (!fileName) reportMissing("fileName", kAppendFileMethod);
  if (!mimeType) reportMissing("mimeType", kAppendFileMethod);

  std::string disposition = "form-data; name=\"";
  disposition.append(name.value_or("")).append("\"; filename=\"");
  disposition.append(fileName.value_or("")).append("\"");

  HTTPHeaders headers;
  headers.reserve(3);
  headers.set("Content-Disposition", std::move(disposition));
  if (mimeType) headers.set("Content-Type", std::string(*mimeType));
  if (contentTransferEncoding) {
    headers.set("Content-Transfer-Encoding", std::string(*contentTransferEncoding));
  }
  appendPartWithHeaders(std::move(headers), std::move(data));
}

void ZELMultipartFormData::appendPartWithFormData(std::optional<Data> data,
                                                  std::optional<std::string_view> name) {
  if (!data) reportMissing("data", kAppendFormMethod);
  if (!name) reportMissing("name", kAppendFormMethod);

  std::string disposition = "form-data; name=\"";
  disposition.append(name.value_or("")).append("\"");
  appendPartWithHeaders(HTTPHeaders{{"Content-Disposition", std::move(disposition)}},
                        std::move(data));
}

void ZELMultipartFormData::appendPartWithHeaders(std::optional<HTTPHeaders> headers,
                                                 std::optional<Data> body) {
  if (!headers) reportMissing("headers", kAppendHeadersMethod);
  if (!body) reportMissing("body", kAppendHeadersMethod);
  parts_.emplace_back(headers ? std::move(*headers) : HTTPHeaders{},
                      body ? std::move(*body) : Data{});
}

std::optional<ZELMultipartFormData::Layout> ZELMultipartFormData::layout() const {
  if (parts_.empty()) {
    ZELAssertionFailure("Invalid Request: Trying to create multi-part request with zero parts.",
                        kBodyDataMethod);
    return std::nullopt;
  }
  const std::size_t delimiter = kDashes.size() + boundary_.size() + kCRLF.size();
  Layout layout;
  // Every later delimiter also carries the CRLF that ends the previous body.
  layout.size = delimiter + (parts_.size() - 1) * (kCRLF.size() + delimiter);
  for (const auto& part : parts_) {
    for (const auto& [name, value] : part.headers()) {
      const std::size_t breaks = lineBreakCount(name) + lineBreakCount(value);
      layout.escapedLineBreaks = layout.escapedLineBreaks || breaks != 0;
      layout.size += name.size() + 2 + value.size() + kCRLF.size() + 2 * breaks;
    }
    layout.size += kCRLF.size() + part.body().size();
  }
  layout.size += kCRLF.size() + kDashes.size() + boundary_.size() + kDashes.size() + kCRLF.size();
  if (layout.escapedLineBreaks) {
    ZELAssertionFailure("Multipart header name or value contains CR or LF; escaped",
                        kBodyDataMethod);
  }
  return layout;
}

std::optional<Data> ZELMultipartFormData::bodyData() {
  const auto layout = this->layout();
  if (!layout) return std::nullopt;

  std::vector<std::uint8_t> body;
  body.reserve(layout->size);
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    if (i != 0) append(body, kCRLF);
    append(body, kDashes);
    append(body, boundary_);
    append(body, kCRLF);
    for (const auto& [name, value] : parts_[i].headers()) {
      appendEscaped(body, name);
      append(body, ": ");
      appendEscaped(body, value);
      append(body, kCRLF);
    }
    append(body, kCRLF);
    const auto bytes = parts_[i].body().bytes();
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  append(body, kCRLF);
  append(body, kDashes);
  append(body, boundary_);
  append(body, kDashes);
  append(body, kCRLF);

  contentLength_ = body.size();
  return Data(std::move(body));
}

std::uint64_t ZELMultipartFormData::contentLength() {
  if (contentLength_ != 0) return contentLength_;
  if (const auto layout = this->layout()) contentLength_ = layout->size;
  return contentLength_;
}

}  // namespace zel
