// libFuzzer entry: any bytes through the PE version reader. A read must never
// leave the input, and a refused read must leave the record alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const orv::MemoryPeSource source(data, size);
  const orv::FileVersion4 before{-1, -1, -1, -1};
  orv::FileVersion4 version = before;
  if (orv::ReadPeFileVersion(source, version)) {
    for (const std::int32_t part :
         {version.major, version.minor, version.build, version.privatePart}) {
      if (part < 0 || part > 0xFFFF) std::abort();
    }
  } else if (!(version == before)) {
    std::abort();
  }
  return 0;
}
