// The single-instance guard within one process.
#include <gtest/gtest.h>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::P;

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

// A run in another session takes the guard's global name beside its plain
// one; each name guards only itself.
TEST(InstanceGuard, GlobalNameAndPlainNameAreTwoGuards) {
  const char16_t* plain = u"WinOrvantoPatch1_GuardNamespaces";
  const char16_t* global = u"Global\\WinOrvantoPatch1_GuardNamespaces";
  const struct {
    const char16_t* held;
    const char16_t* probed;
    bool taken;
  } cases[] = {
      {global, plain, false},
      {plain, global, false},
      {global, global, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.held) + " held, " + ToUtf8(c.probed) + " probed");
    bool exists = true;
    InstanceGuard* held = P().CreateInstanceGuard(P(), c.held, exists);
    ASSERT_NE(held, nullptr);
    ASSERT_FALSE(exists);
    InstanceGuard* probe = P().CreateInstanceGuard(P(), c.probed, exists);
    EXPECT_EQ(exists, c.taken);
    P().ReleaseInstanceGuard(P(), probe);
    P().ReleaseInstanceGuard(P(), held);
  }
}

}  // namespace
}  // namespace orv
