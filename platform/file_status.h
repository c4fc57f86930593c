// A file's times, size and attributes, as the status read fills them.
#pragma once

#include <cstdint>

namespace orv {

// Whole seconds since 1970-01-01 00:00 UTC.
struct FileStatusRecord {
  std::int64_t creationTime = 0;
  std::int64_t modificationTime = 0;
  std::int64_t accessTime = 0;
  std::uint64_t size = 0;
  std::uint32_t attributes = 0;
};

}  // namespace orv
