// Eight copies of the native program started at once against one
// installation: the single-instance guard lets exactly one of them run.
//
// The result does not hang on timing. Each copy writes its standard output
// into a pipe shrunk to one page and filled beforehand, so the copy that takes
// the guard blocks in its notice, guard still held, until it is drained; it
// is drained only after the other seven have ended. Whatever order the kernel
// starts them in, every copy but the one holding the guard meets a held
// guard.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "patch/manifest.h"
#include "platform/seam.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInstances = 8;
constexpr auto kRoundLimit = std::chrono::seconds(30);
constexpr int kAlreadyRunning = 1618 & 0xFF;  // only the low byte reaches a POSIX parent

struct Instance {
  pid_t pid = -1;
  int out = -1;  // read ends
  int err = -1;
  std::size_t prefill = 0;  // bytes put into the stdout pipe before the start
  std::string raw;          // standard output as read, prefill included
  bool closed = false;
  std::string errors;
  bool ended = false;
  int status = 0;

  // What the program wrote, or "?" while the prefill has not been read back.
  std::string Output() const { return raw.size() < prefill ? "?" : raw.substr(prefill); }
};

void SetNonBlocking(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

// Reads what is there without waiting; true at end of file.
bool ReadAvailable(int fd, std::string& into) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
      into.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;  // EAGAIN: nothing more for now
    }
  }
}

// A pipe for a child's standard output that holds one page and is already
// full, so the child's first write blocks until the reader drains it. The
// write end is left blocking: a non-blocking one would make that write fail.
bool MakeFullPipe(int ends[2], std::size_t& prefill) {
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  if (::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(::sysconf(_SC_PAGESIZE))) < 0) return false;
  SetNonBlocking(ends[1], true);
  const std::string filler(512, '#');
  prefill = 0;
  for (;;) {
    const ssize_t put = ::write(ends[1], filler.data(), filler.size());
    if (put > 0) {
      prefill += static_cast<std::size_t>(put);
    } else if (put < 0 && errno == EAGAIN) {
      break;
    } else if (errno != EINTR) {
      return false;
    }
  }
  SetNonBlocking(ends[1], false);
  return prefill > 0;
}

// Forks the instances, each waiting on one barrier pipe; Release lets all of
// them exec the program at once. Whatever is still running when the object
// goes is killed and reaped, so a failed round never leaves a child behind.
class Launch {
 public:
  Launch() {
    int barrier[2];
    if (::pipe2(barrier, O_CLOEXEC) != 0) return;
    barrierWrite_ = barrier[1];
    const pid_t parent = ::getpid();
    for (int i = 0; i < kInstances; ++i) {
      Instance& instance = instances_[i];
      int out[2] = {-1, -1};
      int err[2] = {-1, -1};
      const bool piped = MakeFullPipe(out, instance.prefill) && ::pipe2(err, O_CLOEXEC) == 0;
      instance.pid = piped ? ::fork() : -1;
      if (instance.pid == 0) {
        // Dies with the test, even between here and the exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) {
          ::_exit(127);
        }
        ::close(barrier[1]);
        for (char byte;;) {
          const ssize_t got = ::read(barrier[0], &byte, 1);
          if (got == 0 || (got < 0 && errno != EINTR)) break;
        }
        ::execl(ORVANTO_PROGRAM, ORVANTO_PROGRAM, static_cast<char*>(nullptr));
        ::_exit(127);
      }
      for (const int fd : {out[1], err[1]}) {
        if (fd >= 0) ::close(fd);
      }
      instance.out = out[0];
      instance.err = err[0];
      if (instance.pid < 0) return;
      SetNonBlocking(instance.err, true);
    }
    ::close(barrier[0]);
    ready_ = true;
  }

  ~Launch() {
    // Killed before the barrier goes: a round that was never released must
    // not start the program.
    for (Instance& instance : instances_) {
      if (instance.pid > 0 && !instance.ended) {
        ::kill(instance.pid, SIGKILL);
        ::waitpid(instance.pid, nullptr, 0);
      }
      if (instance.out >= 0) ::close(instance.out);
      if (instance.err >= 0) ::close(instance.err);
    }
    if (barrierWrite_ >= 0) ::close(barrierWrite_);
  }

  Launch(const Launch&) = delete;
  Launch& operator=(const Launch&) = delete;

  bool ready() const { return ready_; }

  // Every instance reads end of file on the barrier together.
  void Release() {
    ::close(barrierWrite_);
    barrierWrite_ = -1;
  }

  int Running() const {
    int running = 0;
    for (const Instance& instance : instances_) running += instance.ended ? 0 : 1;
    return running;
  }

  // Reaps what has ended and takes in standard error; waits until at most
  // `running` instances remain or the deadline passes.
  bool WaitUntilRunning(int running, Clock::time_point deadline) {
    for (;;) {
      for (Instance& instance : instances_) {
        ReadAvailable(instance.err, instance.errors);
        if (!instance.ended && ::waitpid(instance.pid, &instance.status, WNOHANG) == instance.pid) {
          instance.ended = true;
        }
      }
      if (Running() <= running) return true;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Empties every stdout pipe, which lets a blocked notice finish, and waits
  // for all to end.
  bool DrainAll(Clock::time_point deadline) {
    for (Instance& instance : instances_) SetNonBlocking(instance.out, true);
    for (;;) {
      bool allClosed = true;
      for (Instance& instance : instances_) {
        if (!instance.closed) instance.closed = ReadAvailable(instance.out, instance.raw);
        allClosed = allClosed && instance.closed;
      }
      WaitUntilRunning(kInstances, deadline);
      if (allClosed && Running() == 0) return true;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  const Instance* begin() const { return instances_; }
  const Instance* end() const { return instances_ + kInstances; }

  std::string Describe() const {
    std::string text;
    for (const Instance& instance : instances_) {
      text += "pid " + std::to_string(instance.pid);
      if (!instance.ended) {
        text += " still running (blocked in a write, or hung)";
      } else if (WIFEXITED(instance.status)) {
        text += " exit " + std::to_string(WEXITSTATUS(instance.status));
      } else {
        text += " signal " + std::to_string(WTERMSIG(instance.status));
      }
      text += "; stdout '" + instance.Output() + "' stderr '" + instance.errors + "'\n";
    }
    return text;
  }

 private:
  Instance instances_[kInstances];
  int barrierWrite_ = -1;
  bool ready_ = false;
};

bool GuardIsFree() {
  const Platform& p = SystemPlatform();
  bool exists = false;
  InstanceGuard* guard = p.CreateInstanceGuard(p, manifest::kMutexName, exists);
  p.ReleaseInstanceGuard(p, guard);
  return guard != nullptr && !exists;
}

// One round of eight: exactly one shows `notice` and exits 0, the others end
// silently with 1618 while it still holds the guard.
void RunRound(const std::string& notice) {
  Launch launch;
  ASSERT_TRUE(launch.ready()) << "cannot set up the children: " << std::strerror(errno);
  ASSERT_TRUE(GuardIsFree());
  const Clock::time_point deadline = Clock::now() + kRoundLimit;
  launch.Release();

  if (!launch.WaitUntilRunning(1, deadline)) {
    // Let the blocked ones write, to show what they meant to say.
    launch.DrainAll(Clock::now() + std::chrono::seconds(2));
    FAIL() << "not seven ended in time; the children are killed\n" << launch.Describe();
  }
  ASSERT_EQ(launch.Running(), 1) << "no instance was left holding its notice\n"
                                 << launch.Describe();
  // The one left is blocked in its notice with the guard still held.
  EXPECT_FALSE(GuardIsFree());

  ASSERT_TRUE(launch.DrainAll(deadline)) << "the last one did not end once drained\n"
                                         << launch.Describe();
  EXPECT_TRUE(GuardIsFree()) << "the guard outlived its process";

  int winners = 0;
  int silent = 0;
  for (const Instance& instance : launch) {
    const bool exited = WIFEXITED(instance.status);
    const int code = exited ? WEXITSTATUS(instance.status) : -1;
    if (exited && code == 0 && instance.Output() == notice && instance.errors.empty()) ++winners;
    if (exited && code == kAlreadyRunning && instance.Output().empty() && instance.errors.empty()) {
      ++silent;
    }
  }
  EXPECT_EQ(winners, 1) << launch.Describe();
  EXPECT_EQ(silent, kInstances - 1) << launch.Describe();
}

TEST(Concurrency, OneOfEightRunsTheOthersEndSilently) {
  test::Installation install;
  ASSERT_NO_FATAL_FAILURE(RunRound(test::Printed(PatchOutcome::Succeeded)));
  install.ExpectPatched();
  install.ExpectNoWorkFolders();

  // Again on the patched folder: still one run, and it finds nothing to do,
  // so the first round patched once and left a folder the scan accepts.
  const std::string patched = install.Snapshot();
  RunRound(test::Printed(PatchOutcome::NotNeeded));
  EXPECT_EQ(install.Snapshot(), patched);
  install.ExpectNoWorkFolders();
}

}  // namespace
}  // namespace orv
