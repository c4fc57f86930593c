// Minimal valid PE images carrying a version resource: the default payload
// files and the test fixtures. No dependencies, so the same code runs in the
// native and the Windows builds.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file_version.h"

namespace orv::pegen {

struct PeImageSpec {
  bool hasVersion = true;  // false: no RT_VERSION at all
  FileVersion4 fileVersion{1, 0, 1, 1};
  FileVersion4 productVersion{1, 0, 1, 1};
  std::uint32_t size = 0;               // exact output size in bytes; 0 = the smallest image
  bool executable = false;              // EXE with a tiny .text (xor eax,eax; ret), else DLL
  std::uint16_t versionResourceId = 1;  // another id: Windows will not see the version
  bool pe32plus = false;                // a 64-bit (x64) image instead of a 32-bit one
};

// The image, byte for byte the same for the same spec (zero time stamps).
// Version parts are taken modulo 65536. Empty when size is non-zero but
// smaller than the smallest image these options allow.
std::vector<std::uint8_t> MakePeImage(const PeImageSpec& spec);

}  // namespace orv::pegen
