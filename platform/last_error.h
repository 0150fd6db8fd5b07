// The one way a failed system or stdio call is turned into an error number:
// the call's errno, or a stand-in when the library left errno unset (stdio
// need not set it on every failure).
#pragma once

#include <cerrno>

namespace tarnwel {

inline int last_error_or(int fallback = EIO) {
    return errno != 0 ? errno : fallback;
}

// Error number for a path that names something other than a regular file (a
// FIFO, a device, a socket) where one is needed. No errno says that, so it
// is a value of its own, outside errno's range; error_text spells it.
inline constexpr int not_a_regular_file = -1;

// strerror, and a text for not_a_regular_file.
const char* error_text(int error_number);

} // namespace tarnwel
