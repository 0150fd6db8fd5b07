#include "attributes_posix.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace tarnwel {

namespace {

constexpr const char* access_list_name = "system.posix_acl_access";
constexpr const char* default_list_name = "system.posix_acl_default";

// The largest list of names and the largest value the system keeps.
constexpr std::size_t attribute_limit = 1 << 16;

// The extended attributes of the file open as descriptor. One opened only
// to name the file (O_PATH) cannot be asked for them: they are read
// through its name under /proc/self/fd instead, which leads to that same
// file whatever becomes of the path it was opened by.
struct AttributeReader {
    int descriptor;
    std::string by_name = "/proc/self/fd/" + std::to_string(descriptor);
    bool named = false;

    ssize_t list(char* names, std::size_t size) {
        ssize_t length = flistxattr(descriptor, names, size);
        if (length >= 0 || errno != EBADF) return length;
        named = true;
        return listxattr(by_name.c_str(), names, size);
    }
    ssize_t get(const char* name, char* value, std::size_t size) {
        if (!named) {
            ssize_t length = fgetxattr(descriptor, name, value, size);
            if (length >= 0 || errno != EBADF) return length;
            named = true;
        }
        return getxattr(by_name.c_str(), name, value, size);
    }
};

std::uint32_t little_endian(const char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

// A file made with mode 0666 under a default list gets its owner's, its
// mask's (or, without a mask, its group's) and others' entries, less
// execution, as its mode bits; the umask plays no part. Version 2 of the
// kernel's layout: a 4-byte version, then 8-byte entries of a 2-byte tag,
// 2-byte permissions and a 4-byte id.
unsigned mode_from_default_list(const std::string& list) {
    constexpr std::uint32_t owner = 0x01, group = 0x04, mask = 0x10, others = 0x20;
    unsigned owner_bits = 0, group_bits = 0, mask_bits = 0, others_bits = 0;
    bool has_mask = false;
    for (std::size_t at = 4; at + 8 <= list.size(); at += 8) {
        std::uint32_t tag = little_endian(list.data() + at, 2);
        unsigned permissions = little_endian(list.data() + at + 2, 2) & 06;
        if (tag == owner) owner_bits = permissions;
        if (tag == group) group_bits = permissions;
        if (tag == others) others_bits = permissions;
        if (tag == mask) {
            has_mask = true;
            mask_bits = permissions;
        }
    }
    return owner_bits << 6 | (has_mask ? mask_bits : group_bits) << 3 | others_bits;
}

void give_owner(const Replacement& replacement, int descriptor) {
    if (fchown(descriptor, static_cast<uid_t>(replacement.owner),
               static_cast<gid_t>(replacement.group)) != 0) {
        // Only the superuser may give a file away; the group alone may do.
        [[maybe_unused]] int ignored =
            fchown(descriptor, static_cast<uid_t>(-1), static_cast<gid_t>(replacement.group));
    }
}

} // namespace

void read_old_attributes(int descriptor, Replacement& replacement) {
    struct stat info {};
    if (fstat(descriptor, &info) == 0) {
        replacement.mode = info.st_mode & 07777;
        replacement.owner = info.st_uid;
        replacement.group = info.st_gid;
    }
    AttributeReader reader{descriptor};
    std::vector<char> names(attribute_limit);
    ssize_t length = reader.list(names.data(), names.size());
    std::vector<char> value(attribute_limit);
    for (ssize_t at = 0; at < length;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
        ssize_t size = reader.get(name, value.data(), value.size());
        if (size >= 0) replacement.extended.emplace_back(name, std::string(value.data(), size));
    }
}

unsigned mode_of_a_new_file(int folder) {
    AttributeReader reader{folder};
    std::vector<char> list(attribute_limit);
    ssize_t size = reader.get(default_list_name, list.data(), list.size());
    if (size > 0) return mode_from_default_list(std::string(list.data(), size));
    // Read by setting it: no helper thread is alive to make a file meanwhile.
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void give_attributes(const Replacement& replacement, int descriptor) {
    if (replacement.exists) {
        give_owner(replacement, descriptor);
        bool had_access_list = false;
        for (const auto& [name, value] : replacement.extended) {
            had_access_list = had_access_list || name == access_list_name;
            // One that this run may not set (another's security label, a
            // trusted attribute without privilege) is left behind.
            fsetxattr(descriptor, name.c_str(), value.data(), value.size(), 0);
        }
        // What the folder's default list gave the new file would open it to
        // users the old file was closed to.
        if (!had_access_list) fremovexattr(descriptor, access_list_name);
    }
    fchmod(descriptor, replacement.mode);
}

} // namespace tarnwel
