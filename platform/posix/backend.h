// The POSIX backend's operations, one unit per concern; system.cpp gathers
// them into the platform record.
#pragma once

#include "platform/seam.h"

namespace orv::posix {

// UTF-16 path to the file system's UTF-8, with both separators accepted.
std::string NativePath(const char16_t* path);

// Whether [data, data + size) lies inside one payload of the program's own
// embedded store: read-only bytes of the program file, never written.
bool IsEmbeddedPayload(const void* data, std::size_t size);

#include "platform/backend_ops.inc"

}  // namespace orv::posix
