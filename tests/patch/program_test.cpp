// The native program as a process: what it prints, its exit code, and what
// it leaves on disk.
#include <link.h>

#include <gtest/gtest.h>

#include <string>

#include "patch/manifest.h"
#include "platform/seam.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

using test::Installation;

// The program with the installation's environment; through loader when
// given.
test::ProcessRun RunProgram(const std::string& loader = {}) {
  return test::RunProcess(ORVANTO_PROGRAM, {.loader = loader, .ordinaryUser = false});
}

TEST(Program, PatchesThenReportsNothingToDo) {
  Installation install;
  const test::ProcessRun first = RunProgram();
  EXPECT_EQ(first.output, test::Printed(PatchOutcome::Succeeded));
  EXPECT_EQ(first.exitCode, 0);
  install.ExpectPatched();
  install.ExpectNoWorkFolders();

  const test::ProcessRun second = RunProgram();
  EXPECT_EQ(second.output, test::Printed(PatchOutcome::NotNeeded));
  EXPECT_EQ(second.exitCode, 0);
}

// The dynamic loader this test program was started by, from its own
// program header.
std::string DynamicLoader() {
  std::string path;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* out) {
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          if (info->dlpi_phdr[i].p_type == PT_INTERP) {
            *static_cast<std::string*>(out) =
                reinterpret_cast<const char*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
            return 1;
          }
        }
        return 0;
      },
      &path);
  return path;
}

// The payload reaches the files byte for byte, also when the program is
// started through the dynamic loader (its process then runs the loader's
// file, not the program's, and the payload must still come from the
// program).
TEST(Program, WritesThePayloadsBytesHoweverItIsStarted) {
  const std::string loader = DynamicLoader();
  ASSERT_FALSE(loader.empty());
  for (const std::string& through : {std::string(), loader}) {
    SCOPED_TRACE(through);
    Installation install;
    const test::ProcessRun run = RunProgram(through);
    EXPECT_EQ(run.output, test::Printed(PatchOutcome::Succeeded));
    const Platform& p = SystemPlatform();
    for (int k = 0; k < manifest::kPayloadCount; ++k) {
      const std::uint8_t* data = nullptr;
      std::size_t size = 0;
      ASSERT_TRUE(p.FindPayload(p, manifest::PayloadResourceId(k), data, size));
      EXPECT_EQ(test::ReadBytes(install.AddinFile(k)),
                std::string(reinterpret_cast<const char*>(data), size))
          << k;
    }
  }
}

TEST(Program, FailureAndOldHostAreVisibleToScripts) {
  Installation install;
  install.WriteLauncher(test::V(4, 1, 52, 0));
  const test::ProcessRun tooOld = RunProgram();
  EXPECT_EQ(tooOld.output, test::Printed(PatchOutcome::HostTooOld));
  EXPECT_EQ(tooOld.exitCode, 1642 & 0xFF);  // only the low byte reaches a POSIX parent

  std::filesystem::remove_all(test::FsPath(install.addin));
  install.WriteLauncher(test::V(4, 1, 52, 1));
  const test::ProcessRun failed = RunProgram();
  EXPECT_EQ(failed.output, test::Printed(PatchOutcome::Failed));
  EXPECT_EQ(failed.exitCode, 1603 & 0xFF);
}

TEST(Program, SecondInstanceIsSilent) {
  Installation install;
  const std::string before = install.Snapshot();
  const Platform& p = SystemPlatform();
  bool exists = false;
  InstanceGuard* held = p.CreateInstanceGuard(p, manifest::kMutexName, exists);
  ASSERT_FALSE(exists);
  const test::ProcessRun second = RunProgram();
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(second.exitCode, 1618 & 0xFF);
  EXPECT_EQ(install.Snapshot(), before);
  p.ReleaseInstanceGuard(p, held);
}

}  // namespace
}  // namespace orv
