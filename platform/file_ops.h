// Rules shared by every backend's file-system operations.
#pragma once

#include <cstddef>

#include "platform/framework.h"

namespace orv {

// A shell operation takes one path in a 260-character, double-NUL-ended list,
// so a path may have at most 258 characters.
inline constexpr std::size_t kMaxShellPath = kMaxPath - 2;
bool FitsShellPath(StringView path);

inline constexpr int kProbeWritable = 0;
inline constexpr int kProbeMissing = -1;
inline constexpr int kProbeNotWritable = -2;

// The writable-folder probe's trailing-backslash rule: longer than 3
// characters and ending in a backslash loses that one backslash; exactly 3
// stays; shorter gets one appended. False when the path (or the result) does
// not fit a 260-character buffer.
bool NormaliseProbePath(StringView path, PathBuffer& out);

// The probe file's name prefix.
inline constexpr char16_t kProbePrefix[] = u"~sh";

}  // namespace orv
