// The program's resources where there is no resource compiler: the payload
// bytes come from the generated assembler file (one .incbin per file, in
// read-only data), the strings from the generated payload table.
#include <cstdint>
#include <iterator>

#include "platform/posix/embedded_store.h"

// Symbols of payload_store.S: the bytes of each resource and their count.
#define ORV_PAYLOAD_VERSION(major, minor, build, privatePart)
#define ORV_PAYLOAD(k, resourceId, stringId, path, day, hour, minute, second, size) \
  extern "C" const std::uint8_t orv_payload_##resourceId[];                         \
  extern "C" const std::uint32_t orv_payload_##resourceId##_size;
#define ORV_LIBRARY(l, stringId, name)
#include "patch/payload_table.inc"
#undef ORV_PAYLOAD

namespace orv::posix {
namespace {

constexpr EmbeddedPayload kPayload[] = {
#define ORV_PAYLOAD(k, resourceId, stringId, path, day, hour, minute, second, size) \
  {resourceId, orv_payload_##resourceId, &orv_payload_##resourceId##_size},
#include "patch/payload_table.inc"
#undef ORV_PAYLOAD
};

constexpr EmbeddedString kStrings[] = {
#define ORV_PAYLOAD(k, resourceId, stringId, path, day, hour, minute, second, size) \
  {stringId, path},
#undef ORV_LIBRARY
#define ORV_LIBRARY(l, stringId, name) {stringId, name},
#include "patch/payload_table.inc"
};

#undef ORV_PAYLOAD_VERSION
#undef ORV_PAYLOAD
#undef ORV_LIBRARY

}  // namespace

constinit const EmbeddedStore kEmbeddedStore{kPayload, std::size(kPayload), kStrings,
                                             std::size(kStrings)};

}  // namespace orv::posix
