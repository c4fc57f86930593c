#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <fcntl.h>

#include "platform/posix/backend.h"
#endif

namespace orv::test {

namespace fs = std::filesystem;

namespace {
std::uint64_t g_waited = 0;
#ifndef _WIN32
// Before any test runs: the back-off of a run through the real backend
// passes no real time.
const bool kWaitsCounted = [] {
  posix::SetWaitHook([](std::uint32_t milliseconds) { g_waited += milliseconds; });
  return true;
}();
#endif
}  // namespace

std::uint64_t WaitedMilliseconds() {
  return g_waited;
}

fs::path FsPath(StringView path) {
#ifdef _WIN32
  return fs::path(std::wstring(path.begin(), path.end()));
#else
  std::string native = ToUtf8(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return fs::path(native);
#endif
}

String FromFs(const fs::path& path) {
#ifdef _WIN32
  const std::wstring wide = path.wstring();
  return String(wide.begin(), wide.end());
#else
  return FromUtf8(path.string());
#endif
}

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("orvtest-" + std::to_string(random() % 100000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = FromFs(candidate);
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary folder under " << base.string();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Make read-only leftovers removable first.
  for (fs::recursive_directory_iterator it(FsPath(path_), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(FsPath(path_), ec);
}

void WriteBytes(StringView path, std::string_view bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << ToUtf8(path);
}

std::string ReadBytes(StringView path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool Exists(StringView path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(FsPath(path), ec));
}

bool IsFolder(StringView path) {
  std::error_code ec;
  return fs::is_directory(FsPath(path), ec);
}

void MakeFolders(StringView path) {
  std::error_code ec;
  fs::create_directories(FsPath(path), ec);
  ASSERT_FALSE(ec) << "cannot create " << ToUtf8(path);
}

std::int64_t ModificationTime(StringView path) {
#ifdef _WIN32
  struct _stat64 st;
  if (_wstat64(FsPath(path).c_str(), &st) != 0) return -1;
  return st.st_mtime;
#else
  struct stat st;
  if (::stat(FsPath(path).c_str(), &st) != 0) return -1;
  return st.st_mtim.tv_sec;
#endif
}

void SetModificationTime(StringView path, std::int64_t seconds) {
#ifdef _WIN32
  struct __utimbuf64 times {
    seconds, seconds
  };
  ASSERT_EQ(_wutime64(FsPath(path).c_str(), &times), 0);
#else
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                    {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, FsPath(path).c_str(), times, 0), 0);
#endif
}

std::string DescribeTree(StringView folder, const std::vector<std::string>& skipped) {
  const fs::path root = FsPath(folder);
  std::vector<std::string> lines;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const String full = FromFs(it->path());
    std::string line = fs::relative(it->path(), root, ec).generic_string();
    const bool skip = std::any_of(skipped.begin(), skipped.end(), [&](const std::string& prefix) {
      return line.compare(0, prefix.size(), prefix) == 0;
    });
    if (skip) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink()) {
      line += " -> " + fs::read_symlink(it->path(), ec).generic_string();
    } else if (it->is_directory()) {
      line += "/";
    } else if (!it->is_regular_file()) {
      line += " (special file)";  // a FIFO is never opened: reading it would wait for a writer
    } else {
      const std::string bytes = ReadBytes(full);
      // Appended piece by piece: "literal" + std::string&& trips GCC 12's
      // -Wrestrict (a false alarm) in the MinGW build.
      line.append(" ").append(std::to_string(bytes.size())).append(" bytes, mtime ");
      line.append(std::to_string(ModificationTime(full))).append(", hash ");
      line.append(std::to_string(std::hash<std::string>{}(bytes)));
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

void WritePeFixture(StringView path, const pegen::PeImageSpec& spec) {
  const std::vector<std::uint8_t> image = pegen::MakePeImage(spec);
  ASSERT_FALSE(image.empty()) << "the generator refused the fixture " << ToUtf8(path);
  WriteBytes(path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

FileVersion4 V(int major, int minor, int build, int privatePart) {
  return FileVersion4{major, minor, build, privatePart};
}

}  // namespace orv::test
