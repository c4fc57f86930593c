// The smallest program that carries the patch's resources: its size shows
// what the resources cost (the payload and little else).
#include <cstddef>
#include <cstdint>

#include "patch/manifest.h"
#include "platform/win32/backend.h"

int main() {
  const orv::Platform platform{};
  for (int k = 0; k < orv::manifest::kPayloadCount; ++k) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (orv::win32::FindPayload(platform, orv::manifest::PayloadResourceId(k), data, size) != 1) {
      return 1;
    }
  }
  return 0;
}
