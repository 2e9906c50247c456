#include "zel/foundation/ZELDataAdditions.h"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace zel {
namespace {

constexpr int kCompressionLevel = 6;

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const noexcept { libdeflate_free_compressor(c); }
};
struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};

// Compressors are costly to set up (hundreds of KiB of tables): one per thread, reused.
libdeflate_compressor* threadCompressor() {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
      libdeflate_alloc_compressor(kCompressionLevel));
  return compressor.get();
}

libdeflate_decompressor* threadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
      libdeflate_alloc_decompressor());
  return decompressor.get();
}

}  // namespace

std::optional<Data> zel_gzippedData(const Data& data) {
  auto* compressor = threadCompressor();
  if (compressor == nullptr) return std::nullopt;
  const std::size_t bound = libdeflate_gzip_compress_bound(compressor, data.size());
  std::vector<std::uint8_t> out(bound);
  const std::size_t written =
      libdeflate_gzip_compress(compressor, data.data(), data.size(), out.data(), out.size());
  if (written == 0) return std::nullopt;
  out.resize(written);
  return Data(std::move(out));
}

std::optional<Data> zel_gunzippedData(const Data& data, std::size_t maxSize) {
  auto* decompressor = threadDecompressor();
  if (decompressor == nullptr || data.size() < 18) return std::nullopt;
  // The trailer's ISIZE is the payload size modulo 2^32: a first guess, grown on demand.
  const auto* end = data.data() + data.size();
  std::size_t guess = static_cast<std::size_t>(end[-4]) | static_cast<std::size_t>(end[-3]) << 8 |
                      static_cast<std::size_t>(end[-2]) << 16 |
                      static_cast<std::size_t>(end[-1]) << 24;
  if (guess > maxSize) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t capacity = std::max<std::size_t>(guess, 64);; capacity *= 2) {
    if (capacity > maxSize) capacity = maxSize;
    out.resize(capacity);
    std::size_t inRead = 0;
    std::size_t outWritten = 0;
    const auto result = libdeflate_gzip_decompress_ex(decompressor, data.data(), data.size(),
                                                      out.data(), out.size(), &inRead, &outWritten);
    if (result == LIBDEFLATE_SUCCESS) {
      if (inRead != data.size()) return std::nullopt;  // trailing bytes after the member
      out.resize(outWritten);
      return Data(std::move(out));
    }
    if (result != LIBDEFLATE_INSUFFICIENT_SPACE || capacity >= maxSize) return std::nullopt;
  }
}

std::string zel_hexString(const Data& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(data.size() * 2, '\0');
  const auto* bytes = data.data();
  for (std::size_t i = 0; i < data.size(); ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

std::string zel_base64EncodedString(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace zel
