#include "run_guard.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwel {

namespace {

// A guard is armed last and disarmed first, so a handler never sees a
// name without its identity. Atomics rather than volatile: the handler may
// run on a helper thread.
struct Guard {
    std::atomic<bool> armed{false};
    int folder = -1;         // where name is, for a new file beside the old
    char name[NAME_MAX + 1]; // the new file's name there
    int emptied = -1;        // or the descriptor of the old file written in place
    dev_t dev = 0;
    ino_t ino = 0;
};

Guard guards[max_guarded_files];

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t ending_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : ending_signals)
        sigaddset(&set, signal);
    return set;
}

// Which of ending_signals this run caught: those not ignored when it started.
std::atomic<bool> catching[std::size(ending_signals)];

void set_action(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void end_on_signal(int signal) {
    int saved = errno;
    remove_guarded_files();
    // The run ends with the status of the first signal: the others, pending
    // or yet to come, are dropped. This one is held while its handler runs:
    // with the default action back in place, it ends the process as soon as
    // the handler returns.
    for (std::size_t i = 0; i < std::size(ending_signals); ++i)
        if (ending_signals[i] != signal && catching[i].load())
            set_action(ending_signals[i], SIG_IGN);
    set_action(signal, SIG_DFL);
    raise(signal);
    errno = saved;
}

bool same_file(const struct stat& info, const Guard& guard) {
    return info.st_dev == guard.dev && info.st_ino == guard.ino;
}

} // namespace

bool open_standard_descriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lower ones are open, so this one is the lowest free.
        if (open("/dev/null", O_RDWR) != descriptor) return false;
    }
    return true;
}

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = end_on_signal;
    action.sa_mask = ending_set(); // one handler at a time
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        // A signal ignored by whoever started the run (nohup, a background
        // job of a script) stays ignored.
        struct sigaction inherited {};
        if (sigaction(ending_signals[i], nullptr, &inherited) != 0 ||
            inherited.sa_handler == SIG_IGN)
            continue;
        catching[i].store(true);
        sigaction(ending_signals[i], &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

SignalsHeld::SignalsHeld() {
    sigset_t set = ending_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalsHeld::~SignalsHeld() {
    sigset_t set = ending_set();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void stop_ending_on_signals() {
    // Ignoring a signal drops it where it is pending, too.
    for (std::size_t i = 0; i < std::size(ending_signals); ++i)
        if (catching[i].load()) set_action(ending_signals[i], SIG_IGN);
}

int guard_new_version(const Replacement& replacement, std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    bool beside = !replacement.in_place;
    if (beside && replacement.temporary.size() >= sizeof(Guard::name)) return -1;
    for (Guard& guard : guards) {
        if (guard.armed.load()) continue;
        guard.folder = beside ? replacement.folder : -1;
        if (beside) std::strcpy(guard.name, replacement.temporary.c_str());
        guard.emptied = beside ? -1 : fileno(file);
        guard.dev = info.st_dev;
        guard.ino = info.st_ino;
        guard.armed.store(true);
        return static_cast<int>(&guard - guards);
    }
    return -1;
}

void release_guard(int guard) {
    if (guard >= 0) guards[guard].armed.store(false);
}

void remove_guarded_files() {
    for (Guard& guard : guards) {
        if (!guard.armed.exchange(false)) continue;
        struct stat info {};
        if (guard.emptied >= 0) {
            if (fstat(guard.emptied, &info) == 0 && same_file(info, guard)) {
                [[maybe_unused]] int ignored = ftruncate(guard.emptied, 0);
            }
        } else if (fstatat(guard.folder, guard.name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                   same_file(info, guard)) {
            unlinkat(guard.folder, guard.name, 0);
        }
    }
}

} // namespace tarnwel
