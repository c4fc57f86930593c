#include "platform/file_ops.h"

namespace orv {

bool FitsShellPath(StringView path) {
  return path.size() <= kMaxShellPath;
}

bool NormaliseProbePath(StringView path, PathBuffer& out) {
  if (!out.Assign(path)) return false;
  const std::size_t length = path.size();
  if (length > 3 && path.back() == u'\\') {
    out.text[length - 1] = u'\0';
  } else if (length < 3) {
    return out.Append(u"\\");
  }
  return true;
}

}  // namespace orv
