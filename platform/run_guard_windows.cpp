#include "platform/run_guard.h"

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <string>

#include "platform/windows_support.h"

namespace tarnwel {

namespace {

// A console control handler runs on a thread of its own, not in a signal's
// context, so a lock keeps it from seeing a guard half set.
struct Guard {
    std::atomic<bool> armed{false};
    std::wstring path;
    FileIdentity identity;
};

Guard guards[max_guarded_files];
CRITICAL_SECTION guard_lock;
std::atomic<bool> lock_ready{false};

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
        remove_guarded_files();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
        return FALSE;
    }
}

int arm(const char* path, const FileIdentity& identity) {
    if (!identity.regular) return -1;
    lock();
    int taken = -1;
    for (int i = 0; i < max_guarded_files && taken < 0; ++i) {
        Guard& guard = guards[i];
        if (guard.armed.load()) continue;
        guard.path = wide(path);
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

int guard_file(const char* path, std::FILE* file) {
    std::optional<FileIdentity> identity = identity_of(handle_of(file));
    return identity ? arm(path, *identity) : -1;
}

int guard_path(const char* path) {
    std::optional<FileIdentity> identity = identity_of(path);
    return identity ? arm(path, *identity) : -1;
}

void release_guard(int guard) {
    if (guard >= 0) guards[guard].armed.store(false);
}

void remove_guarded_files() {
    lock();
    for (Guard& guard : guards) {
        if (!guard.armed.exchange(false)) continue;
        std::optional<FileIdentity> now = identity_of(guard.path);
        if (now && *now == guard.identity) DeleteFileW(guard.path.c_str());
    }
    unlock();
}

} // namespace tarnwel
