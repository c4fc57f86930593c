#include "platform/file_version.h"

namespace orv {

std::int32_t CompareFileVersion(const FileVersion4& first, const FileVersion4& second) {
  if (first.major != second.major) return second.major - first.major;
  if (first.minor != second.minor) return second.minor - first.minor;
  if (first.build != second.build) return second.build - first.build;
  return second.privatePart - first.privatePart;
}

std::string ToText(const FileVersion4& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) +
         "." + std::to_string(v.privatePart);
}

FileVersion4 FromFixedInfo(std::uint32_t ms, std::uint32_t ls) {
  return FileVersion4{static_cast<std::int32_t>(ms >> 16), static_cast<std::int32_t>(ms & 0xFFFF),
                      static_cast<std::int32_t>(ls >> 16), static_cast<std::int32_t>(ls & 0xFFFF)};
}

}  // namespace orv
