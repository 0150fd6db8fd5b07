// Path pieces the POSIX file functions share.
#pragma once

#include <optional>
#include <string>

namespace tarnwel {

// The folder part of path with its slash ("" for the working folder).
std::string folder_of(const std::string& path);

// What the symbolic link at path holds; nothing when it is not a link or
// does not fit the system's path limit.
std::optional<std::string> link_target(const std::string& path);

} // namespace tarnwel
