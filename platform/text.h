// Text as the program holds it: UTF-16 on every build, and the conversion to
// and from the UTF-8 that POSIX file names and logs use.
#pragma once

#include <string>
#include <string_view>

namespace orv {

// Paths and texts are UTF-16, as on Windows, on every build: lengths are
// counted in UTF-16 code units so that the 260-character limits mean the same
// thing everywhere.
using String = std::u16string;
using StringView = std::u16string_view;

// UTF-8 <-> UTF-16. Unpaired surrogates travel as their three-byte forms so
// that every path survives the round trip unchanged.
std::string ToUtf8(StringView text);
String FromUtf8(std::string_view text);

}  // namespace orv
