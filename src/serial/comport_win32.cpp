#include "serial/comport_win32.h"

namespace quillon {

namespace {

// How long a cancelled write or read may take to report that it has ended.
const DWORD kCancelLandsMs = 1000;

void CloseAndClear(HANDLE* handle) {
    if (*handle != nullptr) ::CloseHandle(*handle);
    *handle = nullptr;
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

Win32PortDevice::Win32PortDevice()
    : lock(), writeDoneEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

Win32PortDevice::~Win32PortDevice() {
    // At unload: release what is still held without waiting on a thread.
    CloseAndClear(&portHandle);
    HANDLE* handles[] = {&monitorThread, &overlap.hEvent, &readOverlap.hEvent, &writeOverlap.hEvent,
                         &writeEvent,    &shutdownEvent,  &threadClosedEvent,  &writeDoneEvent};
    for (HANDLE* h : handles) CloseAndClear(h);
    if (lockReady && !threadAlive) DeleteCriticalSection(&lock);
}

void Win32PortDevice::BeginThread() {
    threadAlive = TRUE;
    Lock();
    if (portHandle != nullptr) PurgeComm(portHandle, kPurgeAll);
    Unlock();
}

IMonitorIo::WaitStart Win32PortDevice::StartCommWait(uint32_t* error) {
    Lock();
    const HANDLE handle = closing ? nullptr : portHandle;
    BOOL done = FALSE;
    if (handle != nullptr) {
        done = WaitCommEvent(handle, &waitEventMask, &overlap);
        *error = GetLastError();
    }
    Unlock();
    if (handle == nullptr) return WaitStart::kNoPort;
    return done ? WaitStart::kCompleted : WaitStart::kFailed;
}

bool Win32PortDevice::ClearErrors(uint32_t* queued) {
    DWORD errors = 0;
    COMSTAT comstat = {};
    Lock();
    const bool ok = portHandle != nullptr && ClearCommError(portHandle, &errors, &comstat);
    Unlock();
    *queued = comstat.cbInQue;
    return ok;
}

IMonitorIo::Event Win32PortDevice::WaitForEvent() {
    const DWORD which = WaitForMultipleObjects(3, eventArray, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0) return Event::kShutdown;
    if (which == WAIT_OBJECT_0 + 2) return Event::kWrite;
    if (which != WAIT_OBJECT_0 + 1) return Event::kOther;
    ResetEvent(overlap.hEvent);
    return Event::kCommEvent;
}

bool Win32PortDevice::ReceivedCharacter() {
    DWORD mask = 0;
    if (portHandle != nullptr) GetCommMask(portHandle, &mask);
    return (mask & EV_RXCHAR) != 0;
}

IMonitorIo::Transfer Win32PortDevice::ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) {
    Lock();
    const HANDLE handle = closing ? nullptr : portHandle;
    DWORD count = 0;
    const BOOL done = handle != nullptr && ReadFile(handle, &readByte, 1, &count, &readOverlap);
    *error = done ? ERROR_SUCCESS : GetLastError();
    DWORD errors = 0;
    COMSTAT comstat;
    if (handle != nullptr && !done && *error == ERROR_IO_PENDING) {
        ClearCommError(handle, &errors, &comstat);
    }
    Unlock();
    if (handle == nullptr) return Transfer::kNoPort;
    // Waited for without the lock, like a write: the close cancels it.
    const Transfer result = Finish(done, handle, &readOverlap, &count, error);
    *byte = readByte;  // a pending read's byte lands only as it completes
    *got = count;
    return result;
}

bool Win32PortDevice::PurgeForWrite() {
    ResetEvent(writeEvent);
    Lock();
    writeHandle = closing ? nullptr : portHandle;
    if (writeHandle != nullptr) {
        writeOverlap.Offset = writeOverlap.OffsetHigh = 0;
        PurgeComm(writeHandle, kPurgeAll);
    }
    Unlock();
    return writeHandle != nullptr;
}

IMonitorIo::Transfer Win32PortDevice::Write(const uint8_t* data, int length, uint32_t* written,
                                            uint32_t* error) {
    // Issued outside the lock: a driver may take its time inside the call itself, and a close
    // must not queue behind it. The handle stays open until this thread has ended.
    DWORD count = 0;
    const BOOL done =
        WriteFile(writeHandle, data, static_cast<DWORD>(length), &count, &writeOverlap);
    *error = done ? ERROR_SUCCESS : GetLastError();
    // A line that takes no bytes keeps the write pending for its whole time-out (10 s a byte):
    // it is waited for without the lock, and the close cancels it.
    const Transfer result = Finish(done, writeHandle, &writeOverlap, &count, error);
    *written = count;
    return result;
}

IMonitorIo::Transfer Win32PortDevice::Finish(BOOL done, HANDLE handle, OVERLAPPED* io,
                                             DWORD* transferred, uint32_t* error) {
    if (done) return Transfer::kDone;
    *transferred = 0;
    if (*error != ERROR_IO_PENDING) return Transfer::kFailed;
    const HANDLE waits[2] = {io->hEvent, shutdownEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // The port is closing. Its close cancelled what was pending then; a transfer issued just
        // after that is cancelled here (the handle stays open until this thread has ended). Let
        // the cancellation land before the record is used again; one that never lands leaves the
        // record and its event to the transfer.
        CancelIoEx(handle, io);
        if (WaitForSingleObject(io->hEvent, kCancelLandsMs) != WAIT_OBJECT_0) {
            transferStuck = true;
            *error = ERROR_OPERATION_ABORTED;
            return Transfer::kStuck;
        }
    }
    // Completed (or cancelled): the record holds the outcome, the handle is not waited on.
    const BOOL completed = GetOverlappedResult(handle, io, transferred, FALSE);
    *error = completed ? ERROR_SUCCESS : GetLastError();
    if (!completed) *transferred = 0;
    return completed ? Transfer::kDone : Transfer::kPendingFailed;
}

void Win32PortDevice::WriteStepDone() {
    ResetEvent(writeEvent);
    InterlockedIncrement(&writesCompleted);
    if (writeDoneEvent != nullptr) SetEvent(writeDoneEvent);
}

void Win32PortDevice::EndPendingWait() {
    // Clearing the mask ends the wait (cancelling it does not, under wine); the handle is about
    // to be closed or reopened, which sets the mask again. A closed handle has ended it already.
    Lock();
    if (portHandle != nullptr) SetCommMask(portHandle, 0);
    Unlock();
    // Only the wait uses `overlap`, so its status tells when the wait has ended (a cancelled
    // wait does not always signal the event).
    const ULONGLONG deadline = GetTickCount64() + 1000;
    while (!HasOverlappedIoCompleted(&overlap) && GetTickCount64() < deadline) {
        if (overlap.hEvent == nullptr) {
            Sleep(1);
        } else {
            WaitForSingleObject(overlap.hEvent, 1);
        }
    }
}

std::string Win32PortDevice::SystemText(uint32_t error) {
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return text;
}

bool Win32PortDevice::AdoptKeptHandle() {
    if (keptHandle == nullptr) return false;
    portHandle = keptHandle;
    return true;
}

unsigned Win32PortDevice::ReplaceEvents() {
    HANDLE* events[] = {&overlap.hEvent, &writeEvent, &shutdownEvent, &threadClosedEvent};
    unsigned existed = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if (*events[i] != nullptr) existed |= 1u << i;
        CloseAndClear(events[i]);
    }
    if (transferStuck) {
        // A transfer that ignored its cancellation may still signal these: leave them to it.
        readOverlap.hEvent = writeOverlap.hEvent = nullptr;
        transferStuck = false;
    }
    CloseAndClear(&readOverlap.hEvent);
    CloseAndClear(&writeOverlap.hEvent);
    for (HANDLE* h : events) *h = NewEvent();
    readOverlap.hEvent = NewEvent();
    writeOverlap.hEvent = NewEvent();
    eventArray[0] = shutdownEvent;
    eventArray[1] = overlap.hEvent;
    eventArray[2] = writeEvent;
    if (!lockReady) InitializeCriticalSection(&lock);
    lockReady = true;
    closing = false;
    return existed;
}

void Win32PortDevice::CloseHandle() {
    if (keptHandle == portHandle) keptHandle = nullptr;
    CloseAndClear(&portHandle);
}

bool Win32PortDevice::Open(const std::string& device) {
    const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    lastError = GetLastError();
    keptHandle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    if (handle != INVALID_HANDLE_VALUE) portHandle = handle;
    return handle != INVALID_HANDLE_VALUE;
}

bool Win32PortDevice::Configure(ConfigStep step, uint32_t value, const std::string& line) {
    BOOL ok = FALSE;
    switch (step) {
        case ConfigStep::kTimeouts:
            timeouts = {value, value, value, value, value};
            ok = SetCommTimeouts(portHandle, &timeouts);
            break;
        case ConfigStep::kMask:
            ok = SetCommMask(portHandle, value);
            break;
        case ConfigStep::kGetState:
            ok = GetCommState(portHandle, &dcb);
            break;
        case ConfigStep::kBuildState:
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
            ok = BuildCommDCBA(line.c_str(), &dcb);
            break;
        case ConfigStep::kSetState:
            ok = SetCommState(portHandle, &dcb);
            break;
    }
    if (!ok) lastError = GetLastError();
    return ok != FALSE;
}

bool Win32PortDevice::ThreadRunning() {
    if (monitorThread == nullptr) return false;
    if (WaitForSingleObject(monitorThread, 0) != WAIT_OBJECT_0) return true;
    CloseAndClear(&monitorThread);
    return false;
}

bool Win32PortDevice::StartThread(uint32_t (*body)(void*), void* context) {
    threadBody = body;
    threadContext = context;
    threadAlive = TRUE;
    monitorThread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (monitorThread == nullptr) threadAlive = FALSE;
    return monitorThread != nullptr;
}

DWORD WINAPI Win32PortDevice::ThreadMain(LPVOID param) {
    Win32PortDevice* device = static_cast<Win32PortDevice*>(param);
    try {
        return device->threadBody(device->threadContext);
    } catch (...) {
        // Out of memory in a log line, say. The thread ends as after a fatal wait error, leaving
        // no wait outstanding; the dialog's own time-out ends the operation.
        device->EndPendingWait();
        device->EndThread();
        return kFatalWaitExitCode;
    }
}

void Win32PortDevice::StopTransfers() {
    if (!lockReady) return;
    Lock();
    closing = true;
    if (portHandle != nullptr) {
        // Clearing the mask ends the comm-event wait (cancelling it does not, under wine);
        // cancelling ends a write the line does not take, or a read, wherever it waits.
        SetCommMask(portHandle, 0);
        CancelIoEx(portHandle, nullptr);
    }
    Unlock();
}

bool Win32PortDevice::WaitThreadEnd(uint64_t deadline) {
    if (monitorThread == nullptr) return true;
    if (!WaitServingSentMessages(monitorThread, deadline)) return false;
    CloseAndClear(&monitorThread);
    threadAlive = FALSE;
    return true;
}

void Win32PortDevice::ReleaseEvents() {
    HANDLE* events[] = {&overlap.hEvent,      &writeEvent,        &readOverlap.hEvent,
                        &writeOverlap.hEvent, &threadClosedEvent, &shutdownEvent};
    for (HANDLE* h : events) CloseAndClear(h);
    eventArray[0] = eventArray[1] = eventArray[2] = nullptr;
    threadAlive = FALSE;
    if (lockReady) DeleteCriticalSection(&lock);
    lockReady = false;
}

void Win32PortDevice::AwaitWriteStep(uint32_t milliseconds) {
    const DWORD events = writeDoneEvent != nullptr ? 1 : 0;
    MsgWaitForMultipleObjects(events, &writeDoneEvent, FALSE, events != 0 ? milliseconds : 1,
                              QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace quillon
