#include <gtest/gtest.h>

#include "support/AssertionCapture.h"
#include "zel/client/ZELHTTPMethod.h"

namespace zel {
namespace {

TEST(ZELHTTPMethod, TextsAndPlacementsFollowTheTable) {
  const char* texts[] = {"OPTIONS", "GET",    "HEAD",  "POST",   "PUT",
                         "PATCH",   "DELETE", "TRACE", "CONNECT"};
  int query = 0;
  int body = 0;
  for (std::uint32_t value = 0; value < 9; ++value) {
    const auto method = static_cast<ZELHTTPMethod>(value);
    EXPECT_EQ(ZELStringForHTTPMethod(method), texts[value]);
    query += ZELHTTPMethodPutsParametersInQuery(method) ? 1 << value : 0;
    body += ZELHTTPMethodPutsParametersInBody(method) ? 1 << value : 0;
  }
  EXPECT_EQ(query, (1 << 1) | (1 << 2) | (1 << 6));
  EXPECT_EQ(body, (1 << 3) | (1 << 4) | (1 << 5));
}

TEST(ZELHTTPMethod, UnknownValueIsAbsentWithOneReport) {
  test::AssertionCapture capture;
  EXPECT_FALSE(ZELStringForHTTPMethod(static_cast<ZELHTTPMethod>(9)).has_value());
  EXPECT_EQ(capture.count("Unhandled HTTP method"), 1u);
  EXPECT_EQ(capture.count(), 1u);
}

}  // namespace
}  // namespace zel
