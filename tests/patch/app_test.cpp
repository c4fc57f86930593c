// The application object: the guard, the run, the exit code, the release.
#include <gtest/gtest.h>

#include "patch/manifest.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

using test::FaultPlatform;
using test::Installation;
using test::Op;

TEST(Application, RunsThePatchOnceAndLetsGoOfTheGuard) {
  Installation install;
  FaultPlatform fault(SystemPlatform());
  const test::AppRun run = test::RunApp(fault);
  EXPECT_EQ(run.exitCode, 0);
  install.ExpectPatched();
  test::ExpectShown(run.notices, PatchOutcome::Succeeded);
  // Both names of the guard, taken and let go.
  EXPECT_EQ(fault.Calls(Op::CreateInstanceGuard), 2);
  EXPECT_EQ(fault.Calls(Op::ReleaseInstanceGuard), 2);

  // The guard is free again: the next run starts and finds nothing to do.
  bool exists = true;
  const Platform& p = SystemPlatform();
  InstanceGuard* guard = p.CreateInstanceGuard(p, manifest::kMutexName, exists);
  EXPECT_FALSE(exists);
  p.ReleaseInstanceGuard(p, guard);
}

TEST(Application, ExitCodeFollowsTheOutcome) {
  Installation install;
  install.WriteLauncher(test::V(4, 1, 52, 0));
  FaultPlatform fault(SystemPlatform());
  EXPECT_EQ(test::RunApp(fault).exitCode, 1642);

  FaultPlatform failing(SystemPlatform());
  failing.Fail(Op::ReadFileVersion, 1);
  EXPECT_EQ(test::RunApp(failing).exitCode, 1603);
}

// Either name of the guard held by another run is enough, so that a SYSTEM
// run in session 0 and a user's run never patch at once.
TEST(Application, SecondInstanceEndsSilentlyAndChangesNothing) {
  Installation install;
  const std::string before = install.Snapshot();
  const Platform& p = SystemPlatform();
  const struct {
    const char16_t* held;
    int ownHandles;  // the names this run took before it saw the other
  } cases[] = {{manifest::kMutexName, 1}, {manifest::kGlobalMutexName, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.held));
    bool exists = false;
    InstanceGuard* first = p.CreateInstanceGuard(p, c.held, exists);
    ASSERT_FALSE(exists);
    FaultPlatform fault(SystemPlatform());
    const test::AppRun run = test::RunApp(fault);
    EXPECT_EQ(run.exitCode, 1618);
    EXPECT_TRUE(run.notices.empty());
    EXPECT_EQ(fault.Calls(Op::ReadRegistryValue), 0);
    EXPECT_EQ(fault.Calls(Op::ReleaseInstanceGuard), c.ownHandles);  // each once
    EXPECT_EQ(install.Snapshot(), before);
    p.ReleaseInstanceGuard(p, first);
  }
}

}  // namespace
}  // namespace orv
