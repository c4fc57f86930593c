// platform-probe: prints what the platform layer sees on this machine (the
// temporary folder, the host's App Paths entry, the file version of each file
// named on the command line), through the same record the program uses.
#include <cstdio>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "platform/seam.h"

namespace {

using orv::String;

int Probe(const std::vector<String>& files) {
  const orv::Platform& p = orv::SystemPlatform();
  orv::PathBuffer temp;
  std::printf("temporary folder: %s\n",
              p.TempFolder(p, temp) ? orv::ToUtf8(temp.view()).c_str() : "(none)");

  std::uint8_t data[orv::manifest::kHostRegistryBytes] = {};
  orv::RegistryValueRequest request;
  request.valueName = orv::manifest::kHostRegistryValue;
  request.data = data;
  request.size = sizeof data - 2;  // keep a NUL after whatever is stored
  if (p.ReadRegistryValue(p, orv::manifest::kHostRegistryKey, request) == orv::RegistryRead::Read) {
    std::printf("host path: %s\n", orv::ToUtf8(reinterpret_cast<const char16_t*>(data)).c_str());
  } else {
    std::printf("host path: not found (%s)\n",
                orv::ToUtf8(p.DescribeError(p, p.LastError(p))).c_str());
  }

  int result = 0;
  for (const String& file : files) {
    orv::FileVersion4 version;
    if (p.ReadFileVersion(p, file.c_str(), version)) {
      std::printf("%s: %s\n", orv::ToUtf8(file).c_str(), orv::ToText(version).c_str());
    } else {
      std::printf("%s: no file version\n", orv::ToUtf8(file).c_str());
      result = 1;
    }
  }
  return result;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<String> files;
  for (int i = 1; i < argc; ++i) files.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return Probe(files);
}
#else
int main(int argc, char** argv) {
  std::vector<String> files;
  for (int i = 1; i < argc; ++i) files.push_back(orv::FromUtf8(argv[i]));
  return Probe(files);
}
#endif
