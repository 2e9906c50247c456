#include "zel/url/NSDate+ZELNetworkingAdditions.h"

#include <limits>

namespace zel {

std::int64_t zel_timestamp(std::chrono::system_clock::time_point date) noexcept {
  using std::chrono::nanoseconds;
  using Duration = std::chrono::system_clock::duration;
  const Duration sinceEpoch = date.time_since_epoch();
  // Integer arithmetic keeps every nanosecond the clock has; only a clock coarser than
  // nanoseconds can overflow on the way, and that saturates.
  if constexpr (std::ratio_less_v<nanoseconds::period, Duration::period>) {
    constexpr auto kMax = std::chrono::duration_cast<Duration>(nanoseconds::max());
    constexpr auto kMin = std::chrono::duration_cast<Duration>(nanoseconds::min());
    if (sinceEpoch > kMax) return std::numeric_limits<std::int64_t>::max();
    if (sinceEpoch < kMin) return std::numeric_limits<std::int64_t>::min();
  }
  return std::chrono::duration_cast<nanoseconds>(sinceEpoch).count();
}

std::int64_t zel_currentTimestamp() noexcept {
  return zel_timestamp(std::chrono::system_clock::now());
}

}  // namespace zel
