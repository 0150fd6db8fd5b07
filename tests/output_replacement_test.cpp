// How an output takes the place of the file it names: names and paths at
// the system's limits, folders and files the user may or may not write,
// what the old file had beyond its content, who may open the new file while
// it is written, and a signal while the files are put in place. Where the
// suite runs as root, the cases that are about a user's rights run the
// program, or an attempt to open its files, as another user.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "replacement.h"
#include "run.h"
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

// Whether the unprivileged user can open path for reading, tried from a
// child process that becomes them (only root can; false otherwise).
bool other_user_can_open(const fs::path& path) {
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(other_user) != 0 || setuid(other_user) != 0)
            _exit(2);
        _exit(open(path.c_str(), O_RDONLY) >= 0 ? 1 : 0);
    }
    int raw = 0;
    return child > 0 && waitpid(child, &raw, 0) == child && WIFEXITED(raw) && WEXITSTATUS(raw) == 1;
}

// Runs the command in folder in a child process of this test (so that hooks
// can be set in it first, by setup), with its standard output dropped; the
// child's wait status. The child's exit status is verdict(the run's status).
int run_in_child(
    const fs::path& folder, std::vector<std::string> args, void (*setup)(),
    int (*verdict)(int) = [](int status) { return status; }) {
    pid_t child = fork();
    if (child == 0) {
        setup();
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        if (chdir(folder.c_str()) != 0) _exit(99);
        std::vector<char*> argv{args[0].data()};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        _exit(verdict(run(static_cast<int>(args.size()) + 1, argv.data())));
    }
    int raw = 0;
    if (child < 0 || waitpid(child, &raw, 0) != child) ADD_FAILURE() << "no child";
    return raw;
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
        const char* append_only; // the folder's or the file's name, or nullptr
        int refusal;             // 0 where the run succeeds
        bool file_exists = true;
    };
    const auto rwx = fs::perms::all;
    const auto r_x = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    const auto rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                    fs::perms::group_write | fs::perms::others_read | fs::perms::others_write;
    const auto r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const Case cases[] = {
        {"folder closed, file open", r_x, rw, nullptr, 0},
        {"another user's file in a sticky folder", rwx | fs::perms::sticky_bit, rw, nullptr, 0},
        {"folder and file closed", r_x, r, nullptr, EACCES},
        {"append-only file", rwx, rw, "place/out", EPERM},
        // Its names cannot go: a new file could neither replace the old one
        // nor be removed.
        {"append-only folder, file open", rwx, rw, "place", 0},
        {"append-only folder, no file yet", rwx, rw, "place", EPERM, false},
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
        if (c.file_exists) {
            write_file(place / "out", bytes_of("old"));
            fs::permissions(place / "out", c.file);
        }
        fs::permissions(place, c.folder); // a folder marked append-only keeps its mode
        std::string marked = c.append_only ? (folder.path / c.append_only).string() : "";
        if (c.append_only && std::system(("chattr +a '" + marked + "' 2>/dev/null").c_str()) != 0) {
            std::cout << "skipped: the file system has no append-only files (" << c.name << ")\n";
            continue;
        }
        RunOutcome outcome =
            run_tarnwel(folder.path, {"c", "in", "place/out"}, "", unprivileged_program());
        if (c.append_only) std::system(("chattr -a '" + marked + "'").c_str());
        fs::permissions(place, rwx);
        if (c.refusal == 0) {
            EXPECT_EQ(outcome.status, 0) << outcome.output;
            EXPECT_TRUE(read_file(place / "out") == folder.stream);
        } else {
            EXPECT_EQ(outcome.status, 2);
            EXPECT_EQ(outcome.output, single_line("cannot create output", "place/out", c.refusal));
            if (c.file_exists) {
                EXPECT_EQ(read_file(place / "out"), bytes_of("old"));
            }
        }
        EXPECT_EQ(names_in(place),
                  c.file_exists ? std::vector<std::string>{"out"} : std::vector<std::string>{});
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

// A folder's default access control list gives a file made there entries
// of its own. A replaced file keeps its own list, entry for entry, or none
// where it had none, whatever the folder's default; a file that did not
// exist gets what any new file there gets.
TEST(OutputRights, AReplacedFileKeepsItsOwnAccessListNotItsFoldersDefault) {
    struct Case {
        const char* name;
        bool file_exists;
        bool own_list;
    };
    const Case cases[] = {{"an old file without a list", true, false},
                          {"an old file with a list of its own", true, true},
                          {"no old file", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFolder folder;
        fs::path place = folder.path / "place";
        fs::create_directory(place);
        std::string granting = access_list_granting(other_user);
        if (setxattr(place.c_str(), "system.posix_acl_default", granting.data(), granting.size(),
                     0) != 0)
            GTEST_SKIP() << "the file system lacks access control lists (" << std::strerror(errno)
                         << ")";
        fs::path output = place / "out";
        Attributes wanted;
        if (c.file_exists) {
            write_file(output, bytes_of("old"));
            // Whatever the default gave it, the old file has a list of its own or none.
            removexattr(output.c_str(), "system.posix_acl_access");
            std::string own = access_list_granting(other_user - 1);
            if (c.own_list) {
                ASSERT_EQ(
                    setxattr(output.c_str(), "system.posix_acl_access", own.data(), own.size(), 0),
                    0);
            }
            ASSERT_EQ(chmod(output.c_str(), 0640), 0);
            wanted = attributes_of(output);
        } else {
            int made = open((place / "new").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            ASSERT_GE(made, 0);
            close(made);
            wanted = attributes_of(place / "new");
        }
        RunOutcome outcome = run_tarnwel(folder.path, {"c", "in", "place/out"});
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        Attributes after = attributes_of(output);
        EXPECT_EQ(after.mode, wanted.mode);
        EXPECT_EQ(after.extended, wanted.extended);
    }
}

// A path swapped while the run works for a link to another user's file
// gives the new file nothing of that file: what the new file gets was read
// from the old one at the start, and is given through its own descriptor.
// The run goes in a child process, which swaps the path as the new file's
// content is complete.
TEST(OutputRights, AnOutputSwappedForALinkMidRunTakesNothingFromTheLinkedFile) {
    if (!running_as_root()) GTEST_SKIP() << "needs root, to run while another user swaps a link";
    OpenFolder folder;
    write_file(folder.path / "out", bytes_of("old"));
    ASSERT_EQ(chmod((folder.path / "out").c_str(), 0640), 0);
    fs::path theirs = folder.path / "theirs";
    write_file(theirs, bytes_of("bait"));
    ASSERT_EQ(chown(theirs.c_str(), other_user, other_user), 0);
    std::string granting = access_list_granting(other_user);
    if (setxattr(theirs.c_str(), "system.posix_acl_access", granting.data(), granting.size(), 0) !=
        0)
        GTEST_SKIP() << "the file system lacks access control lists (" << std::strerror(errno)
                     << ")";
    fs::create_symlink("theirs", folder.path / "link");
    static std::string link, out;
    link = (folder.path / "link").string();
    out = (folder.path / "out").string();
    int raw = run_in_child(folder.path, {"c", "in", "out"}, [] {
        set_carry_over_hook([] { std::rename(link.c_str(), out.c_str()); });
    });
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    EXPECT_FALSE(fs::is_symlink(folder.path / "out"));
    EXPECT_TRUE(read_file(folder.path / "out") == folder.stream);
    Attributes after = attributes_of(folder.path / "out");
    EXPECT_EQ(after.mode, 0640u);
    EXPECT_TRUE(after.extended.empty());
    EXPECT_FALSE(other_user_can_open(folder.path / "out"));
    EXPECT_EQ(read_file(theirs), bytes_of("bait"));
}

// The new file is its maker's alone until its content is complete: another
// user who opened it meanwhile could keep the descriptor and read all of
// it. The run goes in a child process, which looks at every new file's
// mode, and where the suite is root tries to open it as the other user, as
// the first is complete (the width file's; the stream is written by then),
// before either gets its final mode.
TEST(OutputRights, AnotherUserCannotOpenTheNewFileWhileItIsWritten) {
    if (!running_as_root()) std::cout << "not root: the new files' modes alone are checked\n";
    for (int old_mode : {-1, 0644, 0600}) {
        SCOPED_TRACE(old_mode);
        OpenFolder folder;
        if (old_mode >= 0) {
            write_file(folder.path / "out", bytes_of("old"));
            ASSERT_EQ(chmod((folder.path / "out").c_str(), old_mode), 0);
        }
        static fs::path watched;
        static bool tried, opened;
        watched = folder.path;
        int raw = run_in_child(
            folder.path, {"c", "in", "out"},
            [] {
                set_carry_over_hook([] {
                    if (tried) return;
                    for (const std::string& name : names_in(watched)) {
                        if (name.rfind("tarnwel.", 0) != 0) continue;
                        tried = true;
                        struct stat info {};
                        stat((watched / name).c_str(), &info);
                        opened = opened || (info.st_mode & 077) != 0 ||
                                 (running_as_root() && other_user_can_open(watched / name));
                    }
                });
            },
            [](int status) { return !tried   ? 90
                                    : opened ? 91
                                             : status; });
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 0) << "90: no new file seen; 91: another user opened one";
        EXPECT_TRUE(read_file(folder.path / "out") == folder.stream);
        struct stat info {};
        ASSERT_EQ(stat((folder.path / "out").c_str(), &info), 0);
        mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(info.st_mode & 07777, old_mode >= 0 ? old_mode : 0666 & ~mask);
    }
}

// A signal during the scan behind the width hint, after an expansion that
// ended corrupt, ends the run as one before it does: the output is not
// left in place. The run goes in a child process, signalled as the scan
// starts.
TEST(OutputRights, ASignalDuringTheHintsScanEndsTheRunBeforeTheOutputIsInPlace) {
    OpenFolder folder;
    write_file(folder.path / "in.z", folder.stream);
    write_file(folder.path / "bits.txt", bytes_of("13")); // it is 14: corrupt, then the hint
    write_file(folder.path / "out", bytes_of("old"));
    int raw = run_in_child(folder.path, {"d", "in.z", "out"},
                           [] { set_hint_scan_hook([] { raise(SIGTERM); }); });
    ASSERT_TRUE(WIFSIGNALED(raw)) << "ended with status " << WEXITSTATUS(raw);
    EXPECT_EQ(WTERMSIG(raw), SIGTERM);
    EXPECT_EQ(read_file(folder.path / "out"), bytes_of("old"));
    EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"bits.txt", "in", "in.z", "out"}));
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
