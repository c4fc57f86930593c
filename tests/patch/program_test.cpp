// The native program as a process: what it prints, its exit code, and what
// it leaves on disk.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "patch/manifest.h"
#include "platform/seam.h"
#include "tests/patch/installation.h"

namespace orv {
namespace {

using test::Installation;

struct Result {
  std::string output;
  int exitCode;
};

// Runs the program with the installation's environment, standard input
// closed so that the notice does not wait.
Result RunProgram() {
  std::string command = std::string(ORVANTO_PROGRAM) + " </dev/null 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  Result result{{}, -1};
  char chunk[512];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    result.output.append(chunk, got);
  }
  const int status = ::pclose(pipe);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

TEST(Program, PatchesThenReportsNothingToDo) {
  Installation install;
  const Result first = RunProgram();
  EXPECT_EQ(first.output, "Patch for Orvanto\n[information] Install Succeeded.\n");
  EXPECT_EQ(first.exitCode, 0);
  install.ExpectPatched();
  install.ExpectNoWorkFolders();

  const Result second = RunProgram();
  EXPECT_EQ(second.output,
            "Patch for Orvanto\n[information] There is no need to apply this patch.\n");
  EXPECT_EQ(second.exitCode, 0);
}

TEST(Program, FailureAndOldHostAreVisibleToScripts) {
  Installation install;
  pegen::PeImageSpec old;
  old.executable = true;
  old.fileVersion = test::V(4, 1, 52, 0);
  install.WriteLauncher(old);
  const Result tooOld = RunProgram();
  EXPECT_EQ(tooOld.output,
            "Patch for Orvanto\n[warning] This patch cannot be run because Orvanto V4.1L52 that "
            "this patch is applied to is not installed. \nApply the latest updates for Orvanto, "
            "and try again.\n");
  EXPECT_EQ(tooOld.exitCode, 1642 & 0xFF);  // only the low byte reaches a POSIX parent

  std::filesystem::remove_all(test::FsPath(install.addin));
  old.fileVersion = test::V(4, 1, 52, 1);
  install.WriteLauncher(old);
  const Result failed = RunProgram();
  EXPECT_EQ(failed.output,
            "Patch for Orvanto\n[warning] Install Failed.\nQuit any applications that are "
            "running on your computer, and try again.\n");
  EXPECT_EQ(failed.exitCode, 1603 & 0xFF);
}

TEST(Program, SecondInstanceIsSilent) {
  Installation install;
  const std::string before = install.Snapshot();
  const Platform& p = SystemPlatform();
  bool exists = false;
  InstanceGuard* held = p.CreateInstanceGuard(p, manifest::kMutexName, exists);
  ASSERT_FALSE(exists);
  const Result second = RunProgram();
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(second.exitCode, 1618 & 0xFF);
  EXPECT_EQ(install.Snapshot(), before);
  p.ReleaseInstanceGuard(p, held);
}

}  // namespace
}  // namespace orv
