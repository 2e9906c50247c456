#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "zel/foundation/ZELDataAdditions.h"
#include "zel/foundation/ZELLock.h"

namespace zel {
namespace {

Data randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return Data(std::move(bytes));
}

TEST(ZELGzip, ProducesAGzipMemberThatRoundTrips) {
  const auto text = Data::copy(std::string(10000, 'a') + "tail");
  auto gz = zel_gzippedData(text);
  ASSERT_TRUE(gz.has_value());
  ASSERT_GE(gz->size(), 18u);
  // RFC 1952: magic bytes, deflate method, and ISIZE (little-endian) in the trailer.
  EXPECT_EQ(gz->data()[0], 0x1f);
  EXPECT_EQ(gz->data()[1], 0x8b);
  EXPECT_EQ(gz->data()[2], 8);
  const auto* end = gz->data() + gz->size();
  const std::uint32_t isize =
      end[-4] | end[-3] << 8 | end[-2] << 16 | static_cast<std::uint32_t>(end[-1]) << 24;
  EXPECT_EQ(isize, text.size());
  EXPECT_LT(gz->size(), text.size() / 10);
  EXPECT_EQ(zel_gunzippedData(*gz), text);

  for (std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{149}, std::size_t{1} << 20}) {
    const auto input = randomBytes(size, static_cast<unsigned>(size));
    auto packed = zel_gzippedData(input);
    ASSERT_TRUE(packed.has_value()) << size;
    EXPECT_EQ(zel_gunzippedData(*packed), input) << size;
  }
}

TEST(ZELGzip, GunzipRefusesDamagedOrOversizedInput) {
  auto gz = *zel_gzippedData(Data::copy(std::string(5000, 'z')));
  EXPECT_FALSE(zel_gunzippedData(gz.subdata(0, gz.size() - 1)).has_value());
  std::vector<std::uint8_t> flipped(gz.bytes().begin(), gz.bytes().end());
  flipped[gz.size() - 6] ^= 0xFF;  // CRC32 of the payload
  EXPECT_FALSE(zel_gunzippedData(Data(std::move(flipped))).has_value());
  EXPECT_FALSE(zel_gunzippedData(Data::copy("not gzip at all, but long enough")).has_value());
  EXPECT_FALSE(zel_gunzippedData(gz, 100).has_value());
}

TEST(ZELHexString, TwoLowercaseDigitsPerByteInOrder) {
  const std::uint8_t bytes[] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xff};
  EXPECT_EQ(zel_hexString(Data::copy(bytes)), "00017f80abff");
  EXPECT_EQ(zel_hexString(Data()), "");
}

TEST(ZELLock, LockWithBlockExcludesOtherHoldersAndReturnsTheBlocksResult) {
  ZELLock lock("com.zelvo.test.lock");
  EXPECT_EQ(lock.name(), "com.zelvo.test.lock");
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) lock.lockWithBlock([&] { ++counter; });
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(lock.lockWithBlock([&] { return counter; }), 40000);
  {
    std::lock_guard guard(lock);
    EXPECT_FALSE(lock.try_lock());
  }
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

}  // namespace
}  // namespace zel
