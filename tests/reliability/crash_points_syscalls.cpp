// The crash points counted at the C library: the native program is ended
// just before each call of a clean run that changes the file system (inside
// a tree copy or delete too), and the next run is judged: the old add-in
// must have survived the crash, and the next run must leave the new add-in
// in place with no work folder behind.
//
//   crash_points_syscalls PROGRAM PRELOAD
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "tests/reliability/judge.h"

namespace orv::test {
namespace {

constexpr int kCrashExitCode = 86;  // crash_at_call's

// Runs the program once on the current scene; its exit status, or -1.
int RunChild(const char* program, const char* preload, long crashAt, const std::string& countFile) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::setenv("LD_PRELOAD", preload, 1);
    if (crashAt > 0) ::setenv("ORV_CRASH_AT", std::to_string(crashAt).c_str(), 1);
    if (!countFile.empty()) ::setenv("ORV_CRASH_COUNT", countFile.c_str(), 1);
    ::execl(program, program, static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int Main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: crash_points_syscalls PROGRAM PRELOAD\n");
    return 2;
  }
  const char* program = argv[1];
  const char* preload = argv[2];

  long points = 0;
  {
    Scene scene;
    TempDir counts;
    const std::string countFile = FsPath(counts / u"count").string();
    const int status = RunChild(program, preload, 0, countFile);
    std::ifstream(countFile) >> points;
    if (status != 0 || scene.Classify(scene.install.addin) != "new" || points <= 0) {
      std::fprintf(stderr, "the clean run did not patch (exit %d, %ld calls)\n", status, points);
      return 1;
    }
  }

  std::vector<std::string> breaches;
  long notRecovered = 0;
  long litter = 0;
  long probeLeft = 0;
  std::map<std::string, long> states;  // what the crashes left, and how often
  for (long at = 1; at <= points; ++at) {
    Scene scene;
    const int status = RunChild(program, preload, at, "");
    const std::string where = "call " + std::to_string(at) + ": ";
    if (status != kCrashExitCode) {
      breaches.push_back(where + "the program did not stop there (exit " + std::to_string(status) +
                         ")");
      continue;
    }
    const std::string left = scene.Describe();
    ++states[left];
    std::string addin = scene.Classify(scene.install.addin);
    // Ended between making the probe file and removing it: the add-in is
    // whole, with one empty file of ours more, which the next run's swap
    // takes away with the old folder.
    if (addin == "partial" && DescribeTree(scene.install.addin, {"~sh"}) == scene.oldAddin) {
      addin = "old";
      ++probeLeft;
    }
    if (addin != "old" && addin != "new" && scene.Classify(scene.Backup()) != "old") {
      breaches.push_back(where + "the old add-in is lost: " + left);
    }
    FaultPlatform next(SystemPlatform());
    const ProgramResult result = RunProgram(next);
    const std::string after = scene.Describe();
    const std::string now = scene.Classify(scene.install.addin);
    if (now != "new") {
      ++notRecovered;
      breaches.push_back(where + "the next run left " + after + " after the crash left " + left);
    } else if (after != "Pellmark new") {
      ++litter;
      breaches.push_back(where + "the next run left " + after);
    }
    if (!result.outcome || (*result.outcome != PatchOutcome::Succeeded &&
                            *result.outcome != PatchOutcome::NotNeeded)) {
      breaches.push_back(where + "the next run did not end well after " + left);
    }
  }
  for (const std::string& breach : breaches) std::fprintf(stderr, "%s\n", breach.c_str());
  std::printf(
      "crash points (system calls): %ld points, %zu states left (%ld with the probe "
      "file in the old add-in), %ld not recovered, %ld with a work folder left, "
      "%zu violations\n",
      points, states.size(), probeLeft, notRecovered, litter, breaches.size());
  return breaches.empty() ? 0 : 1;
}

}  // namespace
}  // namespace orv::test

int main(int argc, char** argv) {
  return orv::test::Main(argc, argv);
}
