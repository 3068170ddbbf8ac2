// Thread and handle counts of the current process, for the tests that show nothing leaks.
#pragma once

#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

#include <cstdint>

namespace quillon::testing_support {

inline int ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// Ending threads take a moment to go: the count once it has held for 0.5 s, or after 5 s.
inline int SettledThreadCount() {
    int count = ThreadCount(), now = count;
    for (ULONGLONG end = GetTickCount64() + 5000, stable = GetTickCount64();
         GetTickCount64() < end && GetTickCount64() - stable < 500; count = now) {
        Sleep(50);
        if ((now = ThreadCount()) != count) stable = GetTickCount64();
    }
    return count;
}

// Asks about every handle value in turn: wine's GetProcessHandleCount answers 0.
inline int HandleCount() {
    int count = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
    return count;
}

}  // namespace quillon::testing_support
