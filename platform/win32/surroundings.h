// The Win32 backend's decision whether a box can be seen, apart from the
// calls that gather its facts, so that the cases a test machine cannot
// produce (session 0) are proven all the same.
#pragma once

#include <cstdint>
#include <optional>

namespace orv::win32 {

// session: the process's session, when the system could tell it.
// stationFlags: the USEROBJECTFLAGS.dwFlags of the process's window station,
// when they could be read.
bool MessagesCanBeSeen(std::optional<std::uint32_t> session,
                       std::optional<std::uint32_t> stationFlags);

}  // namespace orv::win32
