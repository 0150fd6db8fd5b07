#include "pages.h"

#include <windows.h>

namespace tarnwel {

namespace {

// Large pages need the "lock pages in memory" privilege, held by few
// accounts and off until enabled; without it, ordinary pages.
bool large_pages_allowed() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool allowed =
        LookupPrivilegeValueW(nullptr, L"SeLockMemoryPrivilege", &privileges.Privileges[0].Luid) &&
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
        GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return allowed;
}

} // namespace

void* map_pages(std::size_t bytes, PageSize size) {
    static const bool large = large_pages_allowed();
    const std::size_t large_page = GetLargePageMinimum();
    if (size == PageSize::large && large && large_page != 0 && bytes >= large_page) {
        std::size_t rounded = (bytes + large_page - 1) / large_page * large_page;
        void* memory = VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES,
                                    PAGE_READWRITE);
        if (memory != nullptr) return memory;
    }
    // Committed pages are zeroed on first touch, like fresh pages elsewhere.
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void unmap_pages(void* memory, std::size_t) {
    VirtualFree(memory, 0, MEM_RELEASE);
}

bool populate_pages(void*, std::size_t) {
    return false;
}

} // namespace tarnwel
