// The program's resources on a platform without a resource compiler: the
// payload files assembled into read-only data and the string table, looked
// up by the same ids as the Windows resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::posix {

struct EmbeddedPayload {
  int resourceId;
  const std::uint8_t* data;
  // Assembled beside the bytes (the assembler knows the size, the C++ side
  // does not), so it is read at run time.
  const std::uint32_t* size;
};

struct EmbeddedString {
  int id;
  const char16_t* text;
};

struct EmbeddedStore {
  const EmbeddedPayload* payload;
  std::size_t payloadCount;
  const EmbeddedString* strings;
  std::size_t stringCount;
};

// Defined by the program's resources (res/payload_store.cpp). A program that
// does not link them still links: resources.cpp refers to the store weakly,
// and every lookup then fails as for a missing resource.
extern const EmbeddedStore kEmbeddedStore;

}  // namespace orv::posix
