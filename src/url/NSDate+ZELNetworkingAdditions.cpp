#include "zel/url/NSDate+ZELNetworkingAdditions.h"

#include <cmath>
#include <limits>

namespace zel {

namespace {

// Seconds from 1970 to 2001-01-01 00:00:00 UTC, the epoch of absolute time.
constexpr double kAbsoluteTimeIntervalSince1970 = 978307200.0;

double secondsSince1970(std::chrono::system_clock::time_point date) {
  return std::chrono::duration<double>(date.time_since_epoch()).count();
}

// seconds * 1e9 in double precision, truncated toward zero; saturates instead of overflowing.
std::int64_t nanosecondsFromSeconds(double seconds) noexcept {
  const double nanoseconds = seconds * 1e9;
  if (std::isnan(nanoseconds)) return 0;
  if (nanoseconds >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (nanoseconds <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(nanoseconds);
}

}  // namespace

std::int64_t zel_timestamp(std::chrono::system_clock::time_point date) noexcept {
  return nanosecondsFromSeconds(secondsSince1970(date));
}

std::int64_t zel_currentTimestamp() noexcept {
  const double absoluteTime =
      secondsSince1970(std::chrono::system_clock::now()) - kAbsoluteTimeIntervalSince1970;
  return nanosecondsFromSeconds(absoluteTime + kAbsoluteTimeIntervalSince1970);
}

}  // namespace zel
