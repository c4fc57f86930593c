// The application object: the guard, the run, the exit code, the release.
#include <gtest/gtest.h>

#include "app/update_app.h"
#include "patch/manifest.h"
#include "tests/patch/installation.h"
#include "tests/support/fault_platform.h"

namespace orv {
namespace {

using test::FaultPlatform;
using test::Installation;
using test::Op;

TEST(Application, RunsThePatchOnceAndLetsGoOfTheGuard) {
  Installation install;
  FaultPlatform fault(SystemPlatform());
  {
    COrvantoUpdateApp app(fault.platform());
    EXPECT_EQ(RunApplication(), 0);
  }
  install.ExpectPatched();
  EXPECT_EQ(fault.Notices().size(), 1u);
  EXPECT_EQ(fault.Calls(Op::CreateInstanceGuard), 1);
  EXPECT_EQ(fault.Calls(Op::ReleaseInstanceGuard), 1);

  // The guard is free again: the next run starts and finds nothing to do.
  bool exists = true;
  const Platform& p = SystemPlatform();
  InstanceGuard* guard = p.CreateInstanceGuard(p, manifest::kMutexName, exists);
  EXPECT_FALSE(exists);
  p.ReleaseInstanceGuard(p, guard);
}

TEST(Application, ExitCodeFollowsTheOutcome) {
  Installation install;
  pegen::PeImageSpec old;
  old.executable = true;
  old.fileVersion = test::V(4, 1, 52, 0);
  install.WriteLauncher(old);
  FaultPlatform fault(SystemPlatform());
  COrvantoUpdateApp app(fault.platform());
  EXPECT_EQ(RunApplication(), 1642);

  FaultPlatform failing(SystemPlatform());
  failing.Fail(Op::ReadFileVersion, 1);
  COrvantoUpdateApp again(failing.platform());
  EXPECT_EQ(RunApplication(), 1603);
}

TEST(Application, SecondInstanceEndsSilentlyAndChangesNothing) {
  Installation install;
  const std::string before = install.Snapshot();
  const Platform& p = SystemPlatform();
  bool exists = false;
  InstanceGuard* first = p.CreateInstanceGuard(p, manifest::kMutexName, exists);
  ASSERT_FALSE(exists);

  FaultPlatform fault(SystemPlatform());
  {
    COrvantoUpdateApp app(fault.platform());
    EXPECT_EQ(RunApplication(), 1618);
  }
  EXPECT_TRUE(fault.Notices().empty());
  EXPECT_EQ(fault.Calls(Op::ReadRegistryValue), 0);
  EXPECT_EQ(fault.Calls(Op::ReleaseInstanceGuard), 1);  // its own handle, once
  EXPECT_EQ(install.Snapshot(), before);
  p.ReleaseInstanceGuard(p, first);
}

}  // namespace
}  // namespace orv
