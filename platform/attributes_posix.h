// What a replaced file has beyond its content, read from one descriptor and
// given through another, never through a path: a path may be swapped for a
// link to another file between the two.
//
// An access control list is the extended attribute
// "system.posix_acl_access"; a folder's default list,
// "system.posix_acl_default", is what a file made there starts with.
#pragma once

#include "replacement.h"

namespace tarnwel {

// Reads the mode, owner, group and extended attributes of the file open
// as descriptor (which may have been opened only to name it, O_PATH) into
// replacement.
void read_old_attributes(int descriptor, Replacement& replacement);

// The mode a file made with mode 0666 in the folder open as folder gets:
// from the folder's default access control list where it has one, else
// 0666 less the umask.
unsigned mode_of_a_new_file(int folder);

// Gives the file open as descriptor what replacement holds (see
// carry_over_attributes), the mode last.
void give_attributes(const Replacement& replacement, int descriptor);

} // namespace tarnwel
