// pegen: writes one minimal PE image with a version resource.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pegen/pe_generator.h"

namespace {

constexpr char kUsage[] =
    "usage: pegen OUT [--version A.B.C.D | --no-version] [--product-version A.B.C.D]\n"
    "             [--size N] [--exe] [--pe32plus] [--resource-id N]\n"
    "Writes a minimal PE image (a DLL unless --exe) carrying a version resource.\n"
    "  --version A.B.C.D          file version (default 1.0.1.1)\n"
    "  --no-version               no version resource at all\n"
    "  --product-version A.B.C.D  product version (default: the file version)\n"
    "  --size N                   exact file size in bytes (default: the smallest image)\n"
    "  --exe                      an executable that exits with code 0\n"
    "  --pe32plus                 a 64-bit image\n"
    "  --resource-id N            the version resource's id (default 1, the only one\n"
    "                             Windows reads)\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "pegen: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  orv::pegen::PeImageSpec spec;
  const char* out = nullptr;
  bool productGiven = false;
  bool versionGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--exe") {
      spec.executable = true;
    } else if (arg == "--pe32plus") {
      spec.pe32plus = true;
    } else if (arg == "--no-version") {
      spec.hasVersion = false;
    } else if (arg == "--version" || arg == "--product-version" || arg == "--size" ||
               arg == "--resource-id") {
      if (!hasValue) return Fail(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      std::uint64_t number = 0;
      if (arg == "--version") {
        if (!orv::ParseFileVersion(value, spec.fileVersion)) {
          return Fail("bad version '" + std::string(value) + "' (want A.B.C.D, each 0-65535)");
        }
        versionGiven = true;
      } else if (arg == "--product-version") {
        if (!orv::ParseFileVersion(value, spec.productVersion)) {
          return Fail("bad product version '" + std::string(value) +
                      "' (want A.B.C.D, each 0-65535)");
        }
        productGiven = true;
      } else if (arg == "--size") {
        if (!orv::ParseDecimal(value, 0xFFFFFFFFu, number) || number == 0) {
          return Fail("bad size '" + std::string(value) + "' (want 1-4294967295 bytes)");
        }
        spec.size = static_cast<std::uint32_t>(number);
      } else {
        if (!orv::ParseDecimal(value, 0xFFFF, number) || number == 0) {
          return Fail("bad resource id '" + std::string(value) + "' (want 1-65535)");
        }
        spec.versionResourceId = static_cast<std::uint16_t>(number);
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail("unknown option '" + std::string(arg) + "'\n" + kUsage);
    } else if (out != nullptr) {
      return Fail("more than one output file given");
    } else {
      out = argv[i];
    }
  }
  if (out == nullptr) return Fail(std::string("no output file given\n") + kUsage);
  if (!spec.hasVersion && (versionGiven || productGiven)) {
    return Fail("--no-version contradicts --version and --product-version");
  }
  if (!productGiven) spec.productVersion = spec.fileVersion;

  const std::vector<std::uint8_t> image = orv::pegen::MakePeImage(spec);
  if (image.empty()) {
    orv::pegen::PeImageSpec smallest = spec;
    smallest.size = 0;
    return Fail("--size " + std::to_string(spec.size) + " is too small for this image (at least " +
                std::to_string(orv::pegen::MakePeImage(smallest).size()) + " bytes)");
  }
  std::FILE* file = std::fopen(out, "wb");
  if (file == nullptr)
    return Fail(std::string("cannot create ") + out + ": " + std::strerror(errno));
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  if (std::fclose(file) != 0 || !written) {
    std::remove(out);
    return Fail(std::string("cannot write ") + out);
  }
  return 0;
}
