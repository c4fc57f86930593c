// orv_bench_run: starts one program once and reports what the run cost, as
// seen from the parent: wall time from just before the process is made to
// just after it is reaped, the child's user and system time and its peak
// resident memory. Its own start-up lies outside what it measures, so a
// shell loop can call it for every timed run.
//
//   orv_bench_run [--env NAME=VALUE]... [--user NAME] [--stdout FILE] [--stderr FILE]
//                 [--chdir DIR] -- PROGRAM [ARG...]
//
// The program gets exactly the --env variables (nothing is inherited), an
// empty standard input, and /dev/null or FILE for its outputs. --user runs it
// as that user (the caller must be root). Prints one line:
//   <wall ns> <user us> <system us> <peak KiB> <exit code, or 128 + signal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: orv_bench_run [--env NAME=VALUE]... [--user NAME] [--stdout FILE] [--stderr FILE]\n"
    "                     [--chdir DIR] -- PROGRAM [ARG...]\n";

struct Options {
  std::vector<char*> environment;
  const char* user = nullptr;
  const char* out = "/dev/null";
  const char* err = "/dev/null";
  const char* directory = nullptr;
  char** program = nullptr;
};

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      if (i + 1 >= argc) return false;
      options.program = argv + i + 1;
      options.environment.push_back(nullptr);
      return true;
    }
    if (i + 1 >= argc) return false;
    char* value = argv[++i];
    if (arg == "--env" && std::strchr(value, '=') != nullptr) {
      options.environment.push_back(value);
    } else if (arg == "--user") {
      options.user = value;
    } else if (arg == "--stdout") {
      options.out = value;
    } else if (arg == "--stderr") {
      options.err = value;
    } else if (arg == "--chdir") {
      options.directory = value;
    } else {
      return false;
    }
  }
  return false;
}

std::int64_t Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

int OpenOutput(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// In the child of a fork: become the user, then run the program. Only
// async-signal-safe calls until the exec.
[[noreturn]] void BecomeAndExec(const Options& o, const passwd& who, int in, int out, int err) {
  if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
  if (::setgroups(0, nullptr) != 0 || ::setgid(who.pw_gid) != 0 || ::setuid(who.pw_uid) != 0) {
    ::_exit(126);
  }
  if (o.directory != nullptr && ::chdir(o.directory) != 0) ::_exit(126);
  ::execve(o.program[0], o.program, o.environment.data());
  ::_exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = OpenOutput(o.out);
  const int err = OpenOutput(o.err);
  if (in < 0 || out < 0 || err < 0) {
    std::perror("orv_bench_run: opening the program's streams");
    return 2;
  }

  pid_t child = -1;
  std::int64_t start = 0;
  if (o.user != nullptr) {
    // Looked up before the clock starts; the child only switches to it.
    const passwd* found = ::getpwnam(o.user);
    if (found == nullptr) {
      std::fprintf(stderr, "orv_bench_run: no user %s\n", o.user);
      return 2;
    }
    const passwd who = *found;
    start = Now();
    child = ::fork();
    if (child == 0) BecomeAndExec(o, who, in, out, err);
  } else {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    if (o.directory != nullptr) posix_spawn_file_actions_addchdir_np(&actions, o.directory);
    start = Now();
    const int failed =
        posix_spawn(&child, o.program[0], &actions, nullptr, o.program, o.environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
      std::fprintf(stderr, "orv_bench_run: cannot start %s: %s\n", o.program[0],
                   std::strerror(failed));
      return 2;
    }
  }
  if (child < 0) {
    std::perror("orv_bench_run: fork");
    return 2;
  }

  int status = 0;
  rusage usage{};
  pid_t reaped;
  do {
    reaped = ::wait4(child, &status, 0, &usage);
  } while (reaped < 0 && errno == EINTR);
  const std::int64_t wall = Now() - start;
  if (reaped != child) {
    std::perror("orv_bench_run: wait4");
    return 2;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const auto micros = [](const timeval& t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000 + t.tv_usec;
  };
  std::printf("%lld %lld %lld %ld %d\n", static_cast<long long>(wall), micros(usage.ru_utime),
              micros(usage.ru_stime), usage.ru_maxrss, code);
  return 0;
}
