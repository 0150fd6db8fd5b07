// Opening the two data files safely: the input is checked before the output
// is created, so a run that cannot read its input, or would write over it,
// leaves every file as it was.
#pragma once

#include <cstdio>

namespace tarnwel {

// Opens path for binary reading. Folders are refused with EISDIR, since
// stdio would open them and fail only on the first read. nullptr on failure,
// with errno set.
std::FILE* open_input(const char* path);

// True when path exists and is the very file open as file, whatever the
// spelling of the path, through links included.
bool is_same_file(std::FILE* file, const char* path);

} // namespace tarnwel
