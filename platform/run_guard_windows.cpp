#include "run_guard.h"

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <string>

#include "windows_support.h"

namespace tarnwel {

namespace {

// A console control handler runs on a thread of its own, not in a signal's
// context, so a lock keeps it from seeing a guard half set.
struct Guard {
    std::atomic<bool> armed{false};
    std::wstring path;                     // a new file beside the old, removed
    HANDLE emptied = INVALID_HANDLE_VALUE; // or the old file written in place, emptied
    FileIdentity identity;
};

Guard guards[max_guarded_files];
CRITICAL_SECTION guard_lock;
std::atomic<bool> lock_ready{false};
// Set once the run's files are in place: an interruption no longer ends it.
std::atomic<bool> run_done{false};

void lock() {
    if (lock_ready.load()) EnterCriticalSection(&guard_lock);
}

void unlock() {
    if (lock_ready.load()) LeaveCriticalSection(&guard_lock);
}

BOOL WINAPI end_on_control(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        lock(); // held to the end: nothing may guard a file any more
        if (run_done.load()) {
            unlock();
            return TRUE;
        }
        remove_guarded_files();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
        return FALSE;
    }
}

int arm(const std::wstring& path, HANDLE emptied, const FileIdentity& identity) {
    if (!identity.regular) return -1;
    lock();
    int taken = -1;
    for (int i = 0; i < max_guarded_files && taken < 0; ++i) {
        Guard& guard = guards[i];
        if (guard.armed.load()) continue;
        guard.path = path;
        guard.emptied = emptied;
        guard.identity = identity;
        guard.armed.store(true);
        taken = i;
    }
    unlock();
    return taken;
}

} // namespace

bool open_standard_descriptors() {
    std::FILE* streams[] = {stdin, stdout, stderr};
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        std::FILE* stream = streams[descriptor];
        if (_get_osfhandle(descriptor) < 0 &&
            _wfreopen(L"NUL", descriptor == 0 ? L"rb" : L"wb", stream) == nullptr)
            return false;
        _setmode(_fileno(stream), _O_BINARY);
    }
    return true;
}

void install_interrupt_handlers() {
    InitializeCriticalSection(&guard_lock);
    lock_ready.store(true);
    SetConsoleCtrlHandler(end_on_control, TRUE);
}

SignalsHeld::SignalsHeld() {
    lock();
}

SignalsHeld::~SignalsHeld() {
    unlock();
}

void stop_ending_on_signals() {
    run_done.store(true);
}

int guard_new_version(const Replacement& replacement, std::FILE* file) {
    HANDLE handle = handle_of(file);
    std::optional<FileIdentity> identity = identity_of(handle);
    if (!identity) return -1;
    if (replacement.in_place) return arm(std::wstring(), handle, *identity);
    return arm(system_path(replacement.temporary.c_str()), INVALID_HANDLE_VALUE, *identity);
}

void release_guard(int guard) {
    if (guard >= 0) guards[guard].armed.store(false);
}

void remove_guarded_files() {
    lock();
    for (Guard& guard : guards) {
        if (!guard.armed.exchange(false)) continue;
        if (guard.emptied != INVALID_HANDLE_VALUE) {
            LARGE_INTEGER start{};
            if (SetFilePointerEx(guard.emptied, start, nullptr, FILE_BEGIN))
                SetEndOfFile(guard.emptied);
            continue;
        }
        std::optional<FileIdentity> now = identity_of(guard.path);
        if (now && *now == guard.identity) DeleteFileW(guard.path.c_str());
    }
    unlock();
}

} // namespace tarnwel
