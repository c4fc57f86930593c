// The single-instance guard within one process.
#include <gtest/gtest.h>

#include "platform/seam.h"

namespace orv {
namespace {

const Platform& P() {
  return SystemPlatform();
}

TEST(InstanceGuard, SecondHolderSeesTheFirstUntilItLetsGo) {
  const char16_t* name = u"WinOrvantoPatch1_GuardTest";
  bool first = true;
  InstanceGuard* held = P().CreateInstanceGuard(P(), name, first);
  ASSERT_NE(held, nullptr);
  EXPECT_FALSE(first);

  bool second = false;
  InstanceGuard* other = P().CreateInstanceGuard(P(), name, second);
  EXPECT_TRUE(second);
  if (other != nullptr) P().ReleaseInstanceGuard(P(), other);

  // Another name is another guard.
  bool unrelated = true;
  InstanceGuard* apart = P().CreateInstanceGuard(P(), u"WinOrvantoPatch1_Other", unrelated);
  EXPECT_FALSE(unrelated);
  P().ReleaseInstanceGuard(P(), apart);

  P().ReleaseInstanceGuard(P(), held);
  bool again = true;
  InstanceGuard* next = P().CreateInstanceGuard(P(), name, again);
  EXPECT_FALSE(again);
  P().ReleaseInstanceGuard(P(), next);
}

}  // namespace
}  // namespace orv
