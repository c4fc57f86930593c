// fileversion: prints the file version of PE files as the program itself
// reads it, through the backend's own operation.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/seam.h"

namespace {

constexpr char kUsage[] =
    "usage: fileversion FILE...\n"
    "Prints each file's version as major.minor.build.private, one line per file;\n"
    "with several files each line is 'FILE: VERSION'. A file without a version is\n"
    "reported on stderr and makes the exit status 1; bad usage gives 2.\n";

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--") == 0) first = 2;
  if (first >= argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const bool withNames = argc - first > 1;
  const orv::Platform& platform = orv::SystemPlatform();
  int status = 0;
  for (int i = first; i < argc; ++i) {
    const orv::String path = orv::FromUtf8(argv[i]);
    orv::FileVersion4 version;
    if (platform.ReadFileVersion(platform, path.c_str(), version) != 1) {
      std::fprintf(stderr,
                   "fileversion: %s: no file version (missing, unreadable or not a PE "
                   "file with a version resource)\n",
                   argv[i]);
      status = 1;
      continue;
    }
    const std::string text = orv::ToText(version);
    if (withNames) {
      std::printf("%s: %s\n", argv[i], text.c_str());
    } else {
      std::printf("%s\n", text.c_str());
    }
  }
  return std::fflush(stdout) == 0 ? status : 1;
}
