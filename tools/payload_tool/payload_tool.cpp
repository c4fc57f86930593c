// The build's payload helper, run on the build machine: it writes the default
// payload files, or takes a file from a real payload folder after checking
// its file version. Either way the build only ever embeds files it has seen
// carry the payload version.
//
//   payload_tool make OUT --version A.B.C.D --size N [--exe]
//   payload_tool take SOURCE OUT --version A.B.C.D
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pe_version.h"
#include "tools/pegen/pe_generator.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "payload: %s\n", message.c_str());
  return 1;
}

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Written whole or not at all: a failed write leaves no file that a later
// build step could take for a good one.
bool WriteWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::remove(path.c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

// Empty when the bytes carry the expected version, else why not.
std::string VersionProblem(const std::vector<std::uint8_t>& bytes,
                           const orv::FileVersion4& expected) {
  orv::FileVersion4 found;
  if (!orv::ReadPeFileVersion(orv::MemoryPeSource(bytes.data(), bytes.size()), found)) {
    return "has no readable file version (expected " + orv::ToText(expected) + ")";
  }
  if (!(found == expected)) {
    return "has file version " + orv::ToText(found) + ", expected " + orv::ToText(expected);
  }
  return {};
}

int Make(const std::string& out, const orv::FileVersion4& version, std::uint64_t size, bool exe) {
  orv::pegen::PeImageSpec spec;
  spec.fileVersion = version;
  spec.productVersion = version;
  spec.size = static_cast<std::uint32_t>(size);
  spec.executable = exe;
  const std::vector<std::uint8_t> image = orv::pegen::MakePeImage(spec);
  if (image.size() != size) {
    return Fail(out + ": cannot make an image of " + std::to_string(size) + " bytes");
  }
  const std::string problem = VersionProblem(image, version);
  if (!problem.empty()) return Fail("generated " + out + " " + problem);
  if (!WriteWhole(out, image)) return Fail("cannot write " + out);
  return 0;
}

int Take(const std::string& source, const std::string& out, const orv::FileVersion4& version) {
  std::remove(out.c_str());  // never leave a copy of an older, good file behind
  std::vector<std::uint8_t> bytes;
  if (!ReadWhole(source, bytes))
    return Fail("payload file " + source + " is missing or unreadable");
  if (bytes.empty()) return Fail("payload file " + source + " is empty");
  const std::string problem = VersionProblem(bytes, version);
  if (!problem.empty()) return Fail("payload file " + source + " " + problem);
  if (!WriteWhole(out, bytes)) return Fail("cannot write " + out);
  return 0;
}

constexpr char kUsage[] =
    "usage: payload_tool make OUT --version A.B.C.D --size N [--exe]\n"
    "       payload_tool take SOURCE OUT --version A.B.C.D\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  orv::FileVersion4 version;
  bool versionGiven = false;
  std::uint64_t size = 0;
  bool exe = false;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--exe") {
      exe = true;
    } else if (arg == "--version" && i + 1 < argc) {
      if (!orv::ParseFileVersion(argv[++i], version))
        return Fail(std::string("bad version ") + argv[i]);
      versionGiven = true;
    } else if (arg == "--size" && i + 1 < argc) {
      if (!orv::ParseDecimal(argv[++i], 0xFFFFFFFFu, size) || size == 0) {
        return Fail(std::string("bad size ") + argv[i]);
      }
    } else if (!arg.empty() && arg[0] != '-') {
      files.emplace_back(arg);
    } else {
      return Fail("unknown option " + std::string(arg) + "\n" + kUsage);
    }
  }
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "make" && files.size() == 1 && versionGiven && size != 0) {
    return Make(files[0], version, size, exe);
  }
  if (command == "take" && files.size() == 2 && versionGiven && size == 0 && !exe) {
    return Take(files[0], files[1], version);
  }
  return Fail(kUsage);
}
