#pragma once
// Shared set-up for the fuzz targets: reports are expected on bad input, so they stay quiet,
// and a broken invariant aborts so libFuzzer records the input.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "zel/foundation/ZELFoundationDevLogger.h"

namespace zel::fuzz {

inline void quietReports() {
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(false);
}

inline void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline std::string_view textOf(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace zel::fuzz
