// The POSIX backend's operations, one unit per concern; system.cpp gathers
// them into the platform record.
#pragma once

#include "platform/seam.h"

namespace orv::posix {

// UTF-16 path to the file system's UTF-8, with both separators accepted.
std::string NativePath(const char16_t* path);

#include "platform/backend_ops.inc"

}  // namespace orv::posix
