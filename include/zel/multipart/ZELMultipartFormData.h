#pragma once
// ZELMultipartFormData — builds a multipart/form-data request body.
//
//   auto form = std::make_shared<zel::ZELMultipartFormData>();
//   form->appendPartWithFormData(zel::Data::copy("hi"), "caption");
//   form->appendPartWithFileData(photo, "photo", "me.jpg", "image/jpeg", std::nullopt);
//   for (const auto& chunk : chunksBlock()) form->appendPartWithChunk(chunk);
//   request.setHTTPBody(form->bodyData());
//   request.setValue("multipart/form-data; boundary=" + form->boundary(), "Content-Type");
//
// Body layout, B being the boundary and CRLF the bytes 13 10:
//
//   --B CRLF                      before the first part (no preamble)
//   CRLF --B CRLF                 before every later part
//   Name: value CRLF …  CRLF      the part's headers in their order, then an empty line
//   body bytes                    unchanged
//   CRLF --B-- CRLF               after the last part
//
// Header names and values are written as given (UTF-8, no quoting or encoding added), except
// that CR and LF are written as "%0D" and "%0A" so no value can end its line early and forge
// headers or a delimiter; a body that needed this reports "Multipart header name or value
// contains CR or LF; escaped" once per build.
//
// A builder belongs to one thread at a time; it has no locking.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/platform/Data.h"
#include "zel/platform/HTTPHeaders.h"

namespace zel {

/// One part of a multipart body: its header fields, in the order they are written, and its
/// body bytes.
class ZELHTTPBodyPart {
 public:
  ZELHTTPBodyPart() = default;
  ZELHTTPBodyPart(HTTPHeaders headers, Data body)
      : headers_(std::move(headers)), body_(std::move(body)) {}

  [[nodiscard]] const HTTPHeaders& headers() const noexcept { return headers_; }
  void setHeaders(HTTPHeaders headers) { headers_ = std::move(headers); }
  [[nodiscard]] const Data& body() const noexcept { return body_; }
  void setBody(Data body) { body_ = std::move(body); }

  friend bool operator==(const ZELHTTPBodyPart&, const ZELHTTPBodyPart&) = default;

 private:
  HTTPHeaders headers_;
  Data body_;
};

/// What a multipart body can be filled with; ZELMultipartFormData is the implementation.
/// Missing arguments are reported through the assertion facility
/// ("Invalid parameter not satisfying: <argument>") and the append goes on without them.
class ZELMultipartFormDataBuilder {
 public:
  virtual ~ZELMultipartFormDataBuilder() = default;

  /// Appends the part a chunk describes, as the two appends below would. A null chunk or
  /// one that match refuses appends nothing.
  virtual void appendPartWithChunk(const std::shared_ptr<const ZELMultipartFormChunk>& chunk) = 0;

  /// Appends a file part: Content-Disposition `form-data; name="<name>"; filename="<file>"`,
  /// Content-Type the MIME type (left out when missing) and, when given,
  /// Content-Transfer-Encoding. A missing name or file name is written as empty.
  virtual void appendPartWithFileData(std::optional<Data> data,
                                      std::optional<std::string_view> name,
                                      std::optional<std::string_view> fileName,
                                      std::optional<std::string_view> mimeType,
                                      std::optional<std::string_view> contentTransferEncoding) = 0;

  /// Appends a form field: Content-Disposition `form-data; name="<name>"`, no Content-Type.
  virtual void appendPartWithFormData(std::optional<Data> data,
                                      std::optional<std::string_view> name) = 0;

 protected:
  ZELMultipartFormDataBuilder() = default;
  ZELMultipartFormDataBuilder(const ZELMultipartFormDataBuilder&) = default;
  ZELMultipartFormDataBuilder& operator=(const ZELMultipartFormDataBuilder&) = default;
};

class ZELMultipartFormData final : public ZELMultipartFormDataBuilder {
 public:
  /// An empty builder whose boundary is "ZELBoundary+" and two random 32-bit values from the
  /// system's cryptographic random source, each as eight uppercase hexadecimal digits.
  ZELMultipartFormData();
  /// The same with the random values drawn from random32 (called twice, first value first).
  explicit ZELMultipartFormData(const std::function<std::uint32_t()>& random32);

  void appendPartWithChunk(const std::shared_ptr<const ZELMultipartFormChunk>& chunk) override;
  void appendPartWithFileData(std::optional<Data> data, std::optional<std::string_view> name,
                              std::optional<std::string_view> fileName,
                              std::optional<std::string_view> mimeType,
                              std::optional<std::string_view> contentTransferEncoding) override;
  void appendPartWithFormData(std::optional<Data> data,
                              std::optional<std::string_view> name) override;
  /// Appends a part with these headers and body as they are. A part without headers still
  /// gets the empty line before its body, so its bytes can never be read as headers.
  void appendPartWithHeaders(std::optional<HTTPHeaders> headers, std::optional<Data> body);

  /// The serialized body of the current parts, built anew on every call, and recorded as
  /// contentLength. Absent, with the report "Invalid Request: Trying to create multi-part
  /// request with zero parts." and contentLength untouched, when there are no parts.
  [[nodiscard]] std::optional<Data> bodyData();

  /// The byte length of the last body built; when nothing was built yet, the length the body
  /// of the current parts would have (recorded as if bodyData had run, with its reports).
  /// Appends after a build do not change it until the next bodyData.
  [[nodiscard]] std::uint64_t contentLength();

  /// 28 characters, fixed at construction.
  [[nodiscard]] const std::string& boundary() const noexcept { return boundary_; }

  /// The parts in append order.
  [[nodiscard]] const std::vector<ZELHTTPBodyPart>& parts() const noexcept { return parts_; }
  void setParts(std::vector<ZELHTTPBodyPart> parts) { parts_ = std::move(parts); }

 private:
  struct Layout {
    std::size_t size = 0;
    bool escapedLineBreaks = false;
  };
  // Measures the body of the current parts and makes the reports of a build; absent without
  // parts.
  [[nodiscard]] std::optional<Layout> layout() const;

  std::string boundary_;
  std::vector<ZELHTTPBodyPart> parts_;
  std::uint64_t contentLength_ = 0;
};

}  // namespace zel
