#include "platform/run_guard.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwel {

namespace {

// A guard is armed last and disarmed first, so a handler never sees a
// path without its identity. Atomics rather than volatile: the handler may
// run on a helper thread.
struct Guard {
    std::atomic<bool> armed{false};
    const char* path = nullptr;
    // The path with its links resolved, when it fits: an output named
    // through a link is the file the link leads to, and that is removed.
    char resolved[PATH_MAX];
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

extern "C" void end_on_signal(int signal) {
    int saved = errno;
    remove_guarded_files();
    // The signal is held while its handler runs: with the default action
    // back in place, it ends the process as soon as the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
    errno = saved;
}

int arm(const char* path, const struct stat& info) {
    if (!S_ISREG(info.st_mode)) return -1;
    for (int i = 0; i < max_guarded_files; ++i) {
        Guard& guard = guards[i];
        if (guard.armed.load()) continue;
        guard.path = realpath(path, guard.resolved) != nullptr ? guard.resolved : path;
        guard.dev = info.st_dev;
        guard.ino = info.st_ino;
        guard.armed.store(true);
        return i;
    }
    return -1;
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
    for (int signal : ending_signals)
        sigaction(signal, &action, nullptr);
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

int guard_file(const char* path, std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0) return -1;
    return arm(path, info);
}

int guard_path(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0) return -1;
    return arm(path, info);
}

void release_guard(int guard) {
    if (guard >= 0) guards[guard].armed.store(false);
}

void remove_guarded_files() {
    for (Guard& guard : guards) {
        if (!guard.armed.exchange(false)) continue;
        struct stat info {};
        if (stat(guard.path, &info) == 0 && info.st_dev == guard.dev && info.st_ino == guard.ino)
            unlink(guard.path);
    }
}

} // namespace tarnwel
