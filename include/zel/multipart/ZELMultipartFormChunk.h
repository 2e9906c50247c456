#pragma once
// ZELMultipartFormChunk — what an application asks to upload in a multipart body: a file
// (ZELMultipartFormChunkFile, tag 0) or a plain form field (ZELMultipartFormChunkForm, tag 1).
//
//   std::vector<std::shared_ptr<zel::ZELMultipartFormChunk>> chunks{
//       std::make_shared<zel::ZELMultipartFormChunkFile>(photo, "photo", "me.jpg", "image/jpeg"),
//       std::make_shared<zel::ZELMultipartFormChunkForm>(zel::Data::copy("hi"), "caption")};
//
// Chunks are shared records: the builder reads them (ZELMultipartFormData::appendPartWithChunk)
// and keeps nothing of them but their bytes. Fields the platform allowed to be missing are
// std::optional; the builder reports a missing required one and goes on without it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "zel/platform/Data.h"

namespace zel {

class ZELMultipartFormChunkFile;
class ZELMultipartFormChunkForm;

class ZELMultipartFormChunk {
 public:
  static constexpr std::int64_t kFileTag = 0;
  static constexpr std::int64_t kFormTag = 1;

  /// A chunk of the given kind. Only the two subclasses make usable chunks; a plain chunk (or
  /// one whose tag is neither kind) is refused by match.
  explicit ZELMultipartFormChunk(std::int64_t tag) noexcept : tag_(tag) {}
  virtual ~ZELMultipartFormChunk() = default;

  [[nodiscard]] std::int64_t tag() const noexcept { return tag_; }
  void setTag(std::int64_t tag) noexcept { tag_ = tag; }

  /// Calls onFile for a file chunk or onForm for a form chunk and returns its result; absent,
  /// with the assertion report "Match error" and neither function called, when the tag names
  /// no kind or the chunk is not of the kind its tag names (a plain chunk tagged 0, a file
  /// chunk re-tagged 1). The functions take `const ZELMultipartFormChunkFile&` and
  /// `const ZELMultipartFormChunkForm&`; their results must share a common type R and the
  /// match yields std::optional<R>. When both return void, the match yields whether one ran.
  template <class FileFunction, class FormFunction>
  [[nodiscard]] static auto match(const ZELMultipartFormChunk& chunk, FileFunction&& onFile,
                                  FormFunction&& onForm);

 protected:
  ZELMultipartFormChunk(const ZELMultipartFormChunk&) = default;
  ZELMultipartFormChunk& operator=(const ZELMultipartFormChunk&) = default;

 private:
  static void reportMatchError();

  std::int64_t tag_;
};

/// One file to upload: its bytes, the form field name, the file name announced to the server,
/// the part's Content-Type and an optional Content-Transfer-Encoding.
class ZELMultipartFormChunkFile final : public ZELMultipartFormChunk {
 public:
  ZELMultipartFormChunkFile(std::optional<Data> data, std::optional<std::string> name,
                            std::optional<std::string> fileName,
                            std::optional<std::string> mimeType,
                            std::optional<std::string> contentTransferEncoding = std::nullopt)
      : ZELMultipartFormChunk(kFileTag),
        data_(std::move(data)),
        name_(std::move(name)),
        fileName_(std::move(fileName)),
        mimeType_(std::move(mimeType)),
        contentTransferEncoding_(std::move(contentTransferEncoding)) {}
  ZELMultipartFormChunkFile(const ZELMultipartFormChunkFile&) = default;
  ZELMultipartFormChunkFile& operator=(const ZELMultipartFormChunkFile&) = default;

  [[nodiscard]] const std::optional<Data>& data() const noexcept { return data_; }
  void setData(std::optional<Data> data) { data_ = std::move(data); }
  [[nodiscard]] const std::optional<std::string>& name() const noexcept { return name_; }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }
  [[nodiscard]] const std::optional<std::string>& fileName() const noexcept { return fileName_; }
  void setFileName(std::optional<std::string> fileName) { fileName_ = std::move(fileName); }
  [[nodiscard]] const std::optional<std::string>& mimeType() const noexcept { return mimeType_; }
  void setMimeType(std::optional<std::string> mimeType) { mimeType_ = std::move(mimeType); }
  [[nodiscard]] const std::optional<std::string>& contentTransferEncoding() const noexcept {
    return contentTransferEncoding_;
  }
  void setContentTransferEncoding(std::optional<std::string> encoding) {
    contentTransferEncoding_ = std::move(encoding);
  }

 private:
  std::optional<Data> data_;
  std::optional<std::string> name_;
  std::optional<std::string> fileName_;
  std::optional<std::string> mimeType_;
  std::optional<std::string> contentTransferEncoding_;
};

/// One plain form field: its value bytes and its name.
class ZELMultipartFormChunkForm final : public ZELMultipartFormChunk {
 public:
  ZELMultipartFormChunkForm(std::optional<Data> data, std::optional<std::string> name)
      : ZELMultipartFormChunk(kFormTag), data_(std::move(data)), name_(std::move(name)) {}
  ZELMultipartFormChunkForm(const ZELMultipartFormChunkForm&) = default;
  ZELMultipartFormChunkForm& operator=(const ZELMultipartFormChunkForm&) = default;

  [[nodiscard]] const std::optional<Data>& data() const noexcept { return data_; }
  void setData(std::optional<Data> data) { data_ = std::move(data); }
  [[nodiscard]] const std::optional<std::string>& name() const noexcept { return name_; }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }

 private:
  std::optional<Data> data_;
  std::optional<std::string> name_;
};

template <class FileFunction, class FormFunction>
auto ZELMultipartFormChunk::match(const ZELMultipartFormChunk& chunk, FileFunction&& onFile,
                                  FormFunction&& onForm) {
  using FileResult = std::invoke_result_t<FileFunction&, const ZELMultipartFormChunkFile&>;
  using FormResult = std::invoke_result_t<FormFunction&, const ZELMultipartFormChunkForm&>;
  using Result = std::common_type_t<FileResult, FormResult>;

  // The tag chooses the function; the dynamic type must agree, so a function never sees a
  // chunk that lacks the fields of its kind.
  const auto* file =
      chunk.tag() == kFileTag ? dynamic_cast<const ZELMultipartFormChunkFile*>(&chunk) : nullptr;
  const auto* form =
      chunk.tag() == kFormTag ? dynamic_cast<const ZELMultipartFormChunkForm*>(&chunk) : nullptr;

  if constexpr (std::is_void_v<Result>) {
    if (file != nullptr) {
      std::invoke(onFile, *file);
      return true;
    }
    if (form != nullptr) {
      std::invoke(onForm, *form);
      return true;
    }
    reportMatchError();
    return false;
  } else {
    if (file != nullptr) return std::optional<Result>(std::invoke(onFile, *file));
    if (form != nullptr) return std::optional<Result>(std::invoke(onForm, *form));
    reportMatchError();
    return std::optional<Result>();
  }
}

}  // namespace zel
