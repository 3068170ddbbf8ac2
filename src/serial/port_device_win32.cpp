// The Win32 port device: the dialog's calls (opening and configuring, closing, the monitor
// thread's life) and the monitor thread's (the comm-event wait, purges, reads and writes).
#include "serial/port_device_win32.h"

#include <algorithm>
#include <cstring>

#include "foundation/wait_win32.h"
#include "serial/port_rules.h"

namespace quillon {

namespace {

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

void CloseAndClear(HANDLE* handle) {
    if (*handle != nullptr) ::CloseHandle(*handle);
    *handle = nullptr;
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

IPortDevice::ConfigStep Configure(HANDLE port, const std::string& line, uint32_t commEvents,
                                  uint32_t timeoutMs) {
    using Step = IPortDevice::ConfigStep;
    COMMTIMEOUTS timeouts = {timeoutMs, timeoutMs, timeoutMs, timeoutMs, timeoutMs};
    if (!SetCommTimeouts(port, &timeouts)) return Step::kTimeouts;
    if (!SetCommMask(port, commEvents)) return Step::kMask;
    DCB dcb = {};
    if (!GetCommState(port, &dcb)) return Step::kGetState;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!BuildCommDCBA(line.c_str(), &dcb)) return Step::kBuildState;
    if (!SetCommState(port, &dcb)) return Step::kSetState;
    return Step::kNone;
}

}  // namespace

Win32PortDevice::~Win32PortDevice() {
    // At unload, after ComPort has freed what no thread can still use: the rest is closed
    // without waiting on a thread.
    HANDLE* handles[] = {&portHandle, &monitorThread, &writeEvent, &shutdownEvent, &writeDoneEvent};
    for (HANDLE* h : handles) CloseAndClear(h);
}

IPortDevice::Opened Win32PortDevice::Open(const std::string& device, const std::string& line,
                                          uint32_t commEvents, uint32_t timeoutMs) {
    // All is made before the lock is taken: nothing is allocated while it is held.
    transfers = new TransferBlock();
    HANDLE* made[] = {&shutdownEvent, &writeEvent, &transfers->wait.hEvent, &transfers->read.hEvent,
                      &transfers->write.hEvent};
    for (HANDLE* h : made) *h = NewEvent();
    events[0] = shutdownEvent;
    events[1] = transfers->wait.hEvent;
    events[2] = writeEvent;
    InitializeCriticalSection(&lock);
    lockReady = true;
    closing = false;

    EnterCriticalSection(&lock);
    const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    Opened result = {handle != INVALID_HANDLE_VALUE, ConfigStep::kNone, GetLastError()};
    if (result.opened) {
        portHandle = handle;
        result.failed = Configure(handle, line, commEvents, timeoutMs);
        if (result.failed != ConfigStep::kNone) result.error = GetLastError();
    }
    LeaveCriticalSection(&lock);
    return result;
}

void Win32PortDevice::Close(Release what) {
    if (lockReady) EnterCriticalSection(&lock);
    CloseAndClear(&portHandle);
    if (lockReady) LeaveCriticalSection(&lock);
    if (what == Release::kHandle) return;
    CloseAndClear(&shutdownEvent);
    CloseAndClear(&writeEvent);
    if (transfers != nullptr && what == Release::kAll) {
        HANDLE* records[] = {&transfers->wait.hEvent, &transfers->read.hEvent,
                             &transfers->write.hEvent};
        for (HANDLE* h : records) CloseAndClear(h);
        delete transfers;
    }
    transfers = nullptr;
    std::fill(events, events + 3, nullptr);
    if (lockReady) DeleteCriticalSection(&lock);
    lockReady = false;
}

bool Win32PortDevice::StartThread(uint32_t (*body)(void*), void* context) {
    // The thread holds the library while it runs and lets it go as it exits: a host that frees
    // the library meanwhile cannot unmap the code under it.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&ThreadMain), &module)) {
        return false;
    }
    threadModule = module;
    threadBody = body;
    threadContext = context;
    monitorThread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (monitorThread == nullptr) FreeLibrary(module);
    return monitorThread != nullptr;
}

DWORD WINAPI Win32PortDevice::ThreadMain(LPVOID param) {
    Win32PortDevice* device = static_cast<Win32PortDevice*>(param);
    const HMODULE module = device->threadModule;
    const DWORD code = device->threadBody(device->threadContext);
    // The last step: this may unload the library, the device with it.
    FreeLibraryAndExitThread(module, code);
}

void Win32PortDevice::Stop() {
    if (!lockReady) return;
    EnterCriticalSection(&lock);
    closing = true;
    if (portHandle != nullptr) {
        // Clearing the mask ends the comm-event wait (cancelling it does not, under wine);
        // cancelling ends a write the line does not take, or a read, wherever it waits.
        SetCommMask(portHandle, 0);
        CancelIoEx(portHandle, nullptr);
    }
    LeaveCriticalSection(&lock);
    SetEvent(shutdownEvent);
}

bool Win32PortDevice::AwaitThreadEnd(uint64_t deadline) {
    if (monitorThread == nullptr) return true;
    if (!WaitServingSentMessages(monitorThread, deadline)) return false;
    CloseAndClear(&monitorThread);
    return true;
}

void Win32PortDevice::AwaitWriteStep(uint64_t deadline) {
    if (!WaitServingSentMessages(writeDoneEvent, deadline) && writeDoneEvent == nullptr) {
        Sleep(1);  // the event could not be made: no busy loop above
    }
}

std::string Win32PortDevice::SystemText(uint32_t error) {
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return text;
}

// ---- The monitor thread's calls. The lock lives until the thread has ended. ----

bool Win32PortDevice::Purge() {
    EnterCriticalSection(&lock);
    const HANDLE handle = closing ? nullptr : portHandle;
    if (handle != nullptr) PurgeComm(handle, kPurgeAll);
    LeaveCriticalSection(&lock);
    return handle != nullptr;
}

IPortDevice::WaitStart Win32PortDevice::StartWait(uint32_t* error) {
    EnterCriticalSection(&lock);
    const HANDLE handle = closing ? nullptr : portHandle;
    BOOL done = FALSE;
    if (handle != nullptr) {
        done = WaitCommEvent(handle, &transfers->waitMask, &transfers->wait);
        *error = GetLastError();
    }
    LeaveCriticalSection(&lock);
    if (handle == nullptr) return WaitStart::kClosed;
    return done ? WaitStart::kCompleted : WaitStart::kFailed;
}

bool Win32PortDevice::LineStatus(uint32_t* queued) {
    DWORD errors = 0;
    COMSTAT comstat = {};
    EnterCriticalSection(&lock);
    const bool ok = portHandle != nullptr && ClearCommError(portHandle, &errors, &comstat);
    LeaveCriticalSection(&lock);
    *queued = comstat.cbInQue;
    return ok;
}

IPortDevice::Event Win32PortDevice::Next(bool came, uint32_t settleMs) {
    if (came) SetEvent(transfers->wait.hEvent);
    const DWORD which = WaitForMultipleObjects(3, events, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0) return Event::kShutdown;
    if (which == WAIT_OBJECT_0 + 2) {
        ResetEvent(writeEvent);
        return Event::kWrite;
    }
    if (which != WAIT_OBJECT_0 + 1) return Event::kFailed;
    ResetEvent(transfers->wait.hEvent);
    DWORD mask = 0;
    if (portHandle != nullptr) GetCommMask(portHandle, &mask);
    if ((mask & EV_RXCHAR) == 0) return Event::kCommEvent;
    Sleep(settleMs);
    return Event::kReceived;
}

IPortDevice::Transfer Win32PortDevice::ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) {
    TransferBlock& t = *transfers;
    EnterCriticalSection(&lock);
    const HANDLE handle = closing ? nullptr : portHandle;
    DWORD count = 0;
    const BOOL done = handle != nullptr && ReadFile(handle, &t.readByte, 1, &count, &t.read);
    *error = done ? ERROR_SUCCESS : GetLastError();
    if (handle != nullptr && !done && *error == ERROR_IO_PENDING) {
        DWORD errors = 0;
        COMSTAT comstat;
        ClearCommError(handle, &errors, &comstat);
    }
    LeaveCriticalSection(&lock);
    if (handle == nullptr) return Transfer::kClosed;
    // Waited for without the lock, like a write: Stop cancels it.
    const Transfer result = Finish(done, handle, &t.read, &count, error);
    *byte = t.readByte;  // a pending read's byte lands only as it completes
    *got = count;
    return result;
}

IPortDevice::Transfer Win32PortDevice::Write(const uint8_t* data, int length, uint32_t* written,
                                             uint32_t* error) {
    EnterCriticalSection(&lock);
    const HANDLE handle = portHandle;
    LeaveCriticalSection(&lock);
    *written = 0;
    if (handle == nullptr) return Transfer::kClosed;
    // Issued outside the lock: a driver may take its time inside the call itself, and a close
    // must not queue behind it. The handle stays open until this thread has ended. Written from
    // the transfer's own copy: a write left pending may still read it after the link's work
    // area holds the next frame.
    TransferBlock& t = *transfers;
    const size_t size = std::min(static_cast<size_t>(length), sizeof t.written);
    std::memcpy(t.written, data, size);
    t.write.Offset = t.write.OffsetHigh = 0;
    DWORD count = 0;
    const BOOL done = WriteFile(handle, t.written, static_cast<DWORD>(size), &count, &t.write);
    *error = done ? ERROR_SUCCESS : GetLastError();
    // A line that takes no bytes keeps the write pending for its whole time-out (10 s a byte).
    const Transfer result = Finish(done, handle, &t.write, &count, error);
    *written = count;
    return result;
}

IPortDevice::Transfer Win32PortDevice::Finish(BOOL done, HANDLE handle, OVERLAPPED* record,
                                              DWORD* transferred, uint32_t* error) {
    if (done) return Transfer::kDone;
    *transferred = 0;
    if (*error != ERROR_IO_PENDING) return Transfer::kFailed;
    // One that has completed meanwhile is not waited for: under wine every one-byte read goes
    // pending, and a wait that returns at once still costs a round trip to the server per byte.
    const HANDLE waits[2] = {record->hEvent, shutdownEvent};
    if (!HasOverlappedIoCompleted(record) &&
        WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // Stopped. Stop cancelled what was pending then; a transfer issued just after that is
        // cancelled here (the handle stays open until this thread has ended). The cancellation
        // must land before the record is used again.
        CancelIoEx(handle, record);
        if (WaitForSingleObject(record->hEvent, kCancelLandsMs) != WAIT_OBJECT_0) {
            *error = ERROR_OPERATION_ABORTED;
            return Transfer::kStuck;
        }
    }
    // Completed (or cancelled): the record holds the outcome, the handle is not waited on.
    const BOOL completed = GetOverlappedResult(handle, record, transferred, FALSE);
    *error = completed ? ERROR_SUCCESS : GetLastError();
    if (!completed) *transferred = 0;
    return completed ? Transfer::kDone : Transfer::kPendingFailed;
}

bool Win32PortDevice::EndWait() {
    // Clearing the mask ends the wait (cancelling it does not, under wine); the handle is about
    // to be closed or reopened, which sets the mask again. A closed handle has ended it already.
    EnterCriticalSection(&lock);
    if (portHandle != nullptr) SetCommMask(portHandle, 0);
    LeaveCriticalSection(&lock);
    // Only the wait uses its record, so its status tells when the wait has ended (a cancelled
    // wait does not always signal the event).
    OVERLAPPED& wait = transfers->wait;
    const ULONGLONG deadline = GetTickCount64() + kCancelLandsMs;
    while (!HasOverlappedIoCompleted(&wait) && GetTickCount64() < deadline) {
        WaitForSingleObject(wait.hEvent, 1);
    }
    return HasOverlappedIoCompleted(&wait);
}

}  // namespace quillon
