// What the executable does to files when its surroundings are hostile or
// busy: closed standard descriptors, a width file that does not exist yet
// or is a FIFO, pipes as input, signals and failing writes part way. No run
// may report success while losing data, or leave half a stream behind.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <tuple>

#include "test_support.h"

namespace tarnwel::test {
namespace {

namespace fs = std::filesystem;

struct Shell {
    int status;         // as the shell shows it: 128 + n after signal n
    std::string output; // what the script wrote to .said
};

// Runs a bash script in folder with $T naming the executable. A run that
// waits forever is cut off after 60 seconds (status 124).
Shell shell(const fs::path& folder, const std::string& script) {
    fs::path file = folder / ".script";
    write_file(file, bytes_of("T='" TARNWEL_EXECUTABLE "'\n" + script));
    std::string command =
        "cd '" + folder.string() + "' && timeout 60 bash .script >.said 2>&1 </dev/null";
    int raw = std::system(command.c_str());
    Bytes said = read_file(folder / ".said");
    fs::remove(file);
    fs::remove(folder / ".said");
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw),
            std::string(said.begin(), said.end())};
}

TEST(FilesAndSignals, ClosedStandardDescriptorsNeverReceiveTheMessages) {
    ScratchFolder folder;
    Bytes input = text_like(3000, 61);
    write_file(folder.path / "in", input);
    ASSERT_EQ(shell(folder.path, "\"$T\" c in in.z <&- >&- 2>&-").status, 0);
    EXPECT_EQ(read_file(folder.path / "in.z"), compress_bytes(input, 11));
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("11"));
    ASSERT_EQ(shell(folder.path, "\"$T\" d in.z back <&- >&- 2>&-").status, 0);
    EXPECT_EQ(read_file(folder.path / "back"), input);
}

TEST(FilesAndSignals, TheWidthFileIsNeverTheOutputBySpellingOrLinkExistingOrNot) {
    ScratchFolder folder;
    write_file(folder.path / "in", bytes_of("data"));
    fs::create_directory(folder.path / "sub");
    fs::create_symlink("bits.txt", folder.path / "link");
    for (const char* mode : {"c", "d"}) {
        for (const std::string& output :
             {std::string("bits.txt"), std::string("sub/../bits.txt"), std::string("link"),
              (folder.path / "bits.txt").string()}) {
            RunOutcome outcome = run_tarnwel(folder.path, {mode, "in", output});
            EXPECT_EQ(outcome.status, 2) << mode << " " << output;
            EXPECT_EQ(outcome.output,
                      "tarnwel: output " + output + " is the width file bits.txt\n");
            EXPECT_FALSE(fs::exists(folder.path / "bits.txt")) << mode << " " << output;
        }
    }
}

TEST(FilesAndSignals, TheWidthFileIsReplacedWholeAndOnlyOnceTheStreamIsComplete) {
    ScratchFolder folder;
    write_file(folder.path / "in", random_bytes(300000, 62));
    write_file(folder.path / "bits.txt", bytes_of("13"));
    // A rewrite in place would show through the second name.
    fs::create_hard_link(folder.path / "bits.txt", folder.path / "old-bits");
    // Failing at the last write, once the width is known, and part way.
    RunOutcome full = run_tarnwel(folder.path, {"c", "in", "/dev/full"});
    EXPECT_EQ(full.status, 2);
    Shell limited = shell(folder.path, "ulimit -f 100; \"$T\" c in out");
    EXPECT_EQ(limited.status, 2);
    EXPECT_NE(limited.output.find("tarnwel: cannot write output out: File too large\n"),
              std::string::npos)
        << limited.output;
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("13"));
    EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"bits.txt", "in", "old-bits"}));
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "out"}).status, 0);
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("17"));
    EXPECT_EQ(read_file(folder.path / "old-bits"), bytes_of("13"));
    EXPECT_EQ(names_in(folder.path),
              (std::vector<std::string>{"bits.txt", "in", "old-bits", "out"}));
}

TEST(FilesAndSignals, AWidthFileThatIsAFifoIsRefusedWithoutWaiting) {
    ScratchFolder folder;
    write_file(folder.path / "in", text_like(3000, 63));
    write_file(folder.path / "in.z", compress_bytes(read_file(folder.path / "in"), 11));
    write_file(folder.path / "kept", bytes_of("keep me"));
    ASSERT_EQ(shell(folder.path, "mkfifo bits.txt").status, 0);
    Shell compressing = shell(folder.path, "\"$T\" c in out");
    EXPECT_EQ(compressing.status, 2);
    EXPECT_NE(
        compressing.output.find("tarnwel: cannot write width file bits.txt: not a regular file\n"),
        std::string::npos)
        << compressing.output;
    EXPECT_FALSE(fs::exists(folder.path / "out"));
    Shell expanding = shell(folder.path, "\"$T\" d in.z kept");
    EXPECT_EQ(expanding.status, 2);
    EXPECT_EQ(expanding.output, "tarnwel: cannot read width file bits.txt: not a regular file\n"
                                "tarnwel: the stream reads as a whole only at BITS = 11; write 11 "
                                "to bits.txt to expand it\n");
    EXPECT_EQ(read_file(folder.path / "kept"), bytes_of("keep me"));
}

// A signal ignored by whoever started the run stays ignored: a background
// job of a script (SIGINT) or a run under nohup (SIGHUP) finishes its work.
TEST(FilesAndSignals, SignalsIgnoredAtTheStartStayIgnored) {
    ScratchFolder folder;
    Bytes input = random_bytes(2000000, 67);
    write_file(folder.path / "in", input);
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}).status, 0);
    Bytes stream = read_file(folder.path / "in.z");
    Shell outcome = shell(
        folder.path, "trap '' HUP; mkfifo feed; \"$T\" c feed out >/dev/null & run=$!\n"
                     "exec 3>feed\nhead -c 1000000 in >&3\n"
                     "until [ $(ls tarnwel.*.tmp 2>/dev/null | wc -l) = 2 ]; do sleep 0.01; done\n"
                     "kill -INT $run; kill -HUP $run; sleep 0.2\n"
                     "tail -c +1000001 in >&3\nexec 3>&-\nwait $run\nstatus=$?\nrm feed\n"
                     "exit $status");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_TRUE(read_file(folder.path / "out") == stream);
}

// Opening a FIFO waits for its reader; signals end that wait at once, with
// the first one's status, and nothing is left behind.
TEST(FilesAndSignals, WaitingForAFifoOutputsReaderEndsWithTheFirstSignal) {
    ScratchFolder folder;
    write_file(folder.path / "in", text_like(3000, 68));
    Shell outcome =
        shell(folder.path, "set -m; mkfifo f; \"$T\" c in f >/dev/null & run=$!\nsleep 0.3\n"
                           "kill -TERM $run; sleep 0.1; kill -INT $run 2>/dev/null; sleep 0.1\n"
                           "timeout 1 cat f >/dev/null 2>&1 &\nwait $run\nstatus=$?\nwait\n"
                           "rm f\nexit $status");
    EXPECT_EQ(outcome.status, 128 + SIGTERM) << outcome.output;
    EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"in"});
}

// A regular input cut short while it is read fails the run, in both modes:
// what was made of it would hold only part of it.
TEST(FilesAndSignals, AnInputThatShrinksWhileItIsReadFailsTheRun) {
    ScratchFolder folder;
    ASSERT_EQ(shell(folder.path, "head -c 16000000 /dev/urandom >in\n\"$T\" c in in.z").status, 0);
    // The new files: the width file's and the output's when compressing.
    for (auto [input, mode, new_files] : {std::tuple{"in", "c", "2"}, {"in.z", "d", "1"}}) {
        std::string script = "cp " + std::string(input) + " cut\n\"$T\" " + mode +
                             " cut out & run=$!\n"
                             "until [ $(ls tarnwel.*.tmp 2>/dev/null | wc -l) = " +
                             new_files +
                             " ]; do sleep 0.01; done\n"
                             "truncate -s 100000 cut\nwait $run\nstatus=$?\nrm cut\nexit $status";
        Shell outcome = shell(folder.path, script);
        EXPECT_EQ(outcome.status, 2) << input;
        EXPECT_NE(outcome.output.find("tarnwel: input cut changed while being read\n"),
                  std::string::npos)
            << input << ": " << outcome.output;
        EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"bits.txt", "in", "in.z"}))
            << input;
    }
}

// A run that fails part way, on a write or a signal, leaves every earlier
// file as it was: an earlier output keeps its content under every name (a
// hard link, the file a symbolic link leads to), a new one is not created,
// and the width file is the previous run's. A signal ends the run with its
// own status. Once complete, the new output takes the name.
TEST(FilesAndSignals, AFailedOrInterruptedRunLeavesEveryEarlierFileAsItWas) {
    ScratchFolder folder;
    Bytes input = random_bytes(3000000, 65);
    write_file(folder.path / "in", input);
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}).status, 0);
    Bytes stream = read_file(folder.path / "in.z");
    Bytes width = read_file(folder.path / "bits.txt");
    write_file(folder.path / "out", bytes_of("an earlier file"));
    fs::create_hard_link(folder.path / "out", folder.path / "other");
    fs::create_symlink("out", folder.path / "link");
    fs::permissions(folder.path / "out",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::vector<std::string> names{"bits.txt", "in", "in.z", "link", "other", "out"};
    // Cut off by a file-size limit, or by a signal once the run is under way:
    // the input comes through a FIFO that stalls after a sixth of it, so the
    // run waits with its output open.
    struct Failure {
        std::string script;
        int status;
    };
    std::vector<Failure> failures{{"ulimit -f 100; \"$T\" STEP SOURCE OUTPUT", 2}};
    for (auto [name, number] : {std::pair{"INT", SIGINT}, {"TERM", SIGTERM}, {"HUP", SIGHUP}})
        failures.push_back({"set -m; mkfifo feed; \"$T\" STEP feed OUTPUT >/dev/null & run=$!\n"
                            "exec 3>feed\nhead -c 500000 SOURCE >&3\nkill -" +
                                std::string(name) +
                                " $run\nwait $run\nstatus=$?\nexec 3>&-\nrm feed\nexit $status",
                            128 + number});
    for (const Failure& failure : failures) {
        for (const char* step : {"c", "d"}) {
            for (const char* output : {"new", "out", "link"}) {
                std::string script = failure.script;
                script.replace(script.find("STEP"), 4, step);
                script.replace(script.find("OUTPUT"), 6, output);
                script.replace(script.find("SOURCE"), 6, step[0] == 'c' ? "in" : "in.z");
                Shell outcome = shell(folder.path, script);
                std::string what = std::string(step) + " into " + output + ": " + script;
                EXPECT_EQ(outcome.status, failure.status) << what << outcome.output;
                EXPECT_EQ(read_file(folder.path / "out"), bytes_of("an earlier file")) << what;
                EXPECT_EQ(read_file(folder.path / "other"), bytes_of("an earlier file")) << what;
                EXPECT_EQ(names_in(folder.path), names) << what;
                EXPECT_EQ(read_file(folder.path / "bits.txt"), width) << what;
            }
        }
    }
    // The new output takes the name through the link, with the earlier
    // file's permission bits; the hard link keeps the earlier file.
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "link"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(folder.path / "link"));
    EXPECT_TRUE(read_file(folder.path / "out") == stream);
    EXPECT_EQ(read_file(folder.path / "other"), bytes_of("an earlier file"));
    EXPECT_EQ(fs::status(folder.path / "out").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(names_in(folder.path), names);
}

TEST(FilesAndSignals, PipesAndFifosWorkLikeFiles) {
    ScratchFolder folder;
    Bytes input = mixed_input(400000, 66); // larger than a pipe holds
    write_file(folder.path / "in", input);
    RunOutcome from_file = run_tarnwel(folder.path, {"c", "in", "file.z"});
    ASSERT_EQ(from_file.status, 0);
    Bytes stream = read_file(folder.path / "file.z");
    Bytes width = read_file(folder.path / "bits.txt");
    struct Case {
        const char* script;
        const char* input_name; // as the report shows it
    };
    const Case cases[] = {
        {"cat in | \"$T\" c /dev/stdin out.z", "/dev/stdin"},
        {"mkfifo feed; cat in >feed & \"$T\" c feed out.z; wait; rm feed", "feed"},
    };
    auto seconds_and_names = [](std::string text, const std::string& in, const std::string& out) {
        text.replace(text.find(in), in.size(), "IN");
        text.replace(text.find(out), out.size(), "OUT");
        return text.substr(0, text.find("TAKES = ")) + text.substr(text.find(" sn."));
    };
    for (const Case& c : cases) {
        fs::remove(folder.path / "bits.txt");
        Shell outcome = shell(folder.path, c.script);
        ASSERT_EQ(outcome.status, 0) << c.script << ": " << outcome.output;
        EXPECT_EQ(
            seconds_and_names(outcome.output, std::string("FROM ") + c.input_name, "TO out.z"),
            seconds_and_names(from_file.output, "FROM in", "TO file.z"))
            << c.script;
        EXPECT_TRUE(read_file(folder.path / "out.z") == stream) << c.script;
        EXPECT_EQ(read_file(folder.path / "bits.txt"), width) << c.script;
    }
    Shell expanded = shell(
        folder.path, "set -o pipefail; cat file.z | \"$T\" d /dev/stdin /dev/fd/3 3>&1 >/dev/null "
                     "| cat >back");
    ASSERT_EQ(expanded.status, 0) << expanded.output;
    EXPECT_TRUE(read_file(folder.path / "back") == input);
}

// An output that cannot seek gets its stream through a staging file in
// $TMPDIR, which leaves nothing behind; when the staging file cannot be
// made, the message names it and the output, not the pipe alone.
TEST(FilesAndSignals, CompressingToAPipeStagesInTmpdirAndNamesTheStagingFileWhenItFails) {
    ScratchFolder folder;
    Bytes input = mixed_input(100000, 67);
    write_file(folder.path / "in", input);
    fs::create_directory(folder.path / "stage");
    write_file(folder.path / "not-a-folder", bytes_of("x"));
    // The output is a pipe on descriptor 3; the messages go where they always do.
    auto through_pipe = [&](const std::string& tmpdir) {
        return shell(folder.path, "set -o pipefail; { TMPDIR='" + tmpdir +
                                      "' \"$T\" c in /dev/fd/3 3>&1 >&4 | cat >out.z; } 4>&1");
    };
    Shell staged = through_pipe((folder.path / "stage").string());
    ASSERT_EQ(staged.status, 0) << staged.output;
    EXPECT_TRUE(read_file(folder.path / "out.z") == search_and_compress_bytes(input).stream);
    EXPECT_TRUE(names_in(folder.path / "stage").empty());
    struct Case {
        std::string tmpdir;
        std::string reason;
    };
    const Case cases[] = {{(folder.path / "missing").string(), "No such file or directory"},
                          {(folder.path / "not-a-folder").string(), "Not a directory"}};
    for (const Case& c : cases) {
        Shell failed = through_pipe(c.tmpdir);
        EXPECT_EQ(failed.status, 2) << c.tmpdir;
        EXPECT_EQ(failed.output, "tarnwel: cannot write staging file " + c.tmpdir +
                                     "/tarnwel-XXXXXX for output /dev/fd/3: " + c.reason + "\n");
    }
    // The staging file made, and failing part way (a file-size limit stands
    // in for a full folder).
    write_file(folder.path / "in", random_bytes(300000, 68));
    Shell limited =
        shell(folder.path, "set -o pipefail; ulimit -f 100; { TMPDIR=\"$PWD/stage\" \"$T\" c in "
                           "/dev/fd/3 3>&1 >&4 | cat >out.z; } 4>&1");
    std::string staging = "tarnwel: cannot write staging file " + (folder.path / "stage").string();
    EXPECT_EQ(limited.status, 2) << limited.output;
    EXPECT_NE(limited.output.find(staging + "/tarnwel-"), std::string::npos) << limited.output;
    EXPECT_NE(limited.output.find(" for output /dev/fd/3: File too large\n"), std::string::npos)
        << limited.output;
    EXPECT_TRUE(names_in(folder.path / "stage").empty());
}

// An input that cannot be read a second time is not scanned for its width:
// a failed expansion from a pipe or a FIFO ends with its message alone.
TEST(FilesAndSignals, NoWidthHintForAnInputReadThroughAPipe) {
    ScratchFolder folder;
    write_file(folder.path / "in.z", compress_bytes(text_like(5000, 68), 14));
    const std::string missing = "tarnwel: cannot read width file bits.txt: No such file or "
                                "directory\n";
    const std::string fatal = "\nExpanding... \nFatal error during code expansion.\n";
    struct Case {
        const char* width_file; // null: none
        const char* script;
        int status;
        std::string output;
    };
    const char* pipe = "cat in.z | \"$T\" d /dev/stdin out";
    const char* fifo = "mkfifo feed; cat in.z >feed 2>/dev/null & \"$T\" d feed out; s=$?; "
                       "wait; rm feed; exit $s";
    const Case cases[] = {
        {nullptr, pipe, 2, missing},
        {nullptr, fifo, 2, missing},
        {"13", pipe, 253, fatal},
        {"13", fifo, 253, fatal},
    };
    for (const Case& c : cases) {
        fs::remove(folder.path / "bits.txt");
        if (c.width_file != nullptr) write_file(folder.path / "bits.txt", bytes_of(c.width_file));
        Shell outcome = shell(folder.path, c.script);
        EXPECT_EQ(outcome.status, c.status) << c.script;
        EXPECT_EQ(outcome.output, c.output) << c.script;
    }
}

} // namespace
} // namespace tarnwel::test
