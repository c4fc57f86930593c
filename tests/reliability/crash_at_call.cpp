// Loaded into the native program with LD_PRELOAD: ends the process abruptly
// just before its Nth C-library call that changes the file system (N from
// ORV_CRASH_AT), the way a power cut or a forced shutdown would end it in
// the middle of a shell copy or delete. Calls that only read are not
// counted: ending the process before one is the same as ending it before
// the next call that changes something.
//
// Without ORV_CRASH_AT nothing is changed. With ORV_CRASH_COUNT set to a
// file, the number of counted calls is written there when the process ends
// normally.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kCrashExitCode = 86;

long crashAt = -1;
long counted = 0;

struct Settings {
  Settings() {
    if (const char* at = std::getenv("ORV_CRASH_AT")) crashAt = std::strtol(at, nullptr, 10);
  }
  ~Settings() {
    const char* file = std::getenv("ORV_CRASH_COUNT");
    if (file == nullptr) return;
    if (FILE* out = std::fopen(file, "w")) {
      std::fprintf(out, "%ld\n", counted);
      std::fclose(out);
    }
  }
} settings;

// Before every counted call: the end, when this is the one.
void Point() {
  if (++counted == crashAt) ::syscall(SYS_exit_group, kCrashExitCode);
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

bool Changes(int flags) {
  return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
}

mode_t ModeOf(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

// One wrapper per call; the macro keeps each to its name and signature.
#define ORV_COUNTED(result, name, params, args)             \
  extern "C" result name params {                           \
    static const auto next = Next<result(*) params>(#name); \
    Point();                                                \
    return next args;                                       \
  }

ORV_COUNTED(ssize_t, write, (int fd, const void* data, size_t size), (fd, data, size))
ORV_COUNTED(ssize_t, pwrite64, (int fd, const void* data, size_t size, off64_t at),
            (fd, data, size, at))
ORV_COUNTED(size_t, fwrite, (const void* data, size_t size, size_t n, FILE* file),
            (data, size, n, file))
ORV_COUNTED(int, fflush, (FILE * file), (file))
ORV_COUNTED(ssize_t, sendfile64, (int out, int in, off64_t* at, size_t size), (out, in, at, size))
ORV_COUNTED(ssize_t, sendfile, (int out, int in, off_t* at, size_t size), (out, in, at, size))
ORV_COUNTED(ssize_t, copy_file_range,
            (int in, off64_t* inAt, int out, off64_t* outAt, size_t size, unsigned flags),
            (in, inAt, out, outAt, size, flags))
ORV_COUNTED(ssize_t, pwrite, (int fd, const void* data, size_t size, off_t at),
            (fd, data, size, at))
ORV_COUNTED(int, ftruncate64, (int fd, off64_t size), (fd, size))
ORV_COUNTED(int, ftruncate, (int fd, off_t size), (fd, size))
ORV_COUNTED(int, fsync, (int fd), (fd))
ORV_COUNTED(int, fdatasync, (int fd), (fd))
ORV_COUNTED(int, unlink, (const char* path), (path))
ORV_COUNTED(int, unlinkat, (int dir, const char* path, int flags), (dir, path, flags))
ORV_COUNTED(int, rmdir, (const char* path), (path))
ORV_COUNTED(int, remove, (const char* path), (path))
ORV_COUNTED(int, mkdir, (const char* path, mode_t mode), (path, mode))
ORV_COUNTED(int, mkdirat, (int dir, const char* path, mode_t mode), (dir, path, mode))
ORV_COUNTED(int, rename, (const char* from, const char* to), (from, to))
ORV_COUNTED(int, renameat, (int fromDir, const char* from, int toDir, const char* to),
            (fromDir, from, toDir, to))
ORV_COUNTED(int, renameat2,
            (int fromDir, const char* from, int toDir, const char* to, unsigned flags),
            (fromDir, from, toDir, to, flags))
ORV_COUNTED(int, utimensat, (int dir, const char* path, const struct timespec times[2], int flags),
            (dir, path, times, flags))
ORV_COUNTED(int, futimens, (int fd, const struct timespec times[2]), (fd, times))
ORV_COUNTED(int, symlink, (const char* target, const char* path), (target, path))

// Opening counts only when it may create or change a file.
#define ORV_COUNTED_OPEN(name, params, args)             \
  extern "C" int name params {                           \
    static const auto next = Next<int(*) params>(#name); \
    va_list rest;                                        \
    va_start(rest, flags);                               \
    const mode_t mode = ModeOf(flags, rest);             \
    va_end(rest);                                        \
    if (Changes(flags)) Point();                         \
    return next args;                                    \
  }

ORV_COUNTED_OPEN(open, (const char* path, int flags, ...), (path, flags, mode))
ORV_COUNTED_OPEN(open64, (const char* path, int flags, ...), (path, flags, mode))
ORV_COUNTED_OPEN(openat, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
ORV_COUNTED_OPEN(openat64, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
