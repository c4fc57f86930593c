// A program that does not link the embedded store (most tests) still links,
// and every lookup fails as for a missing resource.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "platform/posix/backend.h"

namespace orv::posix {
namespace {

TEST(PayloadLookupWithoutStore, EveryLookupFails) {
  const Platform platform{};
  const std::uint8_t marker[1] = {0};
  const std::uint8_t* data = marker;
  std::size_t size = 7;
  EXPECT_EQ(FindPayload(platform, 200, data, size), 0);
  EXPECT_EQ(FindPayload(platform, 224, data, size), 0);
  EXPECT_EQ(data, marker);
  EXPECT_EQ(size, 7u);
  String text = u"stale";
  EXPECT_EQ(LoadTableString(platform, 300, text), 0);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(LoadTableString(platform, 400, text), 0);
}

}  // namespace
}  // namespace orv::posix
