#include "tests/support/posix_support.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "tests/support/test_support.h"

namespace orv::test {

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
  ::tzset();
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    ::setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
  ::tzset();
}

bool DropToOrdinaryUser() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

int AsOrdinaryUser(const std::function<int()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!DropToOrdinaryUser()) _exit(99);
    _exit(fn() & 0xFF);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return static_cast<signed char>(WEXITSTATUS(status));
}

void GiveToOrdinaryUser(const String& root) {
  if (::geteuid() != 0) return;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(FsPath(root))) {
    EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
  }
  EXPECT_EQ(::chown(FsPath(root).c_str(), kNobody, kNobody), 0);
}

ProcessRun RunProcess(const char* program, const ProcessOptions& options) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    const int none = ::open("/dev/null", O_RDONLY);
    ::dup2(none, STDIN_FILENO);
    if (options.ordinaryUser && !DropToOrdinaryUser()) _exit(99);
    if (options.loader.empty()) {
      ::execl(program, program, static_cast<char*>(nullptr));
    } else {
      ::execl(options.loader.c_str(), options.loader.c_str(), program, static_cast<char*>(nullptr));
    }
    _exit(98);
  }
  ::close(out[1]);
  ProcessRun run;
  char chunk[512];
  for (ssize_t got; (got = ::read(out[0], chunk, sizeof chunk)) > 0;) {
    run.output.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

}  // namespace orv::test
