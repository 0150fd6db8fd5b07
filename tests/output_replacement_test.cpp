// How an output takes the place of the file it names: names and paths at
// the system's limits, folders and files the user may or may not write,
// what the old file had beyond its content, and a signal while the files
// are put in place. Where the suite runs as root, the cases that are about
// a user's rights run the program as another user.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "driver/run.h"
#include "platform/replacement.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t other_user = 65534; // nobody

bool running_as_root() {
    return geteuid() == 0;
}

// The program as a user without privileges: as nobody where the suite runs
// as root, else as the suite's own user.
std::string unprivileged_program() {
    std::string program = this_build();
    program.insert(program.begin(), '\'');
    program += '\'';
    if (!running_as_root()) return program;
    return "setpriv --reuid=" + std::to_string(other_user) +
           " --regid=" + std::to_string(other_user) + " --clear-groups " + program;
}

// A scratch folder the unprivileged program may work in, holding the input.
struct OpenFolder {
    ScratchFolder scratch;
    fs::path path = scratch.path;
    Bytes input = text_like(200000, 91);
    Bytes stream = compress_bytes(input, 14); // the width its search chooses
    OpenFolder() {
        fs::permissions(path, fs::perms::all);
        write_file(path / "in", input);
        fs::permissions(path / "in", fs::perms::all);
    }
};

std::string single_line(const std::string& what, const std::string& path, int error) {
    return "tarnwel: " + what + " " + path + ": " + std::strerror(error) + "\n";
}

// Runs a shell command in folder; true when it succeeds.
bool in_folder(const fs::path& folder, const std::string& command) {
    return std::system(("cd '" + folder.string() + "' && " + command).c_str()) == 0;
}

TEST(OutputNames, NamesAndPathsAtTheSystemsLimitsWork) {
    OpenFolder folder;
    write_file(folder.path / "expected", folder.stream);
    // A name of 255 bytes, and a path of 4095 (each of its names within 255),
    // which only relative to the folder is short enough to name.
    std::string long_name(255, 'n');
    std::string long_path = ".";
    for (int i = 0; i < 16; ++i)
        long_path.append("/").append(250, 'd');
    ASSERT_TRUE(in_folder(folder.path, "mkdir -p " + long_path));
    std::size_t last_name = 4095 - long_path.size() - 1;
    long_path.append("/").append(last_name, 'p');
    ASSERT_EQ(long_path.size(), 4095u);
    std::vector<std::string> outputs{long_name, long_path};
    // Wine works through the Linux path of the file, which at this depth is
    // past Linux's limit: a Windows build is held to the long name alone.
    if (program_under_test() != this_build()) outputs.pop_back();
    for (const std::string& output : outputs) {
        RunOutcome compressed = run_tarnwel(folder.path, {"c", "in", output});
        EXPECT_EQ(compressed.status, 0) << compressed.output;
        EXPECT_TRUE(in_folder(folder.path, "cmp -s expected " + output));
        RunOutcome expanded = run_tarnwel(folder.path, {"d", output, "back"});
        EXPECT_EQ(expanded.status, 0) << expanded.output;
        EXPECT_TRUE(read_file(folder.path / "back") == folder.input);
    }
}

// Nothing is read or made for an output that cannot be one.
TEST(OutputNames, AnEmptyNameIsRefusedBeforeTheInputIsRead) {
    OpenFolder folder;
    for (const char* mode : {"c", "d"}) {
        RunOutcome outcome = run_tarnwel(folder.path, {mode, "in", ""});
        EXPECT_EQ(outcome.status, 2) << mode;
        EXPECT_EQ(outcome.output, single_line("cannot create output", "", ENOENT)) << mode;
        // The width file, when expanding, is read first: it must exist to get this far.
        write_file(folder.path / "bits.txt", bytes_of("14"));
    }
    EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"bits.txt", "in"}));
}

// An output the user may write is written, in place where no new file can
// take its place; one they can neither replace nor write is refused before
// the input is read. Each case: a folder "place", a file "place/out" in it.
TEST(OutputRights, WhatTheUserMayWriteIsWrittenAndTheRestRefusedAtOnce) {
    struct Case {
        const char* name;
        fs::perms folder;
        fs::perms file;
        bool append_only;
        int refusal; // 0 where the run succeeds
    };
    const auto rwx = fs::perms::all;
    const auto r_x = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    const auto rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                    fs::perms::group_write | fs::perms::others_read | fs::perms::others_write;
    const auto r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const Case cases[] = {
        {"folder closed, file open", r_x, rw, false, 0},
        {"another user's file in a sticky folder", rwx | fs::perms::sticky_bit, rw, false, 0},
        {"folder and file closed", r_x, r, false, EACCES},
        {"append-only file", rwx, rw, true, EPERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if ((c.append_only || (c.folder & fs::perms::sticky_bit) != fs::perms::none) &&
            !running_as_root()) {
            std::cout << "skipped without root: " << c.name << "\n";
            continue;
        }
        OpenFolder folder;
        fs::path place = folder.path / "place";
        fs::create_directory(place);
        write_file(place / "out", bytes_of("old"));
        fs::permissions(place / "out", c.file);
        if (c.append_only &&
            std::system(
                ("chattr +a '" + (place / "out").string() + "'" + " 2>/dev/null").c_str()) != 0) {
            std::cout << "skipped: the file system has no append-only files\n";
            continue;
        }
        fs::permissions(place, c.folder);
        RunOutcome outcome =
            run_tarnwel(folder.path, {"c", "in", "place/out"}, "", unprivileged_program());
        if (c.append_only) std::system(("chattr -a '" + (place / "out").string() + "'").c_str());
        fs::permissions(place, rwx);
        if (c.refusal == 0) {
            EXPECT_EQ(outcome.status, 0) << outcome.output;
            EXPECT_TRUE(read_file(place / "out") == folder.stream);
        } else {
            EXPECT_EQ(outcome.status, 2);
            EXPECT_EQ(outcome.output, single_line("cannot create output", "place/out", c.refusal));
            EXPECT_EQ(read_file(place / "out"), bytes_of("old"));
        }
        EXPECT_EQ(names_in(place), std::vector<std::string>{"out"});
    }
}

// A file written in place has lost its old content from the start: a run
// that does not finish leaves it empty rather than half-written.
TEST(OutputRights, AnOutputWrittenInPlaceIsEmptiedWhenTheRunIsInterrupted) {
    OpenFolder folder;
    fs::path place = folder.path / "place";
    fs::create_directory(place);
    write_file(place / "out", bytes_of("old"));
    fs::permissions(place / "out", fs::perms::all);
    fs::permissions(place, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    ASSERT_EQ(mkfifo((folder.path / "feed").c_str(), 0666), 0);
    write_file(folder.path / "script",
               bytes_of(unprivileged_program() +
                        " c feed place/out >/dev/null & run=$!\nexec 3>feed\n"
                        "head -c 1000 in >&3\nsleep 0.3\nkill -TERM $run\nwait $run\n"));
    int raw = std::system(("cd '" + folder.path.string() + "' && bash script").c_str());
    fs::permissions(place, fs::perms::all);
    EXPECT_EQ(WEXITSTATUS(raw), 128 + SIGTERM);
    EXPECT_EQ(fs::file_size(place / "out"), 0u);
}

struct Attributes {
    mode_t mode = 0;
    std::vector<std::pair<std::string, std::string>> extended;
};

Attributes attributes_of(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0);
    Attributes found{info.st_mode & 07777, {}};
    char names[4096];
    ssize_t length = listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        ssize_t size = getxattr(path.c_str(), names + at, value, sizeof value);
        found.extended.emplace_back(names + at, std::string(value, size < 0 ? 0 : size));
    }
    std::sort(found.extended.begin(), found.extended.end());
    return found;
}

// An access control list as the kernel stores it: the owner rw, one more
// user rw, the group r, the mask rw, others r.
std::string access_list_granting(uid_t user) {
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t none = 0xffffffff;
    const Entry entries[] = {
        {0x01, 6, none}, {0x02, 6, user}, {0x04, 4, none}, {0x10, 6, none}, {0x20, 4, none}};
    std::string list(4, '\0');
    list[0] = 2; // the format's version, little-endian
    for (const Entry& entry : entries)
        list += std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
    return list;
}

// The replaced file keeps its mode bits (set-user-ID included, which a
// write by a user without privileges clears), its extended attributes and
// its access control list.
TEST(OutputRights, ReplacingAFileKeepsItsModeExtendedAttributesAndAccessList) {
    OpenFolder folder;
    fs::path place = folder.path / "own";
    fs::create_directory(place);
    fs::path output = place / "out";
    write_file(output, bytes_of("old"));
    ASSERT_EQ(chmod(output.c_str(), 04755), 0);
    int unsupported = 0;
    if (setxattr(output.c_str(), "user.note", "kept", 4, 0) != 0) unsupported = errno;
    std::string list = access_list_granting(other_user - 1);
    if (setxattr(output.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0)
        unsupported = errno;
    if (running_as_root()) {
        ASSERT_EQ(chown(place.c_str(), other_user, other_user), 0);
        ASSERT_EQ(chown(output.c_str(), other_user, other_user), 0);
        ASSERT_EQ(chmod(output.c_str(), 04755), 0); // chown cleared it
    }
    Attributes before = attributes_of(output);
    RunOutcome outcome =
        run_tarnwel(folder.path, {"c", "in", "own/out"}, "", unprivileged_program());
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_TRUE(read_file(output) == folder.stream);
    Attributes after = attributes_of(output);
    EXPECT_EQ(after.mode, before.mode);
    EXPECT_EQ(after.extended, before.extended);
    if (unsupported != 0)
        GTEST_SKIP() << "the file system lacks extended attributes or access lists ("
                     << std::strerror(unsupported) << "): only the mode was checked";
}

// The run's files are in place only when both are: a signal that arrives
// while they are put there either finds them as they were or is too late
// to undo a run that has done its work. The run goes in a child process,
// with a signal sent at each rename.
TEST(OutputRights, ASignalWhileTheFilesArePutInPlaceLeavesTheOldFilesOrASuccess) {
    struct Case {
        const char* mode;
        int signalled_rename; // 1: the output's; 2: the width file's
    };
    for (Case c : {Case{"c", 1}, Case{"c", 2}, Case{"d", 1}}) {
        SCOPED_TRACE(std::string(c.mode) + " at rename " + std::to_string(c.signalled_rename));
        OpenFolder folder;
        write_file(folder.path / "in.z", folder.stream);
        // Compressing must replace the width; expanding must read this one.
        write_file(folder.path / "bits.txt", bytes_of(c.mode[0] == 'c' ? "12" : "14"));
        write_file(folder.path / "out", bytes_of("old"));
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            static int renames_left;
            renames_left = c.signalled_rename;
            set_commit_hook([] {
                if (--renames_left == 0) raise(SIGTERM);
            });
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            if (chdir(folder.path.c_str()) != 0) _exit(99);
            std::string mode = c.mode, input = c.mode[0] == 'c' ? "in" : "in.z", output = "out";
            char* argv[] = {mode.data(), mode.data(), input.data(), output.data(), nullptr};
            _exit(run(4, argv));
        }
        int raw = 0;
        ASSERT_EQ(waitpid(child, &raw, 0), child);
        ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
        EXPECT_EQ(WEXITSTATUS(raw), 0);
        Bytes expected = c.mode[0] == 'c' ? folder.stream : folder.input;
        EXPECT_TRUE(read_file(folder.path / "out") == expected);
        EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("14"));
        EXPECT_EQ(names_in(folder.path),
                  (std::vector<std::string>{"bits.txt", "in", "in.z", "out"}));
    }
}

// bits.txt that is a symbolic link stays one: the file it leads to takes
// the new width, as an output named through a link does.
TEST(OutputRights, AWidthFileThatIsALinkStaysALink) {
    OpenFolder folder;
    fs::create_directory(folder.path / "kept");
    write_file(folder.path / "kept" / "width", bytes_of("25"));
    fs::create_symlink("kept/width", folder.path / "bits.txt");
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "out"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(folder.path / "bits.txt"));
    EXPECT_EQ(read_file(folder.path / "kept" / "width"), bytes_of("14"));
}

} // namespace
} // namespace tarnwel::test
