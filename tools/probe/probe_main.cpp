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
  char16_t temp[orv::kMaxPath] = {};
  const std::uint32_t length = p.TempFolder(p, temp, orv::kMaxPath);
  std::printf("temporary folder: %s\n",
              length > 0 && length < orv::kMaxPath ? orv::ToUtf8(temp).c_str() : "(none)");

  std::uint8_t data[orv::manifest::kHostRegistryBytes] = {};
  orv::RegistryValueRequest request;
  request.valueName = orv::manifest::kHostRegistryValue;
  request.data = data;
  request.size = sizeof data - 2;  // keep a NUL after whatever is stored
  const std::int32_t status = p.ReadRegistryValue(p, orv::manifest::kHostRegistryKey, request);
  if (status == orv::kErrorSuccess) {
    std::printf("host path: %s\n", orv::ToUtf8(reinterpret_cast<const char16_t*>(data)).c_str());
  } else {
    std::printf("host path: not found (status %d)\n", static_cast<int>(status));
  }

  int result = 0;
  for (const String& file : files) {
    orv::FileVersion4 version;
    if (p.ReadFileVersion(p, file.c_str(), version) == 1) {
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
